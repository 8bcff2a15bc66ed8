// The start-up clean-up of ".old" leftovers and old theme images: the paths,
// the passes and pauses around files in use, and the background thread.
#include "client/old_binaries.h"
#include "core/files.h"
#include "core/foundation_support.h"
#include "core/identity.h"
#include "sync/text_lines.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>

using checks::PathExists;
using checks::ReadBytes;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

const std::string kCleaned = "[INFO] Cleaned up old binary: ";

void Put(const std::string& path, const std::string& bytes)
{
    CreateParentDirectories(path);
    WriteBytes(path, bytes);
}

// The clean-up lines appended to a log after construction that name a path
// below dir (other programs append to the same file).
class LogWatch {
public:
    explicit LogWatch(std::string log = GetLauncherDir() + "\\launcher.log") : path_(std::move(log))
    {
        mark_ = ReadBytes(path_).size();
    }
    std::vector<std::string> Lines(const std::string& dir) const
    {
        std::vector<std::string> out;
        ForEachLine(ReadBytes(path_).substr(mark_), [&](const std::string& line) {
            if (line.size() > 26 && line.compare(26, kCleaned.size(), kCleaned) == 0 &&
                line.find(dir + "\\") != std::string::npos)
                out.push_back(line.substr(26 + kCleaned.size()));
        });
        return out;
    }

private:
    std::string path_;
    size_t mark_ = 0;
};

// Holds a file open so that it cannot be deleted until Release.
class Holder {
public:
    explicit Holder(const std::string& path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~Holder() { Release(); }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void Release()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

}  // namespace

TEST(OldBinaryCleanupPaths, TheLaunchersOwnLeftoverFirstThenTheFixedNames)
{
    EXPECT_EQ(OldBinaryCleanupPaths("C:\\Games\\Verandel", "C:\\Games\\Verandel\\QVX_Launcher_v2.exe"),
              (std::vector<std::string>{"C:\\Games\\Verandel\\QVX_Launcher_v2.exe.old",
                                        "C:\\Games\\Verandel\\QVX_Launcher.exe.old",
                                        "C:\\Games\\Verandel\\QVX_TEST_LAUNCHER.exe.old",
                                        "C:\\Games\\Verandel\\qvx.exe.old",
                                        "C:\\Games\\Verandel\\themes\\season_1\\logo.png",
                                        "C:\\Games\\Verandel\\themes\\season_1\\reverberation.png",
                                        "C:\\Games\\Verandel\\themes\\season_1\\resonance.png",
                                        "C:\\Games\\Verandel\\themes\\season_1\\ostraneII.png"}));
}

TEST(RunOldBinaryCleanup, OnePassWhenEveryLeftoverCanGo)
{
    ScratchDir dir("oldbin");
    Put(dir / "QVX_Launcher.exe", "running launcher");
    Put(dir / "QVX_Launcher.exe.old", "previous launcher");
    Put(dir / "qvx.exe.old", "stale client");
    SetFileAttributesA((dir / "qvx.exe.old").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    Put(dir / "QVX_TEST_LAUNCHER.exe.old\\inside.txt", "a folder of that name is no leftover");
    Put(dir / "themes\\season_1\\logo.png", "old logo");
    Put(dir / "themes\\season_1\\background.png", "kept");

    LogWatch log;
    int pauses = 0;
    const int passes = RunOldBinaryCleanup(OldBinaryCleanupPaths(dir.Path(), dir / "QVX_Launcher.exe"),
                                           [&](unsigned) { ++pauses; });
    EXPECT_EQ(passes, 1);
    EXPECT_EQ(pauses, 0);
    EXPECT_FALSE(PathExists(dir / "QVX_Launcher.exe.old"));
    EXPECT_FALSE(PathExists(dir / "qvx.exe.old"));
    EXPECT_FALSE(PathExists(dir / "themes\\season_1\\logo.png"));
    EXPECT_EQ(ReadBytes(dir / "QVX_TEST_LAUNCHER.exe.old\\inside.txt"), "a folder of that name is no leftover");
    EXPECT_EQ(ReadBytes(dir / "themes\\season_1\\background.png"), "kept");
    EXPECT_EQ(ReadBytes(dir / "QVX_Launcher.exe"), "running launcher");
    // Paths 1 and 2 name one file: it is deleted and logged once.
    EXPECT_EQ(log.Lines(dir.Path()),
              (std::vector<std::string>{dir / "QVX_Launcher.exe.old", dir / "qvx.exe.old",
                                        dir / "themes\\season_1\\logo.png"}));
}

// Under Wine a Unix link to a file looks like the file itself, and deleting
// it would delete what it points to; it stays, and waiting would not change it.
TEST(RunOldBinaryCleanup, LeavesALinkAndWhatItPointsTo)
{
    ScratchDir outside("oldbin-outside");
    Put(outside / "client.exe", "someone else's client");
    ScratchDir dir("oldbin-link");
    Put(dir / "QVX_Launcher.exe.old", "previous launcher");
    Put(dir / "themes\\season_1\\keep.png", "kept");
    if (!checks::MakeFileLink(dir / "qvx.exe.old", outside / "client.exe") ||
        !checks::MakeFileLink(dir / "themes\\season_1\\logo.png", dir / "themes\\season_1\\keep.png")) {
        GTEST_SKIP() << "no file links here";
    }
    const bool linksShowAsFiles = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;

    LogWatch log;
    int pauses = 0;
    EXPECT_EQ(RunOldBinaryCleanup(OldBinaryCleanupPaths(dir.Path(), dir / "launcher.exe"), [&](unsigned) { ++pauses; }),
              1);
    EXPECT_EQ(pauses, 0);
    EXPECT_EQ(ReadBytes(outside / "client.exe"), "someone else's client");
    EXPECT_EQ(ReadBytes(dir / "themes\\season_1\\keep.png"), "kept");
    EXPECT_FALSE(PathExists(dir / "QVX_Launcher.exe.old"));
    if (linksShowAsFiles) {
        EXPECT_EQ(ReadBytes(dir / "qvx.exe.old"), "someone else's client");
        EXPECT_EQ(log.Lines(dir.Path()), (std::vector<std::string>{dir / "QVX_Launcher.exe.old"}));
    }
}

TEST(RunOldBinaryCleanup, RetriesAFileInUseAfterAPause)
{
    struct Case {
        int releaseAfterPauses;  // 0: never released
        int passes;
        int pauses;
        bool deleted;
    };
    for (const Case& c : {Case{3, 4, 3, true}, Case{0, 25, 25, false}}) {
        SCOPED_TRACE(c.releaseAfterPauses);
        ScratchDir dir("oldbin-busy");
        Put(dir / "qvx.exe.old", "in use");
        Put(dir / "QVX_Launcher.exe.old", "free");
        Holder holder(dir / "qvx.exe.old");
        ASSERT_TRUE(holder.Valid());

        LogWatch log;
        std::vector<unsigned> pauses;
        const int passes = RunOldBinaryCleanup(OldBinaryCleanupPaths(dir.Path(), dir / "launcher.exe"),
                                               [&](unsigned ms) {
                                                   pauses.push_back(ms);
                                                   if (static_cast<int>(pauses.size()) == c.releaseAfterPauses)
                                                       holder.Release();
                                               });
        EXPECT_EQ(passes, c.passes);
        EXPECT_EQ(pauses, std::vector<unsigned>(c.pauses, 150u));
        EXPECT_EQ(PathExists(dir / "qvx.exe.old"), !c.deleted);
        std::vector<std::string> expected = {dir / "QVX_Launcher.exe.old"};
        if (c.deleted) expected.push_back(dir / "qvx.exe.old");
        EXPECT_EQ(log.Lines(dir.Path()), expected);
    }
}

// Run in a copy of this program named as a live launcher, in the folder that
// holds the leftovers.
TEST(OldBinariesChild, DISABLED_CleansUpInTheBackground)
{
    const std::string dir = GetLauncherDir();
    // Held here, so a call that did the passes itself would take all 25 of
    // them (3.75 s of pauses) before it returned.
    Holder holder(dir + "\\qvx.exe.old");
    ASSERT_TRUE(holder.Valid());
    const auto start = std::chrono::steady_clock::now();
    GameLauncher::CleanupOldBinariesAsync();
    const auto returnedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(returnedMs, 2000);
    EXPECT_TRUE(PathExists(dir + "\\qvx.exe.old"));
    holder.Release();

    // The thread logs each removal after it, so wait for the lines too: ending
    // the process between the two would lose a line.
    const auto gone = [&] {
        const std::string log = ReadBytes(dir + "\\launcher.log");
        return !PathExists(dir + "\\QVX_Launcher_v2.exe.old") && !PathExists(dir + "\\qvx.exe.old") &&
               log.find("QVX_Launcher_v2.exe.old\r\n") != std::string::npos &&
               log.find("qvx.exe.old\r\n") != std::string::npos;
    };
    for (int i = 0; i < 200 && !gone(); ++i) Sleep(50);
    EXPECT_TRUE(gone());
}

TEST(CleanupOldBinariesAsync, RemovesLeftoversOnItsOwnThreadWhileAFileIsInUse)
{
    ScratchDir dir("oldbin-async");
    Put(dir / "QVX_Launcher_v2.exe.old", "previous launcher");
    Put(dir / "qvx.exe.old", "stale client");
    EXPECT_EQ(checks::RunCheckInCopy(dir.Path(), "QVX_Launcher_v2.exe",
                                     "OldBinariesChild.DISABLED_CleansUpInTheBackground"),
              0);
    EXPECT_FALSE(PathExists(dir / "QVX_Launcher_v2.exe.old"));
    EXPECT_FALSE(PathExists(dir / "qvx.exe.old"));
    EXPECT_TRUE(PathExists(dir / "QVX_Launcher_v2.exe"));
    const std::string log = ReadBytes(dir / "launcher.log");
    for (const char* name : {"QVX_Launcher_v2.exe.old", "qvx.exe.old"}) {
        const std::string line = kCleaned + dir.Path() + "\\" + name + "\r\n";
        const size_t at = log.find(line);
        EXPECT_NE(at, std::string::npos) << log;
        EXPECT_EQ(log.find(line, at + 1), std::string::npos) << log;
    }
}
