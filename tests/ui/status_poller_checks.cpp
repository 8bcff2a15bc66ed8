// The server-status poller against nginx: the online rule, what counts as an
// answer, the fall-back addresses, the probes of a poll and the thread's life.
#include "core/handles.h"
#include "core/http.h"
#include "ui/messages.h"
#include "ui/status_poller.h"
#include "ui/sync_threads.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Url(const std::string& path) { return Env("VERANDEL_HTTP_URL") + path; }

void Serve(const std::string& name, const std::string& body)
{
    std::ofstream(Env("VERANDEL_DOCROOT") + "\\" + name, std::ios::binary | std::ios::trunc) << body;
}

std::string AccessLog()
{
    std::ifstream in(Env("VERANDEL_ACCESS_LOG"), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The access log once every request answered so far is in it. nginx logs a
// request as it finishes it, a moment after the client has the answer; its
// one worker finishes requests one at a time, so once a request of our own
// made now is logged, so is every one before it.
std::string SettledAccessLog(HINTERNET inet)
{
    static int settled = 0;
    const std::string mark = "/settled-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++settled);
    std::string body;
    FetchStatusUrl(inet, Url(mark), body);  // a 404, logged all the same
    std::string log;
    for (int attempt = 0; attempt < 600; ++attempt) {
        log = AccessLog();
        if (log.find(mark + " ") != std::string::npos) break;
        Sleep(50);
    }
    return log;
}

// Nothing listens there, so the connection is refused at once.
const std::string kClosedPort = "http://127.0.0.1:1/status.json";

class Session {
public:
    Session() : inet_(InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)) {}
    HINTERNET Get() const { return inet_.Get(); }

private:
    InternetHandle inet_;
};

TEST(OnlineMarker, OnlyTheExactMarkersCount)
{
    const struct {
        const char* text;
        bool online;
    } cases[] = {
        {R"({"map":true,"char":false,"login":false})", true},
        {R"({"map": true,"char":false})", false},
        {R"({"login":true})", true},
        {R"({"char":true})", true},
        {R"({"Map":true,"map":false})", false},
        {R"({"map":"true"})", false},
        {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(HasOnlineMarker(c.text), c.online) << c.text;
}

TEST(StatusAddresses, EmptyFieldsFallBackToTheBuiltInDocuments)
{
    LauncherConfig config;
    config.server_status_url = "";
    config.season_status_url = "";
    EXPECT_NE(LegacyStatusUrl(config).find("/api/render/serverstatus.json?env=prod"),
              std::string::npos);
    EXPECT_EQ(LegacyStatusUrl(config), LauncherConfig().server_status_url);
    EXPECT_EQ(SeasonStatusUrl(config), LauncherConfig().season_status_url);
    EXPECT_NE(SeasonStatusUrl(config).find("?env=season"), std::string::npos);
    config.server_status_url = "http://a/s";
    config.season_status_url = "http://a/t";
    EXPECT_EQ(LegacyStatusUrl(config), "http://a/s");
    EXPECT_EQ(SeasonStatusUrl(config), "http://a/t");
}

TEST(FetchStatusUrl, AnOpenedRequestIsAnAnswerWhateverItsStatus)
{
    Session inet;
    ASSERT_TRUE(inet.Get());
    std::string large(5000, 'x');
    large += R"("login":true)";
    Serve("fetch_large.json", large);
    std::string body = "old";
    EXPECT_TRUE(FetchStatusUrl(inet.Get(), Url("/fetch_large.json"), body));
    EXPECT_EQ(body, large);  // read whole across 1024-byte blocks

    // A body far larger than any status document is read no further than 1 MiB.
    Serve("fetch_huge.json", std::string(3 << 20, 'y') + R"("login":true)");
    EXPECT_TRUE(FetchStatusUrl(inet.Get(), Url("/fetch_huge.json"), body));
    EXPECT_GE(body.size(), size_t(1) << 20);
    EXPECT_LT(body.size(), (size_t(1) << 20) + 1024);
    EXPECT_FALSE(HasOnlineMarker(body));

    body = "old";
    EXPECT_TRUE(FetchStatusUrl(inet.Get(), Url("/no_such_page.json"), body));
    EXPECT_NE(body, "old");  // the error page replaced it

    body = "old";
    EXPECT_FALSE(FetchStatusUrl(inet.Get(), kClosedPort, body));
    EXPECT_EQ(body, "old");
    EXPECT_FALSE(FetchStatusUrl(inet.Get(), "", body));
    EXPECT_EQ(body, "old");
}

LauncherConfig PollConfig(const std::string& legacyDoc, const std::string& seasonDoc)
{
    LauncherConfig config;
    config.website_url = Url("/site_index.html");
    config.server_status_url = Url("/" + legacyDoc);
    config.season_status_url = Url("/" + seasonDoc);
    return config;
}

TEST(PollServerStatus, EachProbeFollowsItsOwnDocument)
{
    Serve("site_index.html", "<html></html>");
    Serve("legacy_up.json", R"({"map":true,"char":true,"login":true})");
    Serve("legacy_spaced.json", R"({"map": true})");
    Serve("season_up.json", R"({"login":true})");
    Session inet;
    ASSERT_TRUE(inet.Get());

    ServerStatusMessage s = PollServerStatus(inet.Get(), PollConfig("legacy_up.json", "season_up.json"), false);
    EXPECT_TRUE(s.website_online);
    EXPECT_TRUE(s.legacy_online);
    EXPECT_TRUE(s.season_online);

    s = PollServerStatus(inet.Get(), PollConfig("legacy_spaced.json", "season_missing.json"), false);
    EXPECT_TRUE(s.website_online);
    EXPECT_FALSE(s.legacy_online);
    EXPECT_FALSE(s.season_online);

    LauncherConfig unreachable = PollConfig("legacy_up.json", "season_up.json");
    unreachable.website_url = kClosedPort;
    s = PollServerStatus(inet.Get(), unreachable, false);
    EXPECT_FALSE(s.website_online);
    EXPECT_TRUE(s.legacy_online);

    // A website host that accepts and never answers costs its probe the
    // request's time-out, and the realms are still read.
    LauncherConfig silent = PollConfig("legacy_up.json", "season_up.json");
    silent.website_url = Env("VERANDEL_FAULT_URL") + "/stall/site_index.html?before=1&seconds=600";
    s = PollServerStatus(inet.Get(), silent, false);
    EXPECT_FALSE(s.website_online);
    EXPECT_TRUE(s.legacy_online);
    EXPECT_TRUE(s.season_online);
}

TEST(PollServerStatus, ATestLauncherNeverAsksForTheSeason)
{
    Serve("site_index.html", "<html></html>");
    Serve("test_up.json", R"({"map":true})");
    Serve("test_season_up.json", R"({"map":true})");
    Session inet;
    ASSERT_TRUE(inet.Get());
    const ServerStatusMessage s =
        PollServerStatus(inet.Get(), PollConfig("test_up.json", "test_season_up.json"), true);
    EXPECT_TRUE(s.legacy_online);
    EXPECT_FALSE(s.season_online);
    const std::string log = SettledAccessLog(inet.Get());
    EXPECT_NE(log.find("/test_up.json"), std::string::npos);
    EXPECT_EQ(log.find("/test_season_up.json"), std::string::npos);
}

TEST(ServerStatusThread, PostsAPollAtOnceAndEndsSoonAfterTheWindowCloses)
{
    Serve("site_index.html", "<html></html>");
    Serve("thread_legacy.json", R"({"char":true})");
    g_config = PollConfig("thread_legacy.json", "thread_season_missing.json");
    HWND hwnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hwnd, nullptr);
    g_running.exchange(true);
    std::atomic<bool> ended{false};
    std::thread poller([hwnd, &ended] {
        ServerStatusThreadFunc(hwnd);
        ended.exchange(true);
    });

    MSG msg{};
    bool got = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!got && std::chrono::steady_clock::now() < deadline) {
        got = PeekMessageA(&msg, hwnd, WM_SERVER_STATUS, WM_SERVER_STATUS, PM_REMOVE);
        if (!got) Sleep(20);
    }
    ASSERT_TRUE(got) << "no status within 20 s";
    auto status = TakeMessagePayload<ServerStatusMessage>(msg.wParam);
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->website_online);
    EXPECT_TRUE(status->legacy_online);
    EXPECT_FALSE(status->season_online);

    // Now in its 180-second wait: a cleared flag ends it within about a second.
    Sleep(300);
    const auto cleared = std::chrono::steady_clock::now();
    g_running.exchange(false);
    while (!ended.load() && std::chrono::steady_clock::now() - cleared < std::chrono::seconds(10))
        Sleep(20);
    const auto waited = std::chrono::steady_clock::now() - cleared;
    EXPECT_TRUE(ended.load());
    // One second of sleep plus room for a loaded machine; far below the 180.
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
    if (ended.load()) poller.join(); else poller.detach();
    EXPECT_FALSE(PeekMessageA(&msg, hwnd, WM_SERVER_STATUS, WM_SERVER_STATUS, PM_REMOVE));
    DestroyWindow(hwnd);
    g_running.exchange(true);
}

}  // namespace
