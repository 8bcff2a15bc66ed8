// The patch list (parsing, and its download from nginx and the fault server),
// single patch downloads, and the version file's bytes.
#include "core/foundation_support.h"
#include "core/handles.h"
#include "core/http.h"
#include "sync/patch_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

using checks::Env;
using checks::PathExists;
using checks::ReadBytes;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {


using Entry = std::tuple<uint32_t, std::string, std::string>;

std::vector<Entry> Entries(const std::vector<PatchListEntry>& list)
{
    std::vector<Entry> out;
    for (const PatchListEntry& e : list) out.emplace_back(e.version, e.file, e.flag);
    return out;
}

std::string WithCrLf(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

const std::string kExampleList =
    "  // comment after two blanks\n"
    "\n"
    "\t\n"
    "100 patch_100.rgz\n"
    "101\tpatch_101.zip stop\n"
    "abc x\n"
    "102\n"
    "103 a b c";  // the last line needs no line end

const std::vector<Entry> kExampleEntries = {
    {100, "patch_100.rgz", ""}, {101, "patch_101.zip", "stop"}, {103, "a", "b"}};

class Service : public ::testing::Test {
protected:
    void SetUp() override
    {
        url_ = Env("VERANDEL_HTTP_URL");
        fault_ = Env("VERANDEL_FAULT_URL");
        docroot_ = Env("VERANDEL_DOCROOT");
        ASSERT_FALSE(url_.empty() || fault_.empty() || docroot_.empty()) << "run under tests/support/service.py";
    }
    std::string url_, fault_, docroot_;
};

}  // namespace

TEST(ParsePatchList, ReadsLinesInDocumentOrder)
{
    EXPECT_EQ(Entries(ParsePatchList(kExampleList)), kExampleEntries);
    EXPECT_EQ(Entries(ParsePatchList(WithCrLf(kExampleList) + "\r\n")), kExampleEntries);

    const std::vector<std::pair<const char*, std::vector<Entry>>> cases = {
        {"12abc file", {{12, "abc", "file"}}},            // the digits end the number
        {"# 5 x", {}},                                     // not a comment, not a number
        {"-1 evil.rgz", {}},                               // signed numbers are refused
        {"+5 evil.rgz", {}},
        {"4294967295 max.rgz", {{4294967295u, "max.rgz", ""}}},
        {"4294967296 over.rgz", {}},                       // beyond 32 bits
        {"99999999999999999999 over.rgz", {}},
        {"007 seven.rgz", {{7, "seven.rgz", ""}}},
        {"105 c\n103 a\n104 b", {{105, "c", ""}, {103, "a", ""}, {104, "b", ""}}},
        {"  106  f.rgz  stop  extra", {{106, "f.rgz", "stop"}}},
        // Saved as "UTF-8 with BOM": the mark opens the document, not the line.
        {"\xEF\xBB\xBF" "301 one.txt\r\n302 two.txt\r\n", {{301, "one.txt", ""}, {302, "two.txt", ""}}},
        {"\xEF\xBB\xBF" "// notes\r\n7 x.rgz", {{7, "x.rgz", ""}}},
        {"7 x.rgz\n\xEF\xBB\xBF" "8 y.rgz", {{7, "x.rgz", ""}}},  // only at the very start
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(Entries(ParsePatchList(text)), expected) << text;
}

TEST(PatchVersionFile, FourLittleEndianBytes)
{
    ScratchDir dir("version-file");
    const std::string path = dir / "main.inf";
    WriteBytes(path, "a longer file that is replaced");
    ASSERT_TRUE(WritePatchVersion(305, path));
    EXPECT_EQ(ReadBytes(path), std::string("\x31\x01\x00\x00", 4));
    EXPECT_FALSE(PathExists(path + ".tmp"));
    EXPECT_FALSE(WritePatchVersion(1, dir / "missing\\main.inf"));

    const std::vector<std::pair<std::string, uint32_t>> reads = {
        {std::string("\xDD\0\0\0", 4), 221}, {"", 0}, {"\x05", 5}, {"\x05\x01", 261},
        {std::string("\x01\x02\x03\x04\x05\x06", 6), 0x04030201u}};
    for (const auto& [bytes, version] : reads) {
        WriteBytes(path, bytes);
        EXPECT_EQ(ReadPatchVersion(path), version);
    }
}

TEST_F(Service, DownloadsThePatchList)
{
    WriteBytes(docroot_ + "\\patch_qvx.txt", WithCrLf(kExampleList));
    WriteBytes(docroot_ + "\\empty.txt", "");
    std::string error = "untouched";
    EXPECT_EQ(Entries(DownloadPatchList(url_ + "/patch_qvx.txt", error)), kExampleEntries);
    EXPECT_TRUE(DownloadPatchList(url_ + "/empty.txt", error).empty());
    EXPECT_EQ(error, "untouched");

    // A 404 page, a body cut short of its length and a refused connection are
    // failures with a reason, never a list.
    for (const std::string& bad : {url_ + "/missing.txt", fault_ + "/status/500",
                                   fault_ + "/cut/patch_qvx.txt?send=40",
                                   std::string("http://127.0.0.1:1/patch_qvx.txt")}) {
        error.clear();
        EXPECT_TRUE(DownloadPatchList(bad, error).empty()) << bad;
        EXPECT_EQ(error.rfind("Failed to download patch list from server", 0), 0u) << bad << ": " << error;
    }

    // A URL that names some large file instead is refused before memory fills.
    HANDLE big = CreateFileA((docroot_ + "\\client.zip").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(big, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 64ll * 1024 * 1024 + 1;
    const bool sized = SetFilePointerEx(big, end, nullptr, FILE_BEGIN) && SetEndOfFile(big);
    CloseHandle(big);
    ASSERT_TRUE(sized);
    EXPECT_TRUE(DownloadPatchList(url_ + "/client.zip", error).empty());
    EXPECT_EQ(error, "Failed to download patch list from server (the list is too large).");
}

TEST_F(Service, DownloadsAPatchWithProgressPerBlock)
{
    std::string body(65536 * 5 / 2, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = char(i * 7 % 253);
    WriteBytes(docroot_ + "\\patch_200.rgz", body);
    ScratchDir dir("patch-download");
    const std::string target = dir / "temp_patch_patch_200.rgz";

    InternetHandle session(OpenServiceSession());
    ASSERT_TRUE(session);
    std::vector<std::tuple<std::string, float, uint64_t, uint64_t>> reports;
    auto progress = [&](const std::string& text, float percent, uint64_t done, uint64_t total) {
        reports.emplace_back(text, percent, done, total);
    };
    ASSERT_TRUE(DownloadPatchFile(session.Get(), (url_ + "/patch_200.rgz").c_str(), target, progress,
                                  "patch_200.rgz"));
    EXPECT_EQ(ReadBytes(target), body);
    EXPECT_FALSE(PathExists(target + ".part"));
    ASSERT_EQ(reports.size(), 3u);
    const float percents[] = {40.0f, 80.0f, 100.0f};
    const uint64_t dones[] = {65536, 131072, 163840};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(std::get<0>(reports[i]), "Downloading patch: patch_200.rgz");
        EXPECT_FLOAT_EQ(std::get<1>(reports[i]), percents[i]);
        EXPECT_EQ(std::get<2>(reports[i]), dones[i]);
        EXPECT_EQ(std::get<3>(reports[i]), 163840u);
    }
}

TEST_F(Service, AFailedPatchDownloadLeavesNoFileAtTheTarget)
{
    WriteBytes(docroot_ + "\\patch_201.rgz", std::string(200000, 'p'));
    ScratchDir dir("patch-failure");
    const std::string target = dir / "temp_patch_patch_201.rgz";
    InternetHandle session(OpenServiceSession());
    ASSERT_TRUE(session);
    for (const std::string& bad : {url_ + "/missing.rgz", fault_ + "/status/503",
                                   fault_ + "/cut/patch_201.rgz?send=70000"}) {
        WriteBytes(target, "left from an earlier run");
        EXPECT_FALSE(DownloadPatchFile(session.Get(), bad.c_str(), target, nullptr, "patch_201.rgz")) << bad;
        EXPECT_FALSE(PathExists(target)) << bad;
        EXPECT_FALSE(PathExists(target + ".part")) << bad;
    }
}
