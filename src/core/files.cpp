#include "core/files.h"

#include "core/handles.h"

#include <atomic>
#include <cstring>
#include <vector>

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

void CreateDirectoriesAbove(const std::string& path, bool includeDrive)
{
    for (size_t i = 1; i < path.size(); ++i) {
        if (path[i] != '\\' && path[i] != '/') continue;
        const std::string prefix = path.substr(0, i);
        if (!includeDrive && prefix.back() == ':') continue;
        CreateDirectoryA(prefix.c_str(), nullptr);
    }
}

// A file beside the target that receives new content before it replaces the
// target in one rename, so that a failed copy never leaves a partial target.
// Deleted unless Keep() was called.
class StagingFile {
public:
    explicit StagingFile(const std::string& target)
    {
        static std::atomic<unsigned> counter{0};
        path_ = target + ".~" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) +
                ".tmp";
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

struct FileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
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
    return true;
}

// The same file under this name or another hard link of it.
bool SameFile(const std::string& a, const std::string& b)
{
    FileId x, y;
    if (!QueryFileId(a, x) || !QueryFileId(b, y)) return false;
    return x.volume == y.volume && x.indexHigh == y.indexHigh && x.indexLow == y.indexLow;
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
    std::vector<char> buffer(kCopyBlockSize);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.Get(), buffer.data(), kCopyBlockSize, &got, nullptr)) return false;
        if (got == 0) return true;
        if (!WriteAll(out.Get(), buffer.data(), got)) return false;
    }
}

// Moves a complete file over the target. A target that cannot be replaced (in
// use) goes to "<target>.old" for a second attempt, and comes back when that
// attempt fails too.
bool MoveOverTarget(const char* staged, const std::string& target)
{
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(staged, target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (!Exists(GetFileAttributesA(target.c_str()))) return false;
    const std::string old = target + ".old";
    SetFileAttributesA(old.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(old.c_str());
    const bool movedAside = MoveFileExA(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (MoveFileExA(staged, target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (movedAside) MoveFileExA(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
}

void DeletePlainFile(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
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

bool MoveFileIntoPlace(const std::string& source, const std::string& target)
{
    // Without a source the move cannot succeed: the target stays where it is.
    if (!Exists(GetFileAttributesA(source.c_str()))) return false;
    EnsureParentDirectories(target);
    return MoveOverTarget(source.c_str(), target);
}

bool LinkOrCopyFile(const std::string& source, const std::string& target)
{
    EnsureParentDirectories(target);
    const DWORD targetAttributes = GetFileAttributesA(target.c_str());
    if (IsDirectory(targetAttributes)) return false;
    // Replacing a file by itself (same name, or another hard link of it) would
    // delete the only copy.
    if (Exists(targetAttributes) && SameFile(source, target)) return true;

    StagingFile staged(target);
    if (!CreateHardLinkA(staged.Path(), source.c_str(), nullptr) &&
        !CopyFileA(source.c_str(), staged.Path(), TRUE) && !StreamCopy(source, staged.Path())) {
        return false;
    }
    if (!MoveOverTarget(staged.Path(), target)) return false;
    staged.Keep();
    return true;
}

bool RemoveDirectoryTree(const std::string& directory)
{
    if (IsDirectoryLink(GetFileAttributesA(directory.c_str()))) return RemoveDirectoryLink(directory);
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
                RemoveDirectoryTree(path);
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                DeleteFileA(path.c_str());
            } else {
                DeletePlainFile(path);
            }
        } while (FindNextFileA(find.Get(), &entry));
    }
    return RemoveDirectoryA(directory.c_str()) != 0;
}

void DeleteDirectoryTreeNoReparse(const std::string& directory)
{
    const DWORD attributes = GetFileAttributesA(directory.c_str());
    if (!Exists(attributes) ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != FILE_ATTRIBUTE_DIRECTORY) {
        return;
    }
    {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA((directory + "\\*").c_str(), &entry));
        if (find.Valid()) {
            do {
                if (IsDotEntry(entry.cFileName)) continue;
                const std::string path = directory + "\\" + entry.cFileName;
                if (IsDirectory(entry.dwFileAttributes)) {
                    DeleteDirectoryTreeNoReparse(path);
                } else {
                    DeletePlainFile(path);
                }
            } while (FindNextFileA(find.Get(), &entry));
        }
    }
    RemoveDirectoryA(directory.c_str());
}

void MirrorDirectoryTree(const std::string& source, const std::string& target)
{
    // A missing source is no reason to empty the target.
    if (!IsDirectory(GetFileAttributesA(source.c_str()))) return;
    CreateDirectoryA(target.c_str(), nullptr);

    WIN32_FIND_DATAA entry;
    {
        FindHandle find(FindFirstFileA((target + "\\*").c_str(), &entry));
        if (find.Valid()) {
            do {
                if (IsDotEntry(entry.cFileName)) continue;
                const std::string s = source + "\\" + entry.cFileName;
                const std::string t = target + "\\" + entry.cFileName;
                const DWORD sourceAttributes = GetFileAttributesA(s.c_str());
                if (IsDirectory(entry.dwFileAttributes)) {
                    if (!IsDirectory(sourceAttributes)) {
                        DeleteDirectoryTreeNoReparse(t);
                    } else if (IsDirectoryLink(entry.dwFileAttributes)) {
                        // A real directory takes the link's place; the link's target is not ours.
                        RemoveDirectoryLink(t);
                    }
                } else if (!Exists(sourceAttributes) || IsDirectory(sourceAttributes)) {
                    DeletePlainFile(t);
                }
            } while (FindNextFileA(find.Get(), &entry));
        }
    }
    FindHandle find(FindFirstFileA((source + "\\*").c_str(), &entry));
    if (!find.Valid()) return;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        const std::string s = source + "\\" + entry.cFileName;
        const std::string t = target + "\\" + entry.cFileName;
        if (IsDirectory(entry.dwFileAttributes)) {
            // A link that could not be removed is never entered.
            if (!IsDirectoryLink(GetFileAttributesA(t.c_str()))) MirrorDirectoryTree(s, t);
        } else {
            LinkOrCopyFile(s, t);
        }
    } while (FindNextFileA(find.Get(), &entry));
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
