// Runs against the test update service: nginx for real Range/206/416 answers,
// the fault server for what a sound server never sends.
#include "core/handles.h"
#include "core/http.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Pattern(size_t size, int seed)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + seed) % 251);
    return s;
}

// A sparse file: zeros up to offset, then tail.
bool WriteSparse(const std::string& path, uint64_t offset, const std::string& tail)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD written = 0;
    return f && SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN) &&
           ::WriteFile(f.Get(), tail.data(), DWORD(tail.size()), &written, nullptr) && written == tail.size();
}

std::string ReadAt(const std::string& path, uint64_t offset, size_t size)
{
    UniqueHandle f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    std::string data(size, '\0');
    DWORD got = 0;
    if (!f || !SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN) ||
        !::ReadFile(f.Get(), &data[0], DWORD(size), &got, nullptr))
        return std::string();
    data.resize(got);
    return data;
}

struct Report {
    std::string text;
    float percent;
    uint64_t done;
    uint64_t total;
};

class Transfers : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(Env("VERANDEL_HTTP_URL").empty()) << "run under tests/support/service.py";
    }
    void SetUp() override
    {
        session_.Reset(OpenServiceSession());
        ASSERT_TRUE(session_);
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "verandel_http_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
        accessMark_ = ReadFile(Env("VERANDEL_ACCESS_LOG")).size();
        faultMark_ = ReadFile(Env("VERANDEL_FAULT_LOG")).size();
    }
    void TearDown() override
    {
        for (const std::string& f : cleanup_) DeleteFileA(f.c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    // A file served by nginx (and by the fault server's modes) under name.
    void Serve(const std::string& name, const std::string& content)
    {
        const std::string path = Env("VERANDEL_DOCROOT") + "\\" + name;
        WriteFile(path, content);
        cleanup_.push_back(path);
    }
    std::string Local(const std::string& name)
    {
        cleanup_.push_back(dir_ + "\\" + name);
        return cleanup_.back();
    }
    // This test's log lines that mention needle, once count of them are there
    // (nginx writes a line as the request completes, a moment after the client
    // has the answer).
    static std::vector<std::string> LogLines(const std::string& log, size_t mark,
                                             const std::string& needle, size_t count)
    {
        std::vector<std::string> lines;
        for (int attempt = 0; attempt < 40; ++attempt) {
            lines.clear();
            const std::string text = ReadFile(log);
            std::istringstream in(text.size() > mark ? text.substr(mark) : std::string());
            for (std::string line; std::getline(in, line);)
                if (line.find(needle) != std::string::npos) lines.push_back(line);
            if (lines.size() >= count) break;
            Sleep(50);
        }
        return lines;
    }
    std::vector<std::string> AccessLines(const std::string& name, size_t count) const
    {
        return LogLines(Env("VERANDEL_ACCESS_LOG"), accessMark_, "/" + name + " ", count);
    }
    std::vector<std::string> FaultLines(const std::string& name, size_t count) const
    {
        return LogLines(Env("VERANDEL_FAULT_LOG"), faultMark_, "/" + name, count);
    }
    bool Download(const std::string& url, const std::string& path, bool resume)
    {
        reports_.clear();
        const ProgressCallback record = [this](const std::string& t, float p, uint64_t d, uint64_t s) {
            reports_.push_back({t, p, d, s});
        };
        return DownloadFile(session_.Get(), url, path, "label", record, resume);
    }

    InternetHandle session_;
    std::string dir_;
    std::vector<std::string> cleanup_;
    std::vector<Report> reports_;
    size_t accessMark_ = 0;
    size_t faultMark_ = 0;
};

TEST_F(Transfers, ResumeAppendsTheRangeTheServerSends)
{
    const std::string whole = Pattern(1500, 1);
    Serve("resume206.bin", whole);
    const std::string part = Local("resume206.bin.part");
    WriteFile(part, whole.substr(0, 1000));

    ASSERT_TRUE(Download(Env("VERANDEL_HTTP_URL") + "/resume206.bin", part, true));
    EXPECT_EQ(ReadFile(part), whole);
    ASSERT_FALSE(reports_.empty());
    uint64_t previous = 1000;
    for (const Report& r : reports_) {
        EXPECT_EQ(r.total, 1500u);
        EXPECT_GT(r.done, previous);
        EXPECT_EQ(r.text, "Downloading: label");
        previous = r.done;
    }
    EXPECT_EQ(reports_.back().done, 1500u);
    EXPECT_FLOAT_EQ(reports_.back().percent, 100.0f);

    const auto lines = AccessLines("resume206.bin", 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\" 206 500 \"bytes=1000-\" \"QVX-Launcher/1.0\""), std::string::npos)
        << lines[0];
}

// The full client archive is larger than 4 GiB: a resumed part of that size
// is appended to at its end, not over its first bytes.
TEST_F(Transfers, ResumeBeyondFourGiBAppendsAtTheEnd)
{
    const uint64_t base = 4ull << 30;
    const std::string tail = Pattern(1500, 8);
    const std::string served = Env("VERANDEL_DOCROOT") + "\\big.zip";
    cleanup_.push_back(served);
    ASSERT_TRUE(WriteSparse(served, base, tail));
    const std::string part = Local("big.zip.part");
    ASSERT_TRUE(WriteSparse(part, base, tail.substr(0, 1000)));

    ASSERT_TRUE(Download(Env("VERANDEL_HTTP_URL") + "/big.zip", part, true));
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(part.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow, base + 1500);
    EXPECT_EQ(ReadAt(part, base, 1500), tail);
    EXPECT_EQ(ReadAt(part, 0, 500), std::string(500, '\0'));
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.back().done, base + 1500);
    EXPECT_EQ(reports_.back().total, base + 1500);
    const auto lines = AccessLines("big.zip", 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\" 206 500 \"bytes=4294968296-\""), std::string::npos) << lines[0];
}

TEST_F(Transfers, ServerIgnoringRangeRestartsTheFile)
{
    const std::string whole = Pattern(1500, 2);
    Serve("norange.bin", whole);
    const std::string part = Local("norange.bin.part");
    WriteFile(part, std::string(1000, 'x'));

    ASSERT_TRUE(Download(Env("VERANDEL_FAULT_URL") + "/ignore-range/norange.bin", part, true));
    EXPECT_EQ(ReadFile(part), whole);
    ASSERT_FALSE(reports_.empty());
    for (const Report& r : reports_) {
        EXPECT_LE(r.done, 1500u);  // counted from 0, not from the partial's 1000
        EXPECT_EQ(r.total, 1500u);
    }
    EXPECT_EQ(reports_.back().done, 1500u);
    const auto lines = FaultLines("norange.bin", 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("\"bytes=1000-\""), std::string::npos) << lines[0];
}

TEST_F(Transfers, NoPartialFileMeansNoRangeHeader)
{
    const std::string whole = Pattern(800, 3);
    Serve("fresh.bin", whole);
    for (const bool emptyPart : {false, true}) {
        const std::string part = Local(emptyPart ? "fresh_empty.part" : "fresh_none.part");
        if (emptyPart) WriteFile(part, "");
        ASSERT_TRUE(Download(Env("VERANDEL_HTTP_URL") + "/fresh.bin", part, true));
        EXPECT_EQ(ReadFile(part), whole);
    }
    const auto lines = AccessLines("fresh.bin", 2);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines)
        EXPECT_NE(line.find("\" 200 800 \"-\""), std::string::npos) << line;
}

// A resumed request past the end of the served file gets 416: the file starts
// over from byte 0 once, instead of failing on every later run.
TEST_F(Transfers, UnsatisfiableRangeStartsTheFileOverOnce)
{
    const std::string whole = Pattern(1500, 4);
    Serve("complete.bin", whole);
    const struct {
        const char* name;
        std::string partial;
    } cases[] = {
        {"complete.part", whole},
        {"longer.part", std::string(2000, 'y')},
    };
    for (const auto& c : cases) {
        const std::string part = Local(c.name);
        WriteFile(part, c.partial);
        EXPECT_TRUE(Download(Env("VERANDEL_HTTP_URL") + "/complete.bin", part, true)) << c.name;
        EXPECT_EQ(ReadFile(part), whole) << c.name;
        ASSERT_FALSE(reports_.empty());
        EXPECT_EQ(reports_.back().total, 1500u);
    }
    const auto lines = AccessLines("complete.bin", 4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\" 416 "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("\"bytes=1500-\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\" 200 1500 \"-\""), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\"bytes=2000-\""), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("\" 200 1500 \"-\""), std::string::npos) << lines[3];
}

TEST_F(Transfers, RefusedAnswersLeaveTheOutputUntouched)
{
    const std::string fault = Env("VERANDEL_FAULT_URL");
    const struct {
        std::string url;
        bool resume;
    } cases[] = {
        {Env("VERANDEL_HTTP_URL") + "/missing.bin", true},
        {Env("VERANDEL_HTTP_URL") + "/missing.bin", false},
        {fault + "/status/416", true},  // the plain retry is refused as well
        {fault + "/status/500", true},
        {fault + "/status/403", false},
        {"http://127.0.0.1:1/refused.bin", true},
    };
    const std::string before = Pattern(1000, 5);
    for (const auto& c : cases) {
        const std::string part = Local("refused.part");
        WriteFile(part, before);
        EXPECT_FALSE(Download(c.url, part, c.resume)) << c.url;
        EXPECT_EQ(ReadFile(part), before) << c.url;
        EXPECT_TRUE(reports_.empty()) << c.url;

        std::string document = "unchanged";
        EXPECT_FALSE(DownloadToString(session_.Get(), c.url.c_str(), document)) << c.url;
        EXPECT_EQ(document, "unchanged") << c.url;
    }
    const auto tried416 = FaultLines("status/416", 3);  // two from DownloadFile, one document
    ASSERT_EQ(tried416.size(), 3u);
    EXPECT_NE(tried416[0].find("\"bytes=1000-\""), std::string::npos) << tried416[0];
    EXPECT_NE(tried416[1].find("\"-\" \"QVX-Launcher/1.0\""), std::string::npos) << tried416[1];
    // A refused download creates no file either.
    const std::string absent = Local("never.part");
    EXPECT_FALSE(Download(Env("VERANDEL_HTTP_URL") + "/missing.bin", absent, false));
    EXPECT_FALSE(Exists(absent));
}

TEST_F(Transfers, EmptyBody)
{
    Serve("empty.bin", "");
    const std::string url = Env("VERANDEL_HTTP_URL") + "/empty.bin";
    std::string document = "stale";
    EXPECT_FALSE(DownloadToString(session_.Get(), url.c_str(), document));
    EXPECT_TRUE(document.empty());

    const std::string out = Local("empty.out");
    WriteFile(out, "old content");
    EXPECT_TRUE(Download(url, out, false));
    EXPECT_TRUE(Exists(out));
    EXPECT_EQ(ReadFile(out), "");
    EXPECT_TRUE(reports_.empty());
}

TEST_F(Transfers, DocumentMustArriveWhole)
{
    const std::string whole = Pattern(100000, 6);  // several 16 KiB reads
    Serve("manifest.json", whole);
    const std::string fault = Env("VERANDEL_FAULT_URL");
    const struct {
        std::string url;
        bool ok;
    } cases[] = {
        {Env("VERANDEL_HTTP_URL") + "/manifest.json", true},
        {fault + "/no-length/manifest.json", true},
        {fault + "/cut/manifest.json?send=60000", false},
        {fault + "/cut/manifest.json?send=0", false},
    };
    for (const auto& c : cases) {
        std::string document = "stale";
        EXPECT_EQ(DownloadToString(session_.Get(), c.url.c_str(), document), c.ok) << c.url;
        EXPECT_EQ(document, c.ok ? whole : std::string()) << c.url;
    }
}

TEST_F(Transfers, DocumentsOverTheLimitAreRefused)
{
    // Zero-filled and sparse: nginx announces the length, the fault server does not.
    const std::string path = Env("VERANDEL_DOCROOT") + "\\huge.json";
    cleanup_.push_back(path);
    {
        UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(kMaxDocumentSize + 1);
        ASSERT_TRUE(SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(f.Get()));
    }
    for (const std::string& url : {Env("VERANDEL_HTTP_URL") + "/huge.json",
                                   Env("VERANDEL_FAULT_URL") + "/no-length/huge.json"}) {
        std::string document;
        EXPECT_FALSE(DownloadToString(session_.Get(), url.c_str(), document)) << url;
        EXPECT_TRUE(document.empty()) << url;
    }
}

TEST_F(Transfers, BodyWithoutLengthReportsZeroPercent)
{
    const std::string whole = Pattern(200000, 7);
    Serve("nolength.bin", whole);
    const std::string out = Local("nolength.out");
    ASSERT_TRUE(Download(Env("VERANDEL_FAULT_URL") + "/no-length/nolength.bin", out, false));
    EXPECT_EQ(ReadFile(out), whole);
    ASSERT_FALSE(reports_.empty());
    for (const Report& r : reports_) {
        EXPECT_EQ(r.total, 0u);
        EXPECT_EQ(r.percent, 0.0f);
        EXPECT_EQ(r.text, "Downloading: label");
    }
    EXPECT_EQ(reports_.back().done, whole.size());
}

TEST_F(Transfers, BodyCutShortStillWritesWhatArrived)
{
    // Callers find such a file by its CRC-32.
    const std::string whole = Pattern(3 * 1048576, 8);
    Serve("cut.bin", whole);
    const std::string out = Local("cut.out");
    EXPECT_TRUE(Download(Env("VERANDEL_FAULT_URL") + "/cut/cut.bin?send=1048576", out, false));
    EXPECT_EQ(ReadFile(out), whole.substr(0, 1048576));
    ASSERT_FALSE(reports_.empty());
    EXPECT_EQ(reports_.back().text, "Downloading: label (1 / 3 MB)");
}

// A host that accepts and then stays silent, before its status line or in the
// middle of a body, counts as a lost connection: the request gives up on it
// instead of waiting for as long as the host likes.
TEST_F(Transfers, SilentHostCountsAsALostConnection)
{
    struct ShortTimeout {
        ShortTimeout() { SetServiceTimeoutForChecks(1000); }
        ~ShortTimeout() { SetServiceTimeoutForChecks(0); }
    } shortTimeout;
    session_.Reset(OpenServiceSession());
    const std::string whole = Pattern(300000, 9);
    Serve("silent.bin", whole);
    const std::string stall = Env("VERANDEL_FAULT_URL") + "/stall/silent.bin?seconds=600&";
    const struct {
        const char* query;
        bool fileOk;  // false: refused, the output never opened; true: broken off
    } cases[] = {{"before=1", false}, {"after=200000", true}};
    for (const auto& c : cases) {
        const std::string url = stall + c.query;
        std::string document = "stale";
        EXPECT_FALSE(DownloadToString(session_.Get(), url.c_str(), document)) << c.query;
        const std::string out = Local("silent.out");
        EXPECT_EQ(Download(url, out, false), c.fileOk) << c.query;
        EXPECT_EQ(Exists(out), c.fileOk) << c.query;
        const std::string kept = ReadFile(out);
        EXPECT_EQ(kept, whole.substr(0, kept.size())) << c.query;
    }
    // The launcher hung up on the silence; the host never ended it.
    const auto silent = FaultLines("stall/silent.bin?seconds=600&before=1 ", 2);
    ASSERT_EQ(silent.size(), 2u);
    for (const std::string& line : silent) EXPECT_NE(line.find("\" 499 0 "), std::string::npos) << line;
}

TEST(DownloadProgress, TextShowsMegabytesFromOneMiB)
{
    const uint64_t MiB = 1048576;
    const struct {
        uint64_t done, total;
        const char* text;
    } cases[] = {
        {5 * MiB + 10, 120 * MiB, "Downloading: data.grf (5 / 120 MB)"},
        {700 * 1024, 700 * 1024, "Downloading: data.grf"},
        {MiB - 1, MiB - 1, "Downloading: data.grf"},
        {MiB - 1, MiB, "Downloading: data.grf (0 / 1 MB)"},
        {123, 0, "Downloading: data.grf"},
        {3 * MiB, 2 * MiB, "Downloading: data.grf (3 / 2 MB)"},
    };
    for (const auto& c : cases) EXPECT_EQ(DownloadProgressText("data.grf", c.done, c.total), c.text);
    EXPECT_EQ(DownloadProgressPercent(123, 0), 0.0f);
    EXPECT_FLOAT_EQ(DownloadProgressPercent(1, 4), 25.0f);
    EXPECT_FLOAT_EQ(DownloadProgressPercent(3, 2), 150.0f);  // more than announced: not clamped
}

}  // namespace
