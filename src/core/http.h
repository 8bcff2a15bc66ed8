// HTTP GETs against the update service over a WinINet session the caller opens.
#pragma once

#include "core/handles.h"
#include "core/progress.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

// Every request of the launcher: user agent, access type and request flags.
extern const char* const kUserAgent;  // "QVX-Launcher/1.0"
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// How long a synchronisation request waits for a connection, and for each
// block of data (one wait, not a whole transfer: a slow download that keeps
// moving is never cut). A host that accepts and then stays silent fails the
// step as a lost connection does.
constexpr DWORD kServiceTimeoutMs = 60000;

// Opens a session as every synchronisation step does, with the time-outs set.
HINTERNET OpenServiceSession();

// One GET on a session, as InternetOpenUrlA sends it but in its three steps
// (connect, open, send): Wine hands a session's receive time-out to none of
// the requests under it, so the connection gets the time-outs too, timeoutMs
// or, when 0, those of a synchronisation step. Empty headers send none; no
// request handle after any failure.
struct ServiceRequest {
    InternetHandle connection;  // declared first: closed after the request
    InternetHandle request;
    HINTERNET Get() const { return request.Get(); }
    explicit operator bool() const { return static_cast<bool>(request); }
};
ServiceRequest OpenServiceRequest(HINTERNET session, const char* url, const std::string& headers,
                                  DWORD timeoutMs = 0);

// Shortens the time-outs of the sessions and requests opened afterwards, so
// that checks need not wait a minute for a silent host; 0 restores
// kServiceTimeoutMs.
void SetServiceTimeoutForChecks(DWORD ms);

// Documents (manifests) are held in memory; a larger one is refused.
constexpr uint64_t kMaxDocumentSize = 64ull * 1024 * 1024;

// Fetches a document into out. True only for status 200 (or an unreadable
// status) with a non-empty body that arrived whole. On a refused status out is
// untouched; after any other failure it is empty.
bool DownloadToString(HINTERNET session, const char* url, std::string& out);

// Fetches url into path, resuming from an existing file when resume is set
// (a resumed request answered 416 starts the file over once). True when the
// output was opened and the body copied without a write error; a transfer
// that broke off still leaves the file short, so callers verify its CRC-32.
bool DownloadFile(HINTERNET session, const std::string& url, const std::string& path,
                  const std::string& label, const ProgressCallback& progress, bool resume);

// "Downloading: " + label, with " (a / b MB)" once total reaches 1 MiB.
std::string DownloadProgressText(const std::string& label, uint64_t done, uint64_t total);
// done / total * 100, 0 when total is 0 (not clamped).
float DownloadProgressPercent(uint64_t done, uint64_t total);
