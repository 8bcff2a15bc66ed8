#include "core/http.h"

#include "core/files.h"
#include "core/handles.h"
#include "core/thread_buffer.h"

#include <cstdlib>

const char* const kUserAgent = "QVX-Launcher/1.0";

namespace {

constexpr DWORD kDocumentBlockSize = 16384;
constexpr DWORD kFileBlockSize = 65536;
constexpr uint64_t kMiB = 1048576;

DWORD g_serviceTimeoutMs = kServiceTimeoutMs;  // changed only by checks, before any transfer

void ApplyServiceTimeouts(HINTERNET handle, DWORD timeoutMs = 0)
{
    DWORD timeout = timeoutMs != 0 ? timeoutMs : g_serviceTimeoutMs;
    InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

std::string UrlPart(const char* text, DWORD length)
{
    return text ? std::string(text, length) : std::string();
}

// False when the server's answer carries no readable status.
bool QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD size = sizeof(status);
    DWORD index = 0;
    return HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                          &size, &index) != FALSE;
}

// False when the answer has no Content-Length.
bool QueryContentLength(HINTERNET request, uint64_t& length)
{
    char text[64] = {};
    DWORD size = sizeof(text) - 1;
    DWORD index = 0;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return false;
    length = std::strtoull(text, nullptr, 10);
    return true;
}

uint64_t ExistingFileSize(const std::string& path)
{
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.Get(), &size)) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

// Opens the output to be appended to or emptied. OPEN_ALWAYS, because
// CREATE_ALWAYS refuses a hidden file; the position is 64-bit, so a resumed
// file beyond 4 GiB is appended to at its end.
UniqueHandle OpenOutput(const std::string& path, bool appending)
{
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return file;
    const LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.Get(), zero, nullptr, appending ? FILE_END : FILE_BEGIN) ||
        (!appending && !SetEndOfFile(file.Get())))
        file.Reset();
    return file;
}

// Copies the body into the output, one progress report per block. False when
// a write fails (a full disk): the rest of the body is not fetched for nothing.
bool TransferBody(HINTERNET request, HANDLE output, uint64_t done, uint64_t total,
                  const std::string& label, const ProgressCallback& progress)
{
    unsigned char* buffer = ThreadBuffer<struct DownloadBody>(kFileBlockSize);
    DWORD got = 0;
    while (InternetReadFile(request, buffer, kFileBlockSize, &got) && got > 0) {
        DWORD written = 0;
        if (!WriteFile(output, buffer, got, &written, nullptr) || written != got) return false;
        done += got;
        if (progress) progress(DownloadProgressText(label, done, total),
                               DownloadProgressPercent(done, total), done, total);
    }
    return true;
}

}  // namespace

HINTERNET OpenServiceSession()
{
    HINTERNET session = InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session) ApplyServiceTimeouts(session);
    return session;
}

void SetServiceTimeoutForChecks(DWORD ms)
{
    g_serviceTimeoutMs = ms != 0 ? ms : kServiceTimeoutMs;
}

ServiceRequest OpenServiceRequest(HINTERNET session, const char* url, const std::string& headers,
                                  DWORD timeoutMs)
{
    ServiceRequest r;
    // Lengths of 1 with no buffers: the parts are pointers into url.
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlA(url, 0, 0, &parts)) return r;
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    if (!secure && parts.nScheme != INTERNET_SCHEME_HTTP) return r;

    const std::string host = UrlPart(parts.lpszHostName, parts.dwHostNameLength);
    const std::string user = UrlPart(parts.lpszUserName, parts.dwUserNameLength);
    const std::string password = UrlPart(parts.lpszPassword, parts.dwPasswordLength);
    std::string object = UrlPart(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (object.empty()) object = "/";
    object += UrlPart(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    r.connection.Reset(InternetConnectA(session, host.c_str(), parts.nPort,
                                        user.empty() ? nullptr : user.c_str(),
                                        password.empty() ? nullptr : password.c_str(),
                                        INTERNET_SERVICE_HTTP, 0, 0));
    if (!r.connection) return r;
    ApplyServiceTimeouts(r.connection.Get(), timeoutMs);
    const char* accept[] = {"*/*", nullptr};
    r.request.Reset(HttpOpenRequestA(r.connection.Get(), "GET", object.c_str(), nullptr, nullptr,
                                     accept, kRequestFlags | (secure ? INTERNET_FLAG_SECURE : 0), 0));
    if (r.request && !HttpSendRequestA(r.request.Get(), headers.empty() ? nullptr : headers.c_str(),
                                       static_cast<DWORD>(headers.size()), nullptr, 0))
        r.request.Reset();
    return r;
}

std::string DownloadProgressText(const std::string& label, uint64_t done, uint64_t total)
{
    std::string text = "Downloading: " + label;
    if (total >= kMiB)
        text += " (" + std::to_string(done / kMiB) + " / " + std::to_string(total / kMiB) + " MB)";
    return text;
}

float DownloadProgressPercent(uint64_t done, uint64_t total)
{
    if (total == 0) return 0.0f;
    return static_cast<float>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

bool DownloadToString(HINTERNET session, const char* url, std::string& out)
{
    ServiceRequest request = OpenServiceRequest(session, url, std::string());
    if (!request) return false;
    DWORD status = 0;
    if (QueryStatus(request.Get(), status) && status != 200) return false;

    uint64_t expected = 0;
    const bool lengthKnown = QueryContentLength(request.Get(), expected);
    out.clear();
    if (lengthKnown && expected > kMaxDocumentSize) return false;
    if (lengthKnown) out.reserve(static_cast<size_t>(expected));

    char buffer[kDocumentBlockSize];
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.Get(), buffer, sizeof(buffer), &got)) {
            out.clear();
            return false;
        }
        if (got == 0) break;
        if (out.size() + got > kMaxDocumentSize) {
            out.clear();
            return false;
        }
        out.append(buffer, got);
    }
    // A connection that closes early ends the body like a complete one does;
    // only the announced length tells them apart.
    if (lengthKnown && out.size() < expected) {
        out.clear();
        return false;
    }
    return !out.empty();
}

bool DownloadFile(HINTERNET session, const std::string& url, const std::string& path,
                  const std::string& label, const ProgressCallback& progress, bool resume)
{
    EnsureParentDirectories(path);
    uint64_t offset = resume ? ExistingFileSize(path) : 0;

    for (;;) {
        const std::string headers =
            offset != 0 ? "Range: bytes=" + std::to_string(offset) + "-\r\n" : std::string();
        ServiceRequest request = OpenServiceRequest(session, url.c_str(), headers);
        if (!request) return false;

        DWORD status = 0;
        const bool statusKnown = QueryStatus(request.Get(), status);
        // A partial file that is already whole (or longer than the file now
        // served) asks for a range past the end: start it over, once.
        if (statusKnown && status == 416 && offset != 0) {
            offset = 0;
            continue;
        }
        if (statusKnown && status != 200 && status != 206) return false;

        uint64_t length = 0;
        if (!QueryContentLength(request.Get(), length)) length = 0;
        const bool appending = statusKnown && status == 206 && offset != 0;
        const uint64_t total = appending ? length + offset : length;

        UniqueHandle output = OpenOutput(path, appending);
        if (!output) return false;
        return TransferBody(request.Get(), output.Get(), appending ? offset : 0, total, label, progress);
    }
}
