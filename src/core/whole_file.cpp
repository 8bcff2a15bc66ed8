#include "core/whole_file.h"

#include "core/handles.h"

#include <windows.h>

bool ReadWholeFile(const std::string& path, std::string& out)
{
    out.clear();
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char buffer[64 * 1024];
    DWORD got = 0;
    for (;;) {
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr)) {
            out.clear();
            return false;
        }
        if (got == 0) return true;
        out.append(buffer, got);
    }
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, uint32_t& error)
{
    bool written = false;
    {
        UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = GetLastError();
            return false;
        }
        DWORD done = 0;
        written = bytes.empty() ||
                  (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                   done == bytes.size());
        written = written && FlushFileBuffers(file.Get());
        if (!written) error = GetLastError();
    }
    if (!written) DeleteFileA(path.c_str());
    return written;
}

bool ReplaceWholeFile(const std::string& path, const std::string& bytes, uint32_t& error)
{
    const std::string staged = path + ".tmp";
    if (!WriteWholeFile(staged, bytes, error)) return false;
    if (MoveFileExA(staged.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = GetLastError();
    DeleteFileA(staged.c_str());
    return false;
}
