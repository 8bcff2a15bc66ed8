#include "core/archive_output.h"

#include <mutex>
#include <set>
#include <utility>

std::wstring ToWide(const std::string& text, UINT codePage)
{
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

std::string ToNarrow(const std::wstring& text, UINT codePage)
{
    if (text.empty()) return std::string();
    // Best fit would turn lookalikes such as U+FF0E and U+FF3C into "." and
    // "\", so that a name checked in Unicode could name another file here.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int n = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring JoinOutputPath(const std::wstring& destination, const std::wstring& name)
{
    if (destination.empty() || destination == L".") return name;
    return destination + L"\\" + name;
}

namespace {

// The directory above the last separator of path; false when there is none to
// make (no separator, a leading one only, or a drive).
bool ParentOf(const std::wstring& path, std::wstring& parent)
{
    size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut == 0) return false;
    parent = path.substr(0, cut);
    return !(parent.size() == 2 && parent[1] == L':');  // "C:" itself
}

std::wstring WithoutTrailingSeparators(std::wstring path)
{
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

bool IsDirectory(const std::wstring& path)
{
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool MakeDirectories(const std::wstring& path, std::vector<std::wstring>* created)
{
    const std::wstring p = WithoutTrailingSeparators(path);
    if (p.empty() || IsDirectory(p)) return true;
    std::wstring parent;
    if (ParentOf(p, parent)) MakeDirectories(parent, created);
    if (CreateDirectoryW(p.c_str(), nullptr) && created) created->push_back(p);
    return IsDirectory(p);
}

bool DirectoryMaker::Make(const std::wstring& path)
{
    std::wstring p = WithoutTrailingSeparators(path);
    if (made_.count(p)) return true;
    if (!MakeDirectories(p, &created_)) return false;
    made_.insert(std::move(p));
    return true;
}

void DirectoryMaker::RemoveCreated()
{
    // Latest first: a directory was created before any directory inside it.
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) RemoveDirectoryW(it->c_str());
    created_.clear();
    made_.clear();
}

bool DirectoryMaker::MakeParentOf(const std::wstring& path)
{
    std::wstring parent;
    return !ParentOf(path, parent) || Make(parent);
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : file_(std::move(other.file_)), temp_(std::move(other.temp_)), final_(std::move(other.final_))
{
    other.temp_.clear();
}

namespace {

// The temporary names this process has in use. One that is found on disk but
// is not among them was left by an extraction that was cut off (the launcher
// closed mid-way), and can be as large as the entry it was for.
std::mutex g_stagedMutex;
std::set<std::wstring> g_stagedNames;

HANDLE CreateStagedName(const std::wstring& temp)
{
    return CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool NameWasTaken()
{
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool StagedFile::Create(const std::wstring& finalPath)
{
    Discard();
    final_ = finalPath;
    std::lock_guard<std::mutex> lock(g_stagedMutex);
    // CREATE_NEW: a temporary name never clobbers a file that is already there.
    for (unsigned n = 1; n < 1000; ++n) {
        std::wstring temp = finalPath + L".~x" + std::to_wstring(n);
        HANDLE h = CreateStagedName(temp);
        if (h == INVALID_HANDLE_VALUE && NameWasTaken() && !g_stagedNames.count(temp) &&
            DeleteFileW(temp.c_str()))
            h = CreateStagedName(temp);  // a leftover of a cut-off extraction
        if (h != INVALID_HANDLE_VALUE) {
            file_.Reset(h);
            temp_ = temp;
            g_stagedNames.insert(temp);
            return true;
        }
        if (!NameWasTaken()) return false;
    }
    return false;
}

bool StagedFile::Write(const uint8_t* data, size_t n)
{
    while (n > 0) {
        DWORD chunk = n > (1u << 30) ? (1u << 30) : DWORD(n);
        DWORD written = 0;
        if (!WriteFile(file_.Get(), data, chunk, &written, nullptr) || written != chunk) return false;
        data += chunk;
        n -= chunk;
    }
    return true;
}

bool StagedFile::Close(const FILETIME* time)
{
    if (!file_) return false;
    if (time) SetFileTime(file_.Get(), nullptr, nullptr, time);
    file_.Reset();
    return true;
}

bool StagedFile::Place()
{
    if (temp_.empty() || file_) return false;
    if (!MoveOverTarget(temp_, final_)) {
        Discard();
        return false;
    }
    Forget();
    return true;
}

void StagedFile::Discard()
{
    file_.Reset();
    if (!temp_.empty()) DeleteFileW(temp_.c_str());
    Forget();
}

void StagedFile::Forget()
{
    if (temp_.empty()) return;
    std::lock_guard<std::mutex> lock(g_stagedMutex);
    g_stagedNames.erase(temp_);
    temp_.clear();
}

bool MoveOverTarget(const std::wstring& source, const std::wstring& target)
{
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DWORD attrs = GetFileAttributesW(target.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
    const std::wstring old = target + L".old";
    DeleteFileW(old.c_str());
    if (!MoveFileExW(target.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    // The game file must not be left only under its ".old" name.
    MoveFileExW(old.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
}
