#include "ui/status_poller.h"

#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "ui/sync_threads.h"

#include <chrono>
#include <memory>
#include <thread>

namespace {

constexpr int kStatusPollWaitSeconds = 180;
constexpr DWORD kStatusTimeoutMs = 3500;  // connect and receive, per request
constexpr DWORD kStatusReadBlock = 1024;
// Status documents are a few hundred bytes; a wrong address that streams a
// large or endless body must not fill the memory of a thread that cannot fail.
constexpr size_t kStatusBodyLimit = 1024 * 1024;

bool RealmOnline(HINTERNET inet, const std::string& url)
{
    std::string body;
    return FetchStatusUrl(inet, url, body) && HasOnlineMarker(body);
}

}  // namespace

bool HasOnlineMarker(const std::string& text)
{
    for (const char* marker : {"\"map\":true", "\"char\":true", "\"login\":true"})
        if (text.find(marker) != std::string::npos) return true;
    return false;
}

std::string LegacyStatusUrl(const LauncherConfig& config)
{
    return config.server_status_url.empty() ? LauncherConfig().server_status_url
                                            : config.server_status_url;
}

std::string SeasonStatusUrl(const LauncherConfig& config)
{
    return config.season_status_url.empty() ? LauncherConfig().season_status_url
                                            : config.season_status_url;
}

bool FetchStatusUrl(HINTERNET inet, const std::string& url, std::string& body)
{
    if (url.empty()) return false;
    // Opened in its steps, with the time-outs on its connection (which Wine
    // keeps, where it drops a session's): a silent host must cost one probe
    // 3.5 seconds, not the poller's every round.
    ServiceRequest request = OpenServiceRequest(inet, url.c_str(), std::string(), kStatusTimeoutMs);
    if (!request) return false;
    body.clear();
    char block[kStatusReadBlock];
    DWORD got = 0;
    while (body.size() < kStatusBodyLimit && InternetReadFile(request.Get(), block, sizeof block, &got) &&
           got > 0)
        body.append(block, got);
    return true;
}

ServerStatusMessage PollServerStatus(HINTERNET inet, const LauncherConfig& config,
                                     bool testLauncher)
{
    ServerStatusMessage status;
    std::string scratch;
    status.website_online = FetchStatusUrl(inet, config.website_url, scratch);
    status.legacy_online = RealmOnline(inet, LegacyStatusUrl(config));
    status.season_online = !testLauncher && RealmOnline(inet, SeasonStatusUrl(config));
    return status;
}

void ServerStatusThreadFunc(HWND hwnd)
{
    InternetHandle inet(
        InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!inet) return;
    const bool testLauncher = IsTestLauncher();
    while (g_running.load()) {
        auto status = std::make_unique<ServerStatusMessage>(
            PollServerStatus(inet.Get(), g_config, testLauncher));
        if (!IsWindow(hwnd)) break;
        // A post that fails (a window destroyed between the check and the
        // post, a full queue) deletes the payload; the next round checks the
        // window again.
        PostOwnedMessage(hwnd, WM_SERVER_STATUS, std::move(status));
        for (int second = 0; second < kStatusPollWaitSeconds && g_running.load(); ++second)
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}
