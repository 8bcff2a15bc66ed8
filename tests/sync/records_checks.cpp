// The integrity cache, the patched-file records and the patch level's start
// value: line formats byte for byte, and the cases that depend on the
// launcher's own directory and name, run in copies of this program.
#include "core/foundation_support.h"
#include "sync/integrity_cache.h"
#include "sync/patch_list.h"
#include "sync/patched_hashes.h"

#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using checks::PathExists;
using checks::ReadBytes;
using checks::RunCheckInCopy;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

std::string Crc(const std::string& data)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08lx",
                  crc32(0L, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
    return hex;
}

// A file of the given size without writing its bytes.
void MakeSizedFile(const std::string& path, int64_t size)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = size;
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
}

std::string LauncherDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of('\\'));
}

}  // namespace

TEST(IntegrityCacheText, ReadsLenientlyAndWritesSortedLowerCaseKeys)
{
    const IntegrityCache cache = ParseIntegrityCache(
        "Data\\Big.GRF|209715200|132000000000000000|ABCDEF12\r\n"
        "two|1|2\n"                 // only two '|': ignored
        "five|1|2|aa|bb|CC\n"       // the crc keeps the further '|'
        "odd|abc| 7x|00000000\n"    // leading digits or 0
        "./bgm/a.mp3|5|6|11111111\n"
        "BGM/A.MP3|7|8|22222222");  // a later line for the same key wins; no final line end
    EXPECT_EQ(FormatIntegrityCache(cache),
              "bgm/a.mp3|7|8|22222222\n"
              "data/big.grf|209715200|132000000000000000|abcdef12\n"
              "five|1|2|aa|bb|cc\n"
              "odd|0|7|00000000\n");
    EXPECT_EQ(cache.at("data/big.grf").size, 209715200u);
    EXPECT_EQ(cache.at("data/big.grf").mtime, 132000000000000000u);
}

TEST(PatchedHashesText, ReadsLenientlyAndWritesSortedLowerCaseKeys)
{
    const PatchedHashes records = ParsePatchedHashes(
        "A/B.txt|7|ABCD1234\n"
        "a/b.txt|9|ffff0000\r\n"
        "x|12\n"
        "y|12|\n"
        "z|abc|00000000\n"
        "System\\A.lua|305|0badf00d\n"
        "Data\\Z.txt|1|12345678\n"
        "bgm\\a.mp3|4294967295|87654321\n");
    EXPECT_EQ(FormatPatchedHashes(records),
              "a/b.txt|9|ffff0000\n"
              "bgm/a.mp3|4294967295|87654321\n"
              "data/z.txt|1|12345678\n"
              "system/a.lua|305|0badf00d\n"
              "y|12|\n"
              "z|0|00000000\n");
}

TEST(RecordFiles, WrittenInTextModeThroughARename)
{
    ScratchDir dir("records");
    const std::string path = dir / "integrity_cache.dat";
    // A hard link to the old file shows whether the file was rewritten in
    // place (the link would change) or replaced (it keeps the old bytes).
    WriteBytes(path, "old|1|2|33333333\r\nlonger than the new content\r\n");
    ASSERT_TRUE(CreateHardLinkA((dir / "link.dat").c_str(), path.c_str(), nullptr));

    IntegrityCache cache;
    cache["data.grf"] = {209715200, 42, "0123abcd"};
    cache["bgm/x.mp3"] = {300000000, 7, "ffffffff"};
    SaveIntegrityCache(path, cache);
    EXPECT_EQ(ReadBytes(path), "bgm/x.mp3|300000000|7|ffffffff\r\ndata.grf|209715200|42|0123abcd\r\n");
    EXPECT_EQ(ReadBytes(dir / "link.dat"), "old|1|2|33333333\r\nlonger than the new content\r\n");
    EXPECT_FALSE(PathExists(path + ".tmp"));
    EXPECT_EQ(FormatIntegrityCache(LoadIntegrityCache(path)), FormatIntegrityCache(cache));

    // LF-only files read the same; missing files read as empty; a save that
    // cannot create its file does nothing.
    WriteBytes(path, "bgm/x.mp3|300000000|7|ffffffff\ndata.grf|209715200|42|0123abcd\n");
    EXPECT_EQ(FormatIntegrityCache(LoadIntegrityCache(path)), FormatIntegrityCache(cache));
    EXPECT_TRUE(LoadIntegrityCache(dir / "none.dat").empty());
    EXPECT_TRUE(LoadPatchedHashes(dir / "none.dat").empty());
    SaveIntegrityCache(dir / "no\\such\\dir.dat", cache);
    EXPECT_FALSE(PathExists(dir / "no"));
}

// Runs in a copy of this program: records every "path|version" line of
// scenario.txt beside it, and writes a "1" or "0" per result to
// scenario_result.txt. A line "path,path,...|version" records the list as one
// patch does, and a failure adds the name it reports in brackets.
TEST(RecordsChild, DISABLED_RecordScenario)
{
    const std::string scenario = ReadBytes(LauncherDir() + "\\scenario.txt");
    std::string results;
    size_t start = 0;
    while (start < scenario.size()) {
        size_t end = scenario.find('\n', start);
        std::string line = scenario.substr(start, end - start);
        start = end == std::string::npos ? scenario.size() : end + 1;
        size_t bar = line.find('|');
        const std::string paths = line.substr(0, bar);
        const uint32_t version = uint32_t(std::stoul(line.substr(bar + 1)));
        if (paths.find(',') == std::string::npos) {
            results += RecordPatchedFile(paths, version) ? '1' : '0';
            continue;
        }
        std::vector<std::string> list;
        for (size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1) {
            comma = paths.find(',', from);
            list.push_back(paths.substr(from, comma - from));
        }
        std::string failedName;
        results += RecordPatchedFiles(list, version, failedName) ? "1" : "0[" + failedName + "]";
    }
    WriteBytes(LauncherDir() + "\\scenario_result.txt", results);
}

// Runs in a copy: ReadPatchVersion of the path in version_path.txt, result
// written to version_result.txt.
TEST(RecordsChild, DISABLED_ReadVersion)
{
    const uint32_t v = ReadPatchVersion(ReadBytes(LauncherDir() + "\\version_path.txt"));
    WriteBytes(LauncherDir() + "\\version_result.txt", std::to_string(v));
}

TEST(RecordPatchedFile, LiveLauncherKeepsTheLegacyProfileAndTheLastRecordWins)
{
    ScratchDir dir("patched");
    CreateDirectoryA((dir / "System").c_str(), nullptr);
    CreateDirectoryA((dir / "profiles").c_str(), nullptr);
    CreateDirectoryA((dir / "profiles\\legacy").c_str(), nullptr);
    CreateDirectoryA((dir / "profiles\\legacy\\System").c_str(), nullptr);
    CreateDirectoryA((dir / "data").c_str(), nullptr);
    WriteBytes(dir / "System\\A.lua", "print('patched')\n");
    WriteBytes(dir / "System\\C.lua", "c = 1\n");
    CreateDirectoryA((dir / "profiles\\legacy\\System\\D.lua").c_str(), nullptr);  // no copy can go there
    WriteBytes(dir / "System\\D.lua", "d = 1\n");
    WriteBytes(dir / "data\\b.txt", "b after patch\n");
    WriteBytes(dir / "data\\held.txt", "held\n");
    WriteBytes(dir / "qvx_patch.grf.old", "old grf\n");
    WriteBytes(dir / "scenario.txt",
               "data\\held.txt,System\\C.lua,qvx_patch.grf.old|304\n"  // one patch's files
               "System\\A.lua|305\n"
               "data\\b.txt|300\n"
               "./Data/B.txt|299\n"        // the latest recording wins, even with a lower version
               "qvx_patch.grf.old|310\n"   // no realm profile file
               "missing.txt|311\n"         // not on disk: no record
               "data\\b.txt,System\\D.lua|312");  // a failed Legacy copy records nothing
    // The records file goes through patched_hashes.dat.tmp: a link to a stale
    // one keeps the bytes of the first write, which must hold the whole list.
    WriteBytes(dir / "patched_hashes.dat.tmp", "");
    ASSERT_TRUE(CreateHardLinkA((dir / "first_write.dat").c_str(), (dir / "patched_hashes.dat.tmp").c_str(),
                                nullptr));
    // Held without sharing: it cannot be read, so it gets no record.
    HANDLE held = CreateFileA((dir / "data\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const int exitCode = RunCheckInCopy(dir.Path(), "records_child.exe", "RecordsChild.DISABLED_RecordScenario");
    CloseHandle(held);
    ASSERT_EQ(exitCode, 0);

    EXPECT_EQ(ReadBytes(dir / "scenario_result.txt"), "1111110[System\\D.lua]");
    EXPECT_EQ(ReadBytes(dir / "first_write.dat"),
              "qvx_patch.grf.old|304|" + Crc("old grf\n") + "\r\nsystem/c.lua|304|" + Crc("c = 1\n") + "\r\n");
    EXPECT_EQ(ReadBytes(dir / "patched_hashes.dat"),
              "data/b.txt|299|" + Crc("b after patch\n") + "\r\n"
              "qvx_patch.grf.old|310|" + Crc("old grf\n") + "\r\n"
              "system/a.lua|305|" + Crc("print('patched')\n") + "\r\n"
              "system/c.lua|304|" + Crc("c = 1\n") + "\r\n");
    EXPECT_EQ(ReadBytes(dir / "profiles\\legacy\\System\\A.lua"), "print('patched')\n");
    EXPECT_EQ(ReadBytes(dir / "profiles\\legacy\\System\\C.lua"), "c = 1\n");
    EXPECT_FALSE(PathExists(dir / "profiles\\legacy\\data"));
    EXPECT_FALSE(PathExists(dir / "profiles\\legacy\\qvx_patch.grf.old"));
    EXPECT_FALSE(PathExists(dir / "patched_hashes_test.dat"));
    EXPECT_FALSE(PathExists(dir / "patched_hashes.dat.tmp"));
}

// Without a Legacy profile the record covers the game directory's file, and
// no profile is begun; a record that cannot be saved is reported.
TEST(RecordPatchedFile, NoProfileIsBegunAndAFailedSaveIsReported)
{
    ScratchDir dir("patched-noprofile");
    CreateDirectoryA((dir / "System").c_str(), nullptr);
    WriteBytes(dir / "System\\A.lua", "print('patched')\n");
    WriteBytes(dir / "qvx_patch.grf", "grf 305\n");
    WriteBytes(dir / "scenario.txt", "System\\A.lua|305\nqvx_patch.grf|305");
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "records_child.exe", "RecordsChild.DISABLED_RecordScenario"), 0);
    EXPECT_EQ(ReadBytes(dir / "scenario_result.txt"), "11");
    EXPECT_EQ(ReadBytes(dir / "patched_hashes.dat"),
              "qvx_patch.grf|305|" + Crc("grf 305\n") + "\r\nsystem/a.lua|305|" + Crc("print('patched')\n") +
                  "\r\n");
    EXPECT_FALSE(PathExists(dir / "profiles"));

    // A records file held open without sharing cannot be replaced.
    HANDLE held = CreateFileA((dir / "patched_hashes.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // A list's failure names its first file that got a checksum.
    WriteBytes(dir / "scenario.txt", "System\\A.lua|306\nmissing.txt,qvx_patch.grf,System\\A.lua|306");
    const int exitCode = RunCheckInCopy(dir.Path(), "records_child.exe", "RecordsChild.DISABLED_RecordScenario");
    CloseHandle(held);
    ASSERT_EQ(exitCode, 0);
    EXPECT_EQ(ReadBytes(dir / "scenario_result.txt"), "00[qvx_patch.grf]");
    EXPECT_NE(ReadBytes(dir / "patched_hashes.dat").find("system/a.lua|305|"), std::string::npos);
}

TEST(RecordPatchedFile, TestLauncherKeepsItsOwnFileAndNoProfileCopy)
{
    ScratchDir dir("patched-test");
    CreateDirectoryA((dir / "System").c_str(), nullptr);
    WriteBytes(dir / "System\\A.lua", "print('test')\n");
    WriteBytes(dir / "patched_hashes_test.dat", "zzz/old.txt|1|00000000\n");
    WriteBytes(dir / "scenario.txt", "System\\A.lua|305");
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "records_TEST.exe", "RecordsChild.DISABLED_RecordScenario"), 0);

    EXPECT_EQ(ReadBytes(dir / "patched_hashes_test.dat"),
              "system/a.lua|305|" + Crc("print('test')\n") + "\r\nzzz/old.txt|1|00000000\r\n");
    EXPECT_FALSE(PathExists(dir / "patched_hashes.dat"));
    EXPECT_FALSE(PathExists(dir / "profiles"));
}

TEST(ReadPatchVersion, StartsAt221OnlyWithoutAVersionFileAndWithAFullClient)
{
    struct Case {
        const char* what;
        int64_t grfSize;   // -1: no data.grf
        bool versionDir;   // main.inf exists but cannot be read (it is a folder)
        const char* result;
    };
    const Case cases[] = {
        {"no client", -1, false, "0"},
        {"exactly 100 MiB", 104857600, false, "0"},
        {"one byte more", 104857601, false, "221"},
        {"version file unreadable", 104857601, true, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir("version");
        if (c.grfSize >= 0) MakeSizedFile(dir / "data.grf", c.grfSize);
        if (c.versionDir) CreateDirectoryA((dir / "main.inf").c_str(), nullptr);
        WriteBytes(dir / "version_path.txt", "main.inf");
        ASSERT_EQ(RunCheckInCopy(dir.Path(), "version_child.exe", "RecordsChild.DISABLED_ReadVersion"), 0);
        EXPECT_EQ(ReadBytes(dir / "version_result.txt"), c.result);
        const std::string log = ReadBytes(dir / "launcher.log");
        const std::string line = "[INFO] main.inf missing but full client detected. Initialized patch version to 221.";
        if (std::string(c.result) == "221") {
            EXPECT_EQ(ReadBytes(dir / "main.inf"), std::string("\xDD\0\0\0", 4));
            EXPECT_NE(log.find(line), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find(line), std::string::npos) << log;
            EXPECT_EQ(PathExists(dir / "main.inf"), c.versionDir);
        }
    }
}
