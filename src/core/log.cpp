#include "core/log.h"

#include "core/handles.h"
#include "core/identity.h"

#include <cstdio>
#include <mutex>

namespace {

// One line at a time inside the process: each append opens, writes and closes
// the file, and two threads doing that at once could interleave their bytes.
std::mutex g_logMutex;

// The file is written as a text stream would write it: every LF becomes CR LF.
std::string ToCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

std::string FormatLogTimestamp(int year, int month, int day, int hour, int minute, int second,
                               int millisecond)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "[%04d-%02d-%02d %02d:%02d:%02d.%03d] ", year, month, day, hour,
                  minute, second, millisecond);
    return buffer;
}

void LogLine(const std::string& message)
{
    const std::string path = GetLauncherDir() + "\\launcher.log";
    std::lock_guard<std::mutex> lock(g_logMutex);
    // FILE_APPEND_DATA puts the single write at the end of the file even when
    // another process appends too.
    UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string line = FormatLogTimestamp(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                                 t.wMilliseconds) +
                             ToCrLf(message + "\n");
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string FormatWindowsError(uint32_t code)
{
    if (code == 0) return "Success";
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                       FORMAT_MESSAGE_FROM_SYSTEM,
                                   nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                   reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (n != 0 && buffer != nullptr) {
        text.assign(buffer, n);
    } else {
        text = "Unknown error";
    }
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}
