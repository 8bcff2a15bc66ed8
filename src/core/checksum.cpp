#include "core/checksum.h"

#include "core/handles.h"
#include "core/thread_buffer.h"

#include <windows.h>
#include <zlib.h>

#include <cstdio>

namespace {

constexpr DWORD kReadBlockSize = 262144;
// Small files are done before a report could be seen.
constexpr uint64_t kProgressMinFileSize = 33554432;
constexpr uint64_t kProgressInterval = 16777215;

void ReportProgress(const ProgressCallback& progress, const std::string& label, float base,
                    float span, uint64_t done, uint64_t size)
{
    const float fraction = static_cast<float>(static_cast<double>(done) / static_cast<double>(size));
    const int percent = static_cast<int>(100.0f * fraction);
    progress(label + " (" + std::to_string(percent) + "%)", span * fraction + base, done, size);
}

}  // namespace

bool ComputeFileCrc32(const std::string& path, std::string& crc32Out, uint64_t& sizeOut,
                      const ProgressCallback& progress, const std::string& label, float base,
                      float span)
{
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return false;
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file.Get(), &fileSize)) return false;
    const uint64_t size = static_cast<uint64_t>(fileSize.QuadPart);
    sizeOut = size;

    const bool reporting = progress && !label.empty() && size > kProgressMinFileSize;
    unsigned char* buffer = ThreadBuffer<struct ChecksumRead>(kReadBlockSize);
    uLong crc = 0;
    uint64_t done = 0;
    uint64_t lastReported = 0;
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, kReadBlockSize, &got, nullptr) && got > 0) {
        crc = crc32(crc, buffer, got);
        done += got;
        if (reporting && (done - lastReported > kProgressInterval || done == size)) {
            ReportProgress(progress, label, base, span, done, size);
            lastReported = done;
        }
    }
    // A read that fails or ends before the size known at opening (the file
    // was cut meanwhile) must not pass off part of the file as the whole.
    if (done < size) return false;

    char text[16];
    std::snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(crc));
    crc32Out = text;
    return true;
}

std::string UrlEncodePath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        const unsigned char b = static_cast<unsigned char>(c);
        const bool plain = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                           b == '-' || b == '.' || b == '/' || b == '_' || b == '~';
        if (plain) {
            out += c;
        } else if (b == '\\') {
            out += '/';
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        }
    }
    return out;
}
