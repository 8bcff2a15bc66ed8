// The server-status poller: the website and the realms' status documents,
// polled at once and every 180 seconds and reported as WM_SERVER_STATUS.
#pragma once

#include "core/config.h"
#include "ui/messages.h"

#include <windows.h>
#include <wininet.h>

#include <string>

// The thread function: polls while g_running is set and the window exists.
void ServerStatusThreadFunc(HWND hwnd);

// One GET; true when the request opened, whatever its status, with what could
// be read in body. An empty url, or a request that does not open, leaves body.
bool FetchStatusUrl(HINTERNET inet, const std::string& url, std::string& body);

// A status document marks its realm online with one of "map", "char" or
// "login" as true, written without blanks.
bool HasOnlineMarker(const std::string& text);

// The addresses probed; an empty status address falls back to the built-in one.
std::string LegacyStatusUrl(const LauncherConfig& config);
std::string SeasonStatusUrl(const LauncherConfig& config);

// One poll: website, Legacy, then Season (never on a test launcher).
ServerStatusMessage PollServerStatus(HINTERNET inet, const LauncherConfig& config,
                                     bool testLauncher);
