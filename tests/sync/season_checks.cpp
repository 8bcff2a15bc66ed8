// The Season profile synchronisation against the real nginx: skipped syncs,
// files kept, linked from the Legacy profile or downloaded, and downloads that
// fail before anything is replaced.
#include "core/files.h"
#include "core/foundation_support.h"
#include "core/identity.h"
#include "sync/season.h"
#include "sync/text_lines.h"

#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>
#include <vector>

using checks::Env;
using checks::PathExists;
using checks::ReadBytes;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {


std::string Crc(const std::string& bytes)
{
    char text[9];
    std::snprintf(text, sizeof(text), "%08lx",
                  crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    return text;
}

void Put(const std::string& path, const std::string& bytes)
{
    CreateParentDirectories(path);
    WriteBytes(path, bytes);
}

DWORD LinkCount(const std::string& path)
{
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE) return 0;
    GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    return info.nNumberOfLinks;
}

// Files below dir with their contents, keyed with '/' separators.
std::map<std::string, std::string> Files(const std::string& dir)
{
    std::map<std::string, std::string> out;
    for (const auto& [rel, bytes] : checks::Tree(dir)) {
        if (checks::IsDir(dir + "\\" + rel)) continue;
        std::string key = rel;
        std::replace(key.begin(), key.end(), '\\', '/');
        out[key] = bytes;
    }
    return out;
}

using Report = std::tuple<std::string, float, uint64_t, uint64_t>;

// Every report, with the download progress of one file folded into its first.
struct Recorder {
    std::vector<Report> reports;
    ProgressCallback Callback()
    {
        return [this](const std::string& text, float percent, uint64_t done, uint64_t total) {
            const bool download = text.compare(0, 13, "Downloading: ") == 0;
            if (download && !reports.empty() && std::get<0>(reports.back()) == text) return;
            reports.emplace_back(text, download ? 0.0f : percent, download ? 0 : done, download ? 0 : total);
        };
    }
};

// Lines appended to a log after construction that contain one of the words.
class Tail {
public:
    explicit Tail(std::string path) : path_(std::move(path)) { mark_ = ReadBytes(path_).size(); }
    std::vector<std::string> Lines(const std::vector<std::string>& words, size_t skip) const
    {
        std::vector<std::string> out;
        ForEachLine(ReadBytes(path_).substr(mark_), [&](const std::string& line) {
            for (const std::string& w : words) {
                if (line.find(w) != std::string::npos) {
                    out.push_back(line.size() > skip ? line.substr(skip) : line);
                    break;
                }
            }
        });
        return out;
    }

private:
    std::string path_;
    size_t mark_ = 0;
};

// The launcher's own log, without time stamps, Season lines only.
struct SeasonLog : Tail {
    SeasonLog() : Tail(GetLauncherDir() + "\\launcher.log") {}
    std::vector<std::string> Lines(const std::vector<std::string>& more = {}) const
    {
        std::vector<std::string> words = {"Season"};
        words.insert(words.end(), more.begin(), more.end());
        return Tail::Lines(words, 26);
    }
};

struct Entry {
    std::string path;  // as written into the document
    std::string crc;
};

std::string Manifest(uint32_t version, const std::string& baseUrl, const std::vector<Entry>& entries)
{
    std::string text = "{\n  \"patch_version\": " + std::to_string(version) + ",\n";
    if (!baseUrl.empty()) text += "  \"base_url\": \"" + baseUrl + "\",\n";
    text += "  \"files\": [\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        text += "    {\"path\": \"" + entries[i].path + "\", \"size\": 1, \"crc32\": \"" + entries[i].crc + "\"}";
        text += i + 1 < entries.size() ? ",\n" : "\n";
    }
    return text + "  ]\n}\n";
}

class SeasonSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        url_ = Env("VERANDEL_HTTP_URL");
        docroot_ = Env("VERANDEL_DOCROOT");
        accessLog_ = Env("VERANDEL_ACCESS_LOG");
        ASSERT_FALSE(url_.empty() || docroot_.empty() || accessLog_.empty())
            << "run under tests/support/service.py";
        folder_ = std::string("season-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                  std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs_);
        access_.reset(new Tail(accessLog_));
    }

    // Serves bytes at folder/rel on nginx.
    void Serve(const std::string& rel, const std::string& bytes)
    {
        std::string local = rel;
        for (char& c : local)
            if (c == '/') c = '\\';
        Put(docroot_ + "\\" + folder_ + "\\" + local, bytes);
    }
    std::string Url(const std::string& rel) const { return url_ + "/" + folder_ + "/" + rel; }

    // The paths requested below this test's folder, in order. nginx logs a
    // request once it is done, which may be a moment after the client has it.
    std::vector<std::string> Requests(size_t expected) const
    {
        std::vector<std::string> out;
        for (int i = 0; i < 100; ++i) {
            out.clear();
            for (const std::string& line : access_->Lines({"\"GET /" + folder_ + "/"}, 0)) {
                const size_t at = line.find("\"GET ") + 5;
                out.push_back(line.substr(at, line.find(' ', at) - at));
            }
            if (out.size() >= expected) break;
            Sleep(50);
        }
        return out;
    }
    std::string Path(const std::string& rel) const { return "/" + folder_ + "/" + rel; }

    std::string url_, docroot_, accessLog_, folder_;
    std::unique_ptr<Tail> access_;
    static int runs_;
};
int SeasonSync::runs_ = 0;

}  // namespace

TEST(SeasonDownloadBaseUrl, EndsInOneSlash)
{
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"http://cdn/season/files", "http://h/season/", "http://cdn/season/files/"},
        {"http://cdn/season/files/", "http://h/season/", "http://cdn/season/files/"},
        {"", "http://h/season/", "http://h/season/client/"},
        // The configured URL is used as it stands, as for the live validation.
        {"", "http://h/season", "http://h/seasonclient/"},
    };
    for (const auto& [base, download, expected] : cases)
        EXPECT_EQ(SeasonDownloadBaseUrl(base, download), expected) << base << " | " << download;
}

TEST_F(SeasonSync, SkipsWhenThereIsNoManifestToBeHad)
{
    Serve("nofiles.json", "{\"patch_version\": 3, \"files\": []}");
    Serve("empty.json", "");
    struct Case {
        std::string url;
        bool warned;
    };
    const Case cases[] = {
        {"", false},
        {Url("missing.json"), true},
        {Url("nofiles.json"), true},
        {Url("empty.json"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        ScratchDir game("season-skip");
        Recorder recorder;
        SeasonLog log;
        std::string error = "untouched";
        EXPECT_TRUE(SyncSeasonProfile(c.url, Url(""), game.Path(), recorder.Callback(), error));
        EXPECT_EQ(error, "untouched");
        EXPECT_FALSE(PathExists(game / "profiles"));
        if (c.warned) {
            EXPECT_EQ(recorder.reports, (std::vector<Report>{{"Checking Season realm files...", 0.0f, 0, 0}}));
            EXPECT_EQ(log.Lines(), (std::vector<std::string>{"[WARN] Season manifest unavailable at " + c.url +
                                                             "; skipping Season profile sync."}));
        } else {
            EXPECT_TRUE(recorder.reports.empty());
            EXPECT_TRUE(log.Lines().empty());
        }
    }
}

TEST_F(SeasonSync, KeepsLinksAndDownloadsTheOverlayFiles)
{
    const std::string grf = "season grf", lua = "x = 1", myFile = "my file v2", fresh = "new v2";
    Serve("files/System/My File.lua", myFile);
    Serve("files/System/new.lua", fresh);
    Serve("files/data.grf", "never fetched");
    Serve("manifest.json",
          Manifest(7, Url("files"),
                   {{"qvx_patch.grf", Crc(grf)},
                    {"data.grf", Crc("never fetched")},
                    {"System\\Data\\x.lua", Crc(lua)},  // backslashes as some tools write them
                    {"System/../../outside.lua", Crc(lua)},
                    {"./System/My File.lua", Crc(myFile)},
                    {"System/new.lua", Crc(fresh)}}));

    ScratchDir game("season-main");
    const std::string season = game / "profiles\\season", legacy = game / "profiles\\legacy";
    Put(season + "\\qvx_patch.grf", grf);
    Put(season + "\\System\\My File.lua", "my file v1");
    Put(season + "\\System\\extra.lua", "not listed");
    Put(season + "\\System\\new.lua.part", "left by an earlier run, longer than the file");
    Put(legacy + "\\System\\Data\\x.lua", lua);
    Put(legacy + "\\System\\new.lua", "legacy differs");

    Recorder recorder;
    SeasonLog log;
    std::string error = "untouched";
    ASSERT_TRUE(SyncSeasonProfile(Url("manifest.json"), Url(""), game.Path(), recorder.Callback(), error));
    EXPECT_EQ(error, "untouched");

    EXPECT_EQ(Files(season), (std::map<std::string, std::string>{{"qvx_patch.grf", grf},
                                                                 {"System/Data/x.lua", lua},
                                                                 {"System/My File.lua", myFile},
                                                                 {"System/extra.lua", "not listed"},
                                                                 {"System/new.lua", fresh}}));
    EXPECT_EQ(LinkCount(season + "\\System\\Data\\x.lua"), 2u);
    EXPECT_EQ(Files(legacy), (std::map<std::string, std::string>{{"System/Data/x.lua", lua},
                                                                 {"System/new.lua", "legacy differs"}}));
    EXPECT_FALSE(PathExists(game / "outside.lua"));
    EXPECT_FALSE(PathExists(game / "profiles\\outside.lua"));
    EXPECT_FALSE(PathExists(game / "data.grf"));

    EXPECT_EQ(recorder.reports,
              (std::vector<Report>{{"Checking Season realm files...", 0.0f, 0, 0},
                                   {"Validating Season profile (1/4): qvx_patch.grf", 0.0f, 1, 4},
                                   {"Validating Season profile (2/4): System/Data/x.lua", 25.0f, 2, 4},
                                   {"Validating Season profile (3/4): System/My File.lua", 50.0f, 3, 4},
                                   {"Validating Season profile (4/4): System/new.lua", 75.0f, 4, 4},
                                   {"Downloading: [Season] (1/2) System/My File.lua", 0.0f, 0, 0},
                                   {"Downloading: [Season] (2/2) System/new.lua", 0.0f, 0, 0},
                                   {"Season profile is up to date.", 100.0f, 4, 4}}));
    EXPECT_EQ(log.Lines({"outside.lua"}),
              (std::vector<std::string>{
                  "[WARN] Ignoring manifest entry with unsafe path: System/../../outside.lua",
                  "[INFO] Loaded Season manifest (patch_version=7, overlay_files=4)",
                  "[INFO] Linked unchanged file from Legacy to Season profile: System/Data/x.lua",
                  "[INFO] Downloading 2 Season profile file(s)...",
                  "[INFO] Updated Season profile file: System/My File.lua (crc32=" + Crc(myFile) + ")",
                  "[INFO] Updated Season profile file: System/new.lua (crc32=" + Crc(fresh) + ")"}));
    EXPECT_EQ(Requests(3), (std::vector<std::string>{Path("manifest.json"), Path("files/System/My%20File.lua"),
                                                     Path("files/System/new.lua")}));

    // A second pass finds every file right: nothing is fetched but the manifest.
    Recorder again;
    SeasonLog log2;
    access_.reset(new Tail(accessLog_));
    ASSERT_TRUE(SyncSeasonProfile(Url("manifest.json"), Url(""), game.Path(), again.Callback(), error));
    ASSERT_EQ(again.reports.size(), 6u);
    EXPECT_EQ(again.reports.back(), (Report{"Season profile is up to date.", 100.0f, 4, 4}));
    EXPECT_EQ(log2.Lines({"outside.lua"}).size(), 2u);  // the unsafe entry and the manifest line
    EXPECT_EQ(Requests(1), (std::vector<std::string>{Path("manifest.json")}));
}

TEST_F(SeasonSync, WithoutBaseUrlFilesComeFromTheClientFolderOfTheDownloadUrl)
{
    Serve("client/System/Data/x.lua", "x");
    Serve("manifest.json", Manifest(2, "", {{"System\\Data\\x.lua", Crc("x")}}));
    Serve("plain.json", Manifest(2, "", {{"data.grf", Crc("x")}, {"qvx.dll", Crc("x")}}));
    ScratchDir game("season-client");
    std::string error;
    ASSERT_TRUE(SyncSeasonProfile(Url("manifest.json"), Url(""), game.Path(), ProgressCallback(), error));
    EXPECT_EQ(ReadBytes(game / "profiles\\season\\System\\Data\\x.lua"), "x");
    EXPECT_EQ(Requests(2), (std::vector<std::string>{Path("manifest.json"), Path("client/System/Data/x.lua")}));

    // A manifest without realm files has nothing to check.
    Recorder recorder;
    SeasonLog log;
    ASSERT_TRUE(SyncSeasonProfile(Url("plain.json"), Url(""), game.Path(), recorder.Callback(), error));
    EXPECT_EQ(recorder.reports, (std::vector<Report>{{"Checking Season realm files...", 0.0f, 0, 0},
                                                     {"Season profile is up to date.", 100.0f, 0, 0}}));
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"[INFO] Loaded Season manifest (patch_version=2, overlay_files=0)"}));
}

TEST_F(SeasonSync, AFailedDownloadReplacesNothingAndEndsTheRun)
{
    Serve("files/System/b.lua", "b v2");
    Serve("files/System/a.lua", "a as served");
    struct Case {
        const char* what;
        std::string aCrc;  // what the manifest claims for System/a.lua
        bool serveA;
        bool aIsFolder;
        std::string error;
    };
    const Case cases[] = {
        {"checksum differs", Crc("a v2"), true, false, "Season file hash verification failed: System/a.lua"},
        {"not on the service", Crc("a v2"), false, false, "Failed to download Season file: System/a.lua"},
        {"a folder in the file's place", Crc("a as served"), true, true,
         "Could not write Season file to disk: System/a.lua"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string files = c.serveA ? "files" : "nothing";
        Serve("manifest.json", Manifest(4, Url(files), {{"System/a.lua", c.aCrc}, {"System/b.lua", Crc("b v2")}}));
        ScratchDir game("season-fail");
        const std::string season = game / "profiles\\season\\System";
        Put(season + (c.aIsFolder ? "\\a.lua\\inside.lua" : "\\a.lua"), "a v1");
        Put(season + "\\b.lua", "b v1");
        std::string error = "stale text";
        SeasonLog log;
        EXPECT_FALSE(SyncSeasonProfile(Url("manifest.json"), Url(""), game.Path(), ProgressCallback(), error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(Files(season), (std::map<std::string, std::string>{
                                     {c.aIsFolder ? "a.lua/inside.lua" : "a.lua", "a v1"}, {"b.lua", "b v1"}}));
        const std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], "[INFO] Downloading 2 Season profile file(s)...");
    }
}
