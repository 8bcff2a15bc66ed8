#include "sync/patch_list.h"

#include "core/game_client.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/thread_buffer.h"
#include "core/log.h"
#include "sync/record_file.h"
#include "sync/text_lines.h"

#include <cstdlib>

namespace {

constexpr DWORD kListBlock = 4096;
constexpr DWORD kPatchBlock = 65536;
// Windows editors save "UTF-8 with BOM": read as text, the mark would spoil
// the first line's number, and its patch would be skipped for good.
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// The next blank-separated token from pos; empty at the end of the line.
std::string NextToken(const std::string& line, size_t& pos)
{
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    return line.substr(start, pos - start);
}

// Digits only: a sign is refused (stream extraction would read "-1" as
// 4294967295), and so is anything beyond 32 bits.
bool ParseVersion(const std::string& line, size_t& pos, uint32_t& version)
{
    uint64_t value = 0;
    const size_t start = pos;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        value = value * 10 + uint64_t(line[pos] - '0');
        if (value > 0xFFFFFFFFull) return false;
        ++pos;
    }
    version = uint32_t(value);
    return pos > start;
}

bool ParseLine(const std::string& line, PatchListEntry& entry)
{
    size_t pos = 0;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos == line.size() || line.compare(pos, 2, "//") == 0) return false;
    if (!ParseVersion(line, pos, entry.version)) return false;
    entry.file = NextToken(line, pos);
    entry.flag = NextToken(line, pos);
    return !entry.file.empty();
}

DWORD StatusCode(HINTERNET request)
{
    DWORD status = 0, length = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr))
        return 0;
    return status;
}

// The announced body length; false when the response has none.
bool ContentLength(HINTERNET request, uint64_t& length)
{
    char text[32] = {};
    DWORD size = sizeof text - 1;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) return false;
    char* end = nullptr;
    length = std::strtoull(text, &end, 10);
    return end != text;
}

// Reads the body to its end; false when a read fails or the body stops short
// of its Content-Length.
template <typename Sink>
bool ReadBody(HINTERNET request, DWORD blockSize, Sink&& sink)
{
    uint64_t announced = 0;
    const bool haveLength = ContentLength(request, announced);
    char* buffer = reinterpret_cast<char*>(ThreadBuffer<struct PatchBody>(blockSize));
    uint64_t done = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, blockSize, &got)) return false;
        if (got == 0) break;
        done += got;
        if (!sink(buffer, got, done, haveLength ? announced : 0)) return false;
    }
    return !haveLength || done == announced;
}

}  // namespace

std::vector<PatchListEntry> ParsePatchList(const std::string& text)
{
    std::vector<PatchListEntry> entries;
    const size_t mark = sizeof kUtf8ByteOrderMark - 1;
    const bool marked = text.compare(0, mark, kUtf8ByteOrderMark) == 0;
    ForEachLine(marked ? text.substr(mark) : text, [&](const std::string& line) {
        PatchListEntry entry;
        if (ParseLine(line, entry)) entries.push_back(entry);
    });
    return entries;
}

std::vector<PatchListEntry> DownloadPatchList(const std::string& url, std::string& error)
{
    InternetHandle session(OpenServiceSession());
    if (!session) {
        error = "Failed to open internet connection.";
        return {};
    }
    ServiceRequest request = OpenServiceRequest(session.Get(), url.c_str(), std::string());
    if (!request) {
        error = "Failed to download patch list from server.";
        return {};
    }
    const DWORD status = StatusCode(request.Get());
    if (status != 200) {
        error = "Failed to download patch list from server (HTTP status " + std::to_string(status) + ").";
        return {};
    }
    std::string text;
    bool tooLarge = false;
    const bool whole = ReadBody(request.Get(), kListBlock, [&](const char* data, DWORD n, uint64_t done, uint64_t) {
        // The list is held in memory: a wrong URL must not fill it.
        if (done > kMaxDocumentSize) return !(tooLarge = true);
        text.append(data, n);
        return true;
    });
    if (tooLarge) {
        error = "Failed to download patch list from server (the list is too large).";
        return {};
    }
    if (!whole) {
        error = "Failed to download patch list from server (the transfer broke off).";
        return {};
    }
    return ParsePatchList(text);
}

bool DownloadPatchFile(HINTERNET session, const char* url, const std::string& target,
                       ProgressCallback progress, const std::string& name)
{
    ServiceRequest request = OpenServiceRequest(session, url, std::string());
    if (!request) return false;
    // From here on a failure leaves no file at the target: the patch arrives
    // beside it and is moved there only when whole.
    const std::string part = target + ".part";
    bool ok = StatusCode(request.Get()) == 200;
    if (ok) {
        UniqueHandle file(CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ok = file && ReadBody(request.Get(), kPatchBlock, [&](const char* data, DWORD n, uint64_t done, uint64_t total) {
                 DWORD written = 0;
                 if (!WriteFile(file.Get(), data, n, &written, nullptr) || written != n) return false;
                 if (progress) {
                     const float percent = total ? float(done) / float(total) * 100.0f : 0.0f;
                     progress("Downloading patch: " + name, percent, done, total);
                 }
                 return true;
             });
    }
    if (ok && MoveFileExA(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(part.c_str());
    DeleteFileA(target.c_str());
    return false;
}

const char* PatchVersionFileName() { return IsTestLauncher() ? "main_test.inf" : "main.inf"; }

uint32_t ReadPatchVersion(const std::string& path, bool* unreadable)
{
    if (unreadable) *unreadable = false;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        unsigned char bytes[4] = {};
        DWORD got = 0;
        if (!ReadFile(file.Get(), bytes, sizeof bytes, &got, nullptr)) {
            got = 0;
            if (unreadable) *unreadable = true;
        }
        uint32_t version = 0;
        for (DWORD i = 0; i < got; ++i) version |= uint32_t(bytes[i]) << (8 * i);
        return version;
    }
    // Only a missing file means "never patched": one that exists but cannot be
    // read must not be reset to the full client's version.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        if (unreadable) *unreadable = true;
        return 0;
    }

    const std::string grf = GetLauncherDir() + "\\data.grf";
    UniqueHandle client(CreateFileA(grf.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!client) return 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(client.Get(), &size) || uint64_t(size.QuadPart) < kBootstrapClientMinSize) return 0;
    client.Reset();
    WritePatchVersion(kBootstrapPatchVersion, path);
    LogLine("[INFO] " + path + " missing but full client detected. Initialized patch version to 221.");
    return kBootstrapPatchVersion;
}

bool WritePatchVersion(uint32_t version, const std::string& path)
{
    const std::string bytes = {char(version & 0xFF), char((version >> 8) & 0xFF), char((version >> 16) & 0xFF),
                               char((version >> 24) & 0xFF)};
    return ReplaceFileContents(path, bytes, false);
}
