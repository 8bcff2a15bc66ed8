#include "core/foundation_support.h"

#include <cstring>
#include <vector>

namespace checks {
namespace {

using UnixNameFn = char*(CDECL*)(const WCHAR*);

UnixNameFn WineUnixName()
{
    return reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
}

std::string ToUnixPath(UnixNameFn unixName, const std::string& path)
{
    std::wstring wide(path.begin(), path.end());
    char* name = unixName(wide.c_str());
    std::string out = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Starts a Unix program under Wine. Wine gives no process to wait for, so
// callers watch for its effect.
bool StartUnixCommand(const char* program, const std::string& commandLine)
{
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(program, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// Removes dir and what is below it. Links are only removed where Windows
// calls remove the link itself, so under Wine they stay for rm.
void RemoveTreeForCleanup(const std::string& dir)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!std::strcmp(entry.cFileName, ".") || !std::strcmp(entry.cFileName, "..")) continue;
            const std::string path = dir + "\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                if (WineUnixName() == nullptr) RemoveDirectoryA(path.c_str());
            } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTreeForCleanup(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

ScratchDir::ScratchDir(const std::string& tag)
{
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + "verandel-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++counter);
    RemoveTreeForCleanup(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

ScratchDir::~ScratchDir()
{
    RemoveTreeForCleanup(path_);
    if (!PathExists(path_)) return;
    // What is left is a link under Wine: rm removes it without following it.
    UnixNameFn unixName = WineUnixName();
    if (unixName == nullptr) return;
    if (!StartUnixCommand("Z:\\bin\\rm", "/bin/rm -rf \"" + ToUnixPath(unixName, path_) + "\"")) return;
    for (int i = 0; i < 100 && PathExists(path_); ++i) Sleep(50);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadBytes(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::string();
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(h);
    return out;
}

bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDir(const std::string& path)
{
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ThisProgramPath()
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    return std::string(buffer, n);
}

int RunCopyOfThisProgram(const std::string& dir, const std::string& name, const std::string& arguments,
                         DWORD timeoutMs)
{
    const std::string exe = dir + "\\" + name;
    // The copy a previous case ran may still be mapped for a moment after it
    // exited, and then cannot be overwritten yet.
    bool copied = false;
    for (int attempt = 0; attempt < 40 && !copied; ++attempt) {
        copied = CopyFileA(ThisProgramPath().c_str(), exe.c_str(), FALSE) != 0;
        if (!copied) Sleep(50);
    }
    if (!copied) return -1;
    std::string commandLine = "\"" + exe + "\" " + arguments;
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.c_str(), &si,
                        &pi)) {
        return -1;
    }
    CloseHandle(pi.hThread);
    int result = -1;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code)) result = static_cast<int>(code);
    } else {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    CloseHandle(pi.hProcess);
    return result;
}

int RunCheckInCopy(const std::string& dir, const std::string& name, const std::string& check)
{
    return RunCopyOfThisProgram(dir, name, "--gtest_also_run_disabled_tests --gtest_filter=" + check);
}

namespace {

// A Unix symbolic link made from the Linux side, as a user of the game
// directory would; judged by what done(link) sees on disk.
bool MakeUnixLink(const std::string& link, const std::string& target, bool (*done)(const std::string&))
{
    UnixNameFn unixName = WineUnixName();
    if (unixName == nullptr) return false;
    const size_t sep = link.find_last_of('\\');
    if (!StartUnixCommand("Z:\\bin\\ln", "/bin/ln -s \"" + ToUnixPath(unixName, target) + "\" \"" +
                                                ToUnixPath(unixName, link.substr(0, sep)) + "/" +
                                                link.substr(sep + 1) + "\"")) {
        return false;
    }
    // Wine hands a Unix program over without a process to wait for: watch the disk.
    for (int i = 0; i < 100 && !done(link); ++i) Sleep(50);
    return done(link);
}

bool IsDirectoryLinkOnDisk(const std::string& link)
{
    const DWORD a = GetFileAttributesA(link.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool MakeDirectoryLink(const std::string& link, const std::string& target)
{
    // Wine's CreateSymbolicLinkA reports success without making anything, so
    // the result is judged by what is on disk.
    CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
    if (IsDirectoryLinkOnDisk(link)) return true;
    return MakeUnixLink(link, target, IsDirectoryLinkOnDisk);
}

bool MakeFileLink(const std::string& link, const std::string& target)
{
    CreateSymbolicLinkA(link.c_str(), target.c_str(), 0);
    if (PathExists(link)) return true;
    return MakeUnixLink(link, target, PathExists);
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::map<std::string, std::string> Tree(const std::string& dir, const std::string& prefix)
{
    std::map<std::string, std::string> out;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            out[prefix + name] = "<link>";
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[prefix + name] = "<dir>";
            for (auto& kv : Tree(path, prefix + name + "\\")) out.insert(kv);
        } else {
            out[prefix + name] = ReadBytes(path);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return out;
}

}  // namespace checks
