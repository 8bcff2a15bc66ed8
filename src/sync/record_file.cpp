#include "sync/record_file.h"

#include "core/handles.h"

#include <windows.h>

bool ReplaceFileContents(const std::string& path, const std::string& bytes, bool textMode)
{
    std::string data;
    if (textMode) {
        data.reserve(bytes.size() + bytes.size() / 16);
        for (char c : bytes) {
            if (c == '\n') data += '\r';
            data += c;
        }
    } else {
        data = bytes;
    }
    const std::string temp = path + ".tmp";
    {
        UniqueHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return false;
        DWORD written = 0;
        const bool ok = WriteFile(file.Get(), data.data(), DWORD(data.size()), &written, nullptr) &&
                        written == data.size() && FlushFileBuffers(file.Get());
        if (!ok) {
            file.Reset();
            DeleteFileA(temp.c_str());
            return false;
        }
    }
    if (MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileA(temp.c_str());
    return false;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
    return true;
}
