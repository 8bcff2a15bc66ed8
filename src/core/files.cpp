#include "core/files.h"

#include "core/handles.h"
#include "core/thread_buffer.h"

#include <atomic>
#include <cstring>
#include <limits>

namespace {

constexpr DWORD kCopyBlockSize = 1u << 20;

bool Exists(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(DWORD attributes)
{
    return Exists(attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A junction or a directory symbolic link.
bool IsDirectoryLink(DWORD attributes)
{
    return IsDirectory(attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDotEntry(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool RunningUnderWine()
{
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
}

// Removes the link itself, never what it points to. Wine resolves a Unix
// symbolic link on every call, so there RemoveDirectoryA would remove the
// (empty) directory it points to and the link would stay: leave it alone.
bool RemoveDirectoryLink(const std::string& path)
{
    if (RunningUnderWine()) return false;
    return RemoveDirectoryA(path.c_str()) != 0;
}

// Removes a file link itself where the system can. Wine resolves links in
// every call, so there one that shows as a reparse point is left alone too.
bool RemoveFileLink(const std::string& path)
{
    if (RunningUnderWine()) return false;
    return DeleteFileA(path.c_str()) != 0;
}

std::string LowerCase(std::string text)
{
    if (!text.empty()) CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// Where the system takes a path once links are followed, in lower case; empty
// when it cannot be opened. Under Wine a Unix link to a file looks like a
// plain file and every call acts on what it points to, so only this tells
// the two apart.
std::string ResolvedPath(const std::string& path)
{
    UniqueHandle h(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return std::string();
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleA(h.Get(), &buffer[0], static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::string();
        if (n < buffer.size()) {
            buffer.resize(n);
            // A drive's root comes with its separator; entries are joined with one.
            while (!buffer.empty() && buffer.back() == '\\') buffer.pop_back();
            return LowerCase(buffer);
        }
        buffer.assign(n + 1, '\0');
    }
}

// True when name in the folder resolved to resolvedParent is what the system
// opens under that name, not a link to something elsewhere (or to another
// entry of the same folder).
bool IsOwnEntry(const std::string& resolvedPath, const std::string& name, const std::string& resolvedParent)
{
    return !resolvedPath.empty() && !resolvedParent.empty() &&
           resolvedPath == resolvedParent + "\\" + LowerCase(name);
}

// The folder above a path and the last name in it, after the system's own
// spelling rules; false for a drive's root or a path it cannot take.
bool SplitFullPath(const std::string& path, std::string& parent, std::string& name)
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer)) return false;
    std::string full(buffer, n);
    while (!full.empty() && (full.back() == '\\' || full.back() == '/')) full.pop_back();
    const size_t sep = full.find_last_of("\\/");
    if (sep == std::string::npos || sep + 1 == full.size()) return false;
    parent = full.substr(0, sep);
    name = full.substr(sep + 1);
    // "C:" alone means the drive's current directory.
    if (parent.empty() || parent.back() == ':') parent += '\\';
    return true;
}

// The resolved path of a directory the caller names, empty when the name is a
// link that leads elsewhere (or cannot be judged).
std::string ResolvedOwnDirectory(const std::string& directory)
{
    std::string parent, name;
    if (!SplitFullPath(directory, parent, name)) return ResolvedPath(directory);  // a drive's root
    std::string resolved = ResolvedPath(directory);
    return IsOwnEntry(resolved, name, ResolvedPath(parent)) ? resolved : std::string();
}

// Deletes the entry name (with the found attributes) of the folder resolved
// to resolvedParent, read-only or not, unless it is a link: never what a link
// points to.
FileDeletion DeleteFileEntry(const std::string& path, const std::string& name, DWORD attributes,
                             const std::string& resolvedParent)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveFileLink(path) ? FileDeletion::Deleted : FileDeletion::LeftLink;
    const std::string resolved = ResolvedPath(path);
    if (resolved.empty()) {
        return Exists(GetFileAttributesA(path.c_str())) ? FileDeletion::Failed : FileDeletion::NoFile;
    }
    if (!IsOwnEntry(resolved, name, resolvedParent)) return FileDeletion::LeftLink;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) ? FileDeletion::Deleted : FileDeletion::Failed;
}

void CreateDirectoriesAbove(const std::string& path, bool includeDrive)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '\\' && path[i] != '/') continue;
        const std::string prefix = path.substr(0, i);
        if (!includeDrive && prefix.back() == ':') continue;
        CreateDirectoryA(prefix.c_str(), nullptr);
    }
}

std::string StagingSuffix(unsigned count)
{
    return ".~" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(count) + ".tmp";
}

// A file beside the target that receives new content before it replaces the
// target in one rename, so that a failed copy never leaves a partial target.
// Deleted unless Keep() was called.
class StagingFile {
public:
    explicit StagingFile(const std::string& target)
    {
        static std::atomic<unsigned> counter{0};
        path_ = target + StagingSuffix(++counter);
    }
    ~StagingFile()
    {
        if (path_.empty() || DeleteFileA(path_.c_str())) return;
        // Only when needed: a hard link shares its attributes with the source.
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path_.c_str());
    }
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;
    const char* Path() const { return path_.c_str(); }
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

// What one file's names share: its identity, and the attributes kept with its
// data, which two distinct files on different file systems behind one drive
// letter (where identities can repeat) hardly ever share as well.
struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD sizeHigh = 0;
    DWORD sizeLow = 0;
    FILETIME written{};
    DWORD links = 0;
};

bool QueryFileId(const std::string& path, FileId& id)
{
    UniqueHandle h(CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.Get(), &info)) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    id.sizeHigh = info.nFileSizeHigh;
    id.sizeLow = info.nFileSizeLow;
    id.written = info.ftLastWriteTime;
    id.links = info.nNumberOfLinks;
    return true;
}

// The same file under this name or another hard link of it.
bool SameFile(const std::string& a, const std::string& b)
{
    FileId x, y;
    if (!QueryFileId(a, x) || !QueryFileId(b, y)) return false;
    return x.volume == y.volume && x.indexHigh == y.indexHigh && x.indexLow == y.indexLow &&
           x.sizeHigh == y.sizeHigh && x.sizeLow == y.sizeLow &&
           x.written.dwLowDateTime == y.written.dwLowDateTime &&
           x.written.dwHighDateTime == y.written.dwHighDateTime && x.links == y.links;
}

bool WriteAll(HANDLE file, const char* data, size_t size)
{
    while (size > 0) {
        const DWORD chunk = size > kCopyBlockSize ? kCopyBlockSize : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

// Copies source into a new file; any read or write error is a failure.
bool StreamCopy(const std::string& source, const char* target)
{
    UniqueHandle in(CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in) return false;
    UniqueHandle out(CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!out) return false;
    char* buffer = reinterpret_cast<char*>(ThreadBuffer<struct FileCopy>(kCopyBlockSize));
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.Get(), buffer, kCopyBlockSize, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!WriteAll(out.Get(), buffer, got)) return false;
    }
}

// A file about to be replaced: its folder and name, and whether it is its
// folder's own file. A link there is left as it is: clearing its attributes
// or deleting it would act on what it points to.
class TargetFile {
public:
    TargetFile(const std::string& path, std::string resolvedParent)
        : path_(path), resolvedParent_(std::move(resolvedParent))
    {
        splitOk_ = SplitFullPath(path, parent_, name_);
    }
    // True when nothing stands at the path or the file there is its own.
    bool Replaceable() { return IsReplaceable(path_, name_); }
    // Deletes "<target>.old" unless a link stands there; false for a link.
    bool ClearOldName()
    {
        const std::string old = path_ + ".old";
        const DWORD attributes = GetFileAttributesA(old.c_str());
        if (!Exists(attributes)) return true;
        if (!splitOk_) return false;
        return DeleteFileEntry(old, name_ + ".old", attributes, ResolvedParent()) != FileDeletion::LeftLink;
    }

private:
    bool IsReplaceable(const std::string& path, const std::string& name)
    {
        if (!Exists(GetFileAttributesA(path.c_str()))) return true;
        return splitOk_ && IsOwnEntry(ResolvedPath(path), name, ResolvedParent());
    }
    const std::string& ResolvedParent()
    {
        if (resolvedParent_.empty()) resolvedParent_ = ResolvedPath(parent_);
        return resolvedParent_;
    }

    const std::string& path_;
    std::string parent_, name_, resolvedParent_;
    bool splitOk_ = false;
};

// Moves a complete file over a target that TargetFile found replaceable. A
// target that cannot be replaced (in use) goes to "<target>.old" for a second
// attempt, and comes back when that attempt fails too.
bool MoveOverTarget(const char* staged, const std::string& target, TargetFile& place)
{
    // A folder in the file's place is never moved aside: it may hold the
    // player's files, and a ".old" folder would be cleaned up with them.
    if (IsDirectory(GetFileAttributesA(target.c_str()))) return false;
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(staged, target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!Exists(GetFileAttributesA(target.c_str()))) return false;
    if (!place.ClearOldName()) return false;
    const std::string old = target + ".old";
    const bool movedAside = MoveFileExA(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (MoveFileExA(staged, target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (movedAside) MoveFileExA(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
}

bool LinkOrCopyInto(const std::string& source, const std::string& target, const std::string& resolvedParent)
{
    EnsureParentDirectories(target);
    const DWORD targetAttributes = GetFileAttributesA(target.c_str());
    if (IsDirectory(targetAttributes)) return false;
    TargetFile place(target, resolvedParent);
    if (!place.Replaceable()) return false;
    // Replacing a file by itself (same name, or another hard link of it) would
    // delete the only copy.
    if (Exists(targetAttributes) && SameFile(source, target)) return true;

    StagingFile staged(target);
    if (!CreateHardLinkA(staged.Path(), source.c_str(), nullptr) &&
        !CopyFileA(source.c_str(), staged.Path(), TRUE) && !StreamCopy(source, staged.Path())) {
        return false;
    }
    if (!MoveOverTarget(staged.Path(), target, place)) return false;
    staged.Keep();
    return true;
}

// The tree walks below get each folder's resolved path from their caller and
// only enter, clear or delete entries that resolve to themselves inside it.

bool RemoveTree(const std::string& directory, const std::string& resolved)
{
    {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA((directory + "\\*").c_str(), &entry));
        if (!find.Valid()) return false;
        do {
            if (IsDotEntry(entry.cFileName)) continue;
            const std::string path = directory + "\\" + entry.cFileName;
            if (IsDirectoryLink(entry.dwFileAttributes)) {
                // What a link points to lies outside this tree.
                RemoveDirectoryLink(path);
            } else if (IsDirectory(entry.dwFileAttributes)) {
                const std::string child = ResolvedPath(path);
                if (IsOwnEntry(child, entry.cFileName, resolved)) RemoveTree(path, child);
            } else {
                DeleteFileEntry(path, entry.cFileName, entry.dwFileAttributes, resolved);
            }
        } while (FindNextFileA(find.Get(), &entry));
    }
    return RemoveDirectoryA(directory.c_str()) != 0;
}

void DeleteTreeNoReparse(const std::string& directory, const std::string& resolved)
{
    {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA((directory + "\\*").c_str(), &entry));
        if (find.Valid()) {
            do {
                if (IsDotEntry(entry.cFileName)) continue;
                const std::string path = directory + "\\" + entry.cFileName;
                if (IsDirectoryLink(entry.dwFileAttributes)) continue;
                if (IsDirectory(entry.dwFileAttributes)) {
                    const std::string child = ResolvedPath(path);
                    if (IsOwnEntry(child, entry.cFileName, resolved)) DeleteTreeNoReparse(path, child);
                } else {
                    DeleteFileEntry(path, entry.cFileName, entry.dwFileAttributes, resolved);
                }
            } while (FindNextFileA(find.Get(), &entry));
        }
    }
    RemoveDirectoryA(directory.c_str());
}

// First pass of a mirror: removes what the source does not have in that form.
void RemoveEntriesMissingFromSource(const std::string& source, const std::string& target,
                                    const std::string& resolvedTarget)
{
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((target + "\\*").c_str(), &entry));
    if (!find.Valid()) return;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        const std::string s = source + "\\" + entry.cFileName;
        const std::string t = target + "\\" + entry.cFileName;
        const DWORD sourceAttributes = GetFileAttributesA(s.c_str());
        if (IsDirectoryLink(entry.dwFileAttributes)) {
            // A real directory takes the link's place; the link's target is not ours.
            if (IsDirectory(sourceAttributes)) RemoveDirectoryLink(t);
        } else if (IsDirectory(entry.dwFileAttributes)) {
            if (IsDirectory(sourceAttributes)) continue;
            const std::string child = ResolvedPath(t);
            if (IsOwnEntry(child, entry.cFileName, resolvedTarget)) DeleteTreeNoReparse(t, child);
        } else if (!Exists(sourceAttributes) || IsDirectory(sourceAttributes)) {
            DeleteFileEntry(t, entry.cFileName, entry.dwFileAttributes, resolvedTarget);
        }
    } while (FindNextFileA(find.Get(), &entry));
}

void MirrorTree(const std::string& source, const std::string& target, const std::string& resolvedTarget)
{
    RemoveEntriesMissingFromSource(source, target, resolvedTarget);
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((source + "\\*").c_str(), &entry));
    if (!find.Valid()) return;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        const std::string s = source + "\\" + entry.cFileName;
        const std::string t = target + "\\" + entry.cFileName;
        if (IsDirectory(entry.dwFileAttributes)) {
            CreateDirectoryA(t.c_str(), nullptr);
            // A link that could not be removed is never entered.
            const std::string child = ResolvedPath(t);
            if (IsOwnEntry(child, entry.cFileName, resolvedTarget)) MirrorTree(s, t, child);
        } else {
            LinkOrCopyInto(s, t, resolvedTarget);
        }
    } while (FindNextFileA(find.Get(), &entry));
}

}  // namespace

void EnsureParentDirectories(const std::string& path)
{
    CreateDirectoriesAbove(path, false);
}

void CreateParentDirectories(const std::string& path)
{
    CreateDirectoriesAbove(path, true);
}

bool IsDirectoryPath(const std::string& path) { return IsDirectory(GetFileAttributesA(path.c_str())); }

bool MoveFileIntoPlace(const std::string& source, const std::string& target)
{
    // Without a source the move cannot succeed: the target stays where it is.
    if (!Exists(GetFileAttributesA(source.c_str()))) return false;
    EnsureParentDirectories(target);
    TargetFile place(target, std::string());
    if (!place.Replaceable()) return false;
    return MoveOverTarget(source.c_str(), target, place);
}

bool LinkOrCopyFile(const std::string& source, const std::string& target)
{
    return LinkOrCopyInto(source, target, std::string());
}

size_t LinkOrCopyStagingReserve()
{
    return StagingSuffix(std::numeric_limits<unsigned>::max()).size();
}

FileDeletion DeleteFileNotThroughLink(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (!Exists(attributes) || IsDirectory(attributes)) return FileDeletion::NoFile;
    std::string parent, name;
    if (!SplitFullPath(path, parent, name)) return FileDeletion::Failed;
    return DeleteFileEntry(path, name, attributes, ResolvedPath(parent));
}

bool RemoveDirectoryTree(const std::string& directory)
{
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (IsDirectoryLink(attributes)) return RemoveDirectoryLink(directory);
    if (!IsDirectory(attributes)) return false;
    const std::string resolved = ResolvedOwnDirectory(directory);
    if (resolved.empty()) return false;
    return RemoveTree(directory, resolved);
}

void DeleteDirectoryTreeNoReparse(const std::string& directory)
{
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (!Exists(attributes) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) {
        return;
    }
    const std::string resolved = ResolvedOwnDirectory(directory);
    if (!resolved.empty()) DeleteTreeNoReparse(directory, resolved);
}

void MirrorDirectoryTree(const std::string& source, const std::string& target)
{
    // A missing source is no reason to empty the target.
    if (!IsDirectory(GetFileAttributesA(source.c_str()))) return;
    CreateDirectoryA(target.c_str(), nullptr);
    if (IsDirectoryLink(GetFileAttributesA(target.c_str()))) return;
    const std::string resolved = ResolvedOwnDirectory(target);
    if (!resolved.empty()) MirrorTree(source, target, resolved);
}

bool CopyFileWithFallback(const std::string& source, const std::string& target)
{
    // Copying a file onto itself would truncate it; it already holds the content.
    if (SameFile(source, target)) return true;
    StagingFile staged(target);
    if (!CopyFileA(source.c_str(), staged.Path(), TRUE) && !StreamCopy(source, staged.Path())) return false;
    if (!MoveFileExA(staged.Path(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    staged.Keep();
    return true;
}

bool ExtractResourceToFile(int id, const std::string& path)
{
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (info == nullptr) return false;
    HGLOBAL loaded = LoadResource(nullptr, info);
    if (loaded == nullptr) return false;
    const DWORD size = SizeofResource(nullptr, info);
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (bytes == nullptr || size == 0) return false;

    TargetFile place(path, std::string());
    if (!place.Replaceable()) return false;
    StagingFile staged(path);
    {
        UniqueHandle out(CreateFileA(staged.Path(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
        if (!out || !WriteAll(out.Get(), bytes, size)) return false;
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!MoveFileExA(staged.Path(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    staged.Keep();
    return true;
}
