// HTTP GETs against the update service over a WinINet session the caller opens.
#pragma once

#include "core/progress.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>

// Every request of the launcher: user agent, access type and request flags.
extern const char* const kUserAgent;  // "QVX-Launcher/1.0"
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Opens a session as every synchronisation step does (no time-outs set).
HINTERNET OpenServiceSession();

// Fetches a document into out. True only for status 200 (or an unreadable
// status) with a non-empty body that arrived whole.
bool DownloadToString(HINTERNET session, const char* url, std::string& out);

// Fetches url into path, resuming from an existing file when resume is set.
bool DownloadFile(HINTERNET session, const std::string& url, const std::string& path,
                  const std::string& label, const ProgressCallback& progress, bool resume);
