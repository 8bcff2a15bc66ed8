#include "client/running_check.h"

#include "core/handles.h"

#include <tlhelp32.h>

#include <cstring>

namespace {

constexpr const char* kDefaultClientName = "qvx.dll";
// The name the client directory preparation removes; an old install may still run it.
constexpr const char* kOldClientName = "qvx.exe";

std::string FileNamePart(const std::string& name)
{
    const size_t sep = name.find_last_of("\\/");
    return sep == std::string::npos ? name : name.substr(sep + 1);
}

}  // namespace

bool IsClientProcessName(const char* exeFile, const std::string& clientExe)
{
    const std::string kept = FileNamePart(clientExe);
    return (!kept.empty() && _stricmp(exeFile, kept.c_str()) == 0) || _stricmp(exeFile, kDefaultClientName) == 0 ||
           _stricmp(exeFile, kOldClientName) == 0;
}

bool IsGameClientRunning(const std::string& clientExe)
{
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return false;
    const DWORD ownId = GetCurrentProcessId();
    PROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    if (!Process32First(snapshot.Get(), &entry)) return false;
    do {
        if (entry.th32ProcessID == ownId) continue;
        if (IsClientProcessName(entry.szExeFile, clientExe)) return true;
    } while (Process32Next(snapshot.Get(), &entry));
    return false;
}
