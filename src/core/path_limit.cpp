#include "core/path_limit.h"

#include "core/archive_output.h"
#include "core/log.h"

#include <windows.h>

namespace {

void LogTooLong(const std::string& path, size_t characters)
{
    LogLine("[ERROR] Path too long for this system (" + std::to_string(characters) +
            " characters): " + path);
}

}  // namespace

bool PathFits(size_t characters, size_t reserve)
{
    // MAX_PATH counts the terminating null.
    return characters + reserve + 1 < MAX_PATH;
}

void LogPathTooLong(const std::wstring& fullPath)
{
    LogTooLong(ToNarrow(fullPath, CP_ACP), fullPath.size());
}

std::wstring FullPathOf(const std::wstring& path)
{
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (got == 0 || got >= n) return std::wstring();
    full.resize(got);
    return full;
}

bool FitsPathLimit(const std::wstring& fullPath, size_t reserve)
{
    if (PathFits(fullPath.size(), reserve)) return true;
    LogPathTooLong(fullPath);
    return false;
}

bool FitsPathLimit(const std::string& fullPath, size_t reserve)
{
    const std::wstring wide = ToWide(fullPath, CP_ACP);
    if (PathFits(wide.size(), reserve)) return true;
    LogTooLong(fullPath, wide.size());
    return false;
}
