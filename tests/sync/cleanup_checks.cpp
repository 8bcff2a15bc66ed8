// The test launcher's stray-file clean-up: the name rules, a game directory
// before and after, failures, and entries that could lead out of the root.
#include "core/files.h"
#include "core/foundation_support.h"
#include "core/identity.h"
#include "sync/cleanup.h"
#include "sync/text_lines.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

using checks::Tree;
using checks::IsDir;
using checks::MakeFileLink;
using checks::PathExists;
using checks::ReadBytes;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

// The log lines written after construction, without their time stamps, that
// come from the clean-up (other programs append to the same file).
class LogWatch {
public:
    explicit LogWatch(std::string dir = GetLauncherDir()) : path_(dir + "\\launcher.log")
    {
        mark_ = ReadBytes(path_).size();
    }
    std::vector<std::string> CleanupLines(const std::string& root) const
    {
        std::vector<std::string> out;
        ForEachLine(ReadBytes(path_).substr(mark_), [&](const std::string& line) {
            if (line.size() < 26) return;
            const std::string message = line.substr(26);
            if (message.compare(0, 10, "[CLEANUP] ") == 0 || message == kScanning + root ||
                message.compare(0, 26, "[INFO] Cleanup finished. R") == 0)
                out.push_back(message);
        });
        return out;
    }

    static const std::string kScanning;

private:
    std::string path_;
    size_t mark_ = 0;
};
const std::string LogWatch::kScanning = "[INFO] Scanning for garbage files and directories in: ";


// Creates every folder above the last separator.
void MakeDirs(const std::string& path)
{
    CreateParentDirectories(path);
}

void MakeFile(const std::string& path, const std::string& bytes)
{
    CreateParentDirectories(path);
    WriteBytes(path, bytes);
}

std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

std::string Finished(int directories, int files)
{
    return "[INFO] Cleanup finished. Removed " + std::to_string(directories) + " directories and " +
           std::to_string(files) + " files.";
}

// Opens a file so that nobody can delete it until the holder goes.
class Holder {
public:
    explicit Holder(const std::string& path)
        : h_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~Holder()
    {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

}  // namespace

TEST(CleanupRules, JudgeEachNameByItself)
{
    struct Case {
        const char* name;
        bool keptAsFile;
        bool keptAsDirectory;
    };
    const Case cases[] = {
        {"qvx.dll", true, false},           {"SETUP.EXE", true, false},
        {"setup.exe.old", false, false},    {"QVX_Launcher.exe.new", false, false},
        {"a.tar.rgz", true, false},         {"README", false, false},
        {"a^b.txt", false, false},          {"a\tb.txt", false, false},
        {"a:b.txt", false, false},          {".update-timestamp", true, false},
        {".UPDATE-TIMESTAMP", true, false}, {".update-timestamp.bak", false, false},
        {"data", false, true},              {"DATA", false, true},
        {"logs.txt", true, false},          {"Data_Backup", false, false},
        {"BGM", false, true},               {"gstreamer-1.0", false, true},
        {"qvx.rep", false, true},           {"patch.part", false, false},
        {"temp_client.zip", false, false},  {"launcher.log", true, false},
        {".json", true, false},             {"x.JSON", true, false},
        // ".conf" is not a kept type, even for the graphics fix's own file.
        {"dgVoodoo.conf", false, false},    {"other.conf", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsKeptTopLevelFile(c.name), c.keptAsFile) << c.name;
        EXPECT_EQ(IsKeptTopLevelDirectory(c.name), c.keptAsDirectory) << c.name;
    }
    EXPECT_EQ(CleanupKeptDirectories().size(), 23u);
    EXPECT_EQ(CleanupKeptExtensions().size(), 19u);

    for (const char* name : {".", "..", "...", "data.", "data ", "notes."})
        EXPECT_TRUE(IsUnaddressableEntryName(name)) << name;
    for (const char* name : {".update-timestamp", "a.b", "x", ".hidden"})
        EXPECT_FALSE(IsUnaddressableEntryName(name)) << name;
}

TEST(CleanupGarbageFiles, RemovesStrayEntriesAndLeavesTheRest)
{
    ScratchDir dir("cleanup");
    MakeFile(dir / "data\\texture\\stray.part", "inside a spared folder");
    MakeFile(dir / "data\\notes", "not examined");
    MakeFile(dir / "Data_Backup\\deep\\x.grf", "backup");
    MakeFile(dir / "Data_Backup\\y.txt", "backup");
    MakeDirs(dir / "BGM\\");
    MakeDirs(dir / "logs.txt\\");
    for (const char* name : {"qvx.dll", "launcher.log", "DDraw.dll", "SETUP.EXE", ".update-timestamp",
                             "dgVoodoo.conf", "temp_client.zip", "patch.part", "notes",
                             "setup.exe.old", "QVX_Launcher.exe.new", "a^b.txt",
                             ".update-timestamp.bak"})
        MakeFile(dir / name, name);
    MakeFile(dir / "locked.tmp", "read-only, hidden, system");
    SetFileAttributesA((dir / "locked.tmp").c_str(),
                       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

    LogWatch log;
    CleanupGarbageFiles(dir.Path());

    const std::map<std::string, std::string> expected = {
        {"data", "<dir>"},
        {"data\\texture", "<dir>"},
        {"data\\texture\\stray.part", "inside a spared folder"},
        {"data\\notes", "not examined"},
        {"BGM", "<dir>"},
        {"qvx.dll", "qvx.dll"},
        {"launcher.log", "launcher.log"},
        {"DDraw.dll", "DDraw.dll"},
        {"SETUP.EXE", "SETUP.EXE"},
        {".update-timestamp", ".update-timestamp"},
    };
    EXPECT_EQ(Tree(dir.Path()), expected);

    std::vector<std::string> lines = log.CleanupLines(dir.Path());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), LogWatch::kScanning + dir.Path());
    EXPECT_EQ(lines.back(), Finished(2, 9));
    lines = Sorted(std::vector<std::string>(lines.begin() + 1, lines.end() - 1));
    EXPECT_EQ(lines, Sorted({"[CLEANUP] Removing garbage directory: Data_Backup",
                             "[CLEANUP] Removing garbage directory: logs.txt",
                             "[CLEANUP] Removing garbage file: dgVoodoo.conf",
                             "[CLEANUP] Removing garbage file: temp_client.zip",
                             "[CLEANUP] Removing garbage file: patch.part",
                             "[CLEANUP] Removing garbage file: notes",
                             "[CLEANUP] Removing garbage file: setup.exe.old",
                             "[CLEANUP] Removing garbage file: QVX_Launcher.exe.new",
                             "[CLEANUP] Removing garbage file: a^b.txt",
                             "[CLEANUP] Removing garbage file: .update-timestamp.bak",
                             "[CLEANUP] Removing garbage file: locked.tmp"}));
}

TEST(CleanupGarbageFiles, FailedRemovalsAreLoggedButNotCounted)
{
    ScratchDir dir("cleanup-busy");
    MakeFile(dir / "held.tmp", "held");
    MakeFile(dir / "stray\\held.bin", "held");
    MakeFile(dir / "stray\\gone.bin", "gone");
    MakeFile(dir / "free.tmp", "free");
    LogWatch log;
    {
        Holder a(dir / "held.tmp"), b(dir / "stray\\held.bin");
        ASSERT_TRUE(a.Valid() && b.Valid());
        CleanupGarbageFiles(dir.Path());
    }
    EXPECT_EQ(Tree(dir.Path()), (std::map<std::string, std::string>{
                                    {"held.tmp", "held"}, {"stray", "<dir>"}, {"stray\\held.bin", "held"}}));
    const std::vector<std::string> lines = log.CleanupLines(dir.Path());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Sorted({lines[1], lines[2], lines[3]}),
              Sorted({"[CLEANUP] Removing garbage file: held.tmp", "[CLEANUP] Removing garbage file: free.tmp",
                      "[CLEANUP] Removing garbage directory: stray"}));
    EXPECT_EQ(lines[4], Finished(0, 1));
}

TEST(CleanupGarbageFiles, EmptyAndUnlistableRoots)
{
    ScratchDir dir("cleanup-empty");
    {
        LogWatch log;
        CleanupGarbageFiles(dir.Path());
        EXPECT_EQ(log.CleanupLines(dir.Path()),
                  (std::vector<std::string>{LogWatch::kScanning + dir.Path(), Finished(0, 0)}));
    }
    const std::string missing = dir / "absent";
    LogWatch log;
    CleanupGarbageFiles(missing);
    EXPECT_EQ(log.CleanupLines(missing), (std::vector<std::string>{LogWatch::kScanning + missing}));
}

// Names that Windows rewrites ("data." is "data", "..." the folder itself)
// and links, at the top or inside a stray folder, must never take the
// clean-up to a spared entry or out of the root.
TEST(CleanupGarbageFiles, NeverReachesBeyondTheEntryItNames)
{
    ScratchDir outside("cleanup-outside");
    MakeFile(outside / "keep\\x.grf", "outside");
    MakeFile(outside / "target.tmp", "outside file");
    MakeFile(outside / "inner.tmp", "outside file");
    SetFileAttributesA((outside / "target.tmp").c_str(), FILE_ATTRIBUTE_READONLY);

    ScratchDir dir("cleanup-names");
    MakeFile(dir / "data\\x.grf", "spared");
    MakeFile(dir / "qvx.dll", "client");
    MakeFile(dir / "stray\\gone.bin", "gone");
    // Only the long-path form keeps a trailing dot in a name.
    const std::string raw = "\\\\?\\" + dir.Path() + "\\";
    ASSERT_TRUE(CreateDirectoryA((raw + "data.").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((raw + "...").c_str(), nullptr));
    HANDLE h = CreateFileA((raw + "qvx.dll.").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    ASSERT_TRUE(MakeFileLink(dir / "linked.tmp", outside / "target.tmp"));
    ASSERT_TRUE(MakeFileLink(dir / "stray\\inner.tmp", outside / "inner.tmp"));
    const bool dirLink = checks::MakeDirectoryLink(dir / "linked_dir", outside / "keep");

    CleanupGarbageFiles(dir.Path());

    EXPECT_EQ(Tree(outside.Path()), (std::map<std::string, std::string>{{"keep", "<dir>"},
                                                                         {"keep\\x.grf", "outside"},
                                                                         {"target.tmp", "outside file"},
                                                                         {"inner.tmp", "outside file"}}));
    EXPECT_NE(GetFileAttributesA((outside / "target.tmp").c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
        << "attributes were changed through the link";
    EXPECT_EQ(ReadBytes(dir / "data\\x.grf"), "spared");
    EXPECT_EQ(ReadBytes(dir / "qvx.dll"), "client");
    EXPECT_TRUE(PathExists(dir.Path()));
    EXPECT_FALSE(PathExists(dir / "stray\\gone.bin"));
    if (!dirLink) std::printf("no directory links here: that case was not run\n");

    SetFileAttributesA((outside / "target.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA((raw + "data.").c_str());
    RemoveDirectoryA((raw + "...").c_str());
    DeleteFileA((raw + "qvx.dll.").c_str());
}

// Run in a copy of this program named as a test launcher whose name breaks
// the character rule, inside the folder to be cleaned.
TEST(CleanupChild, DISABLED_CleanTheLauncherDirectory)
{
    CleanupGarbageFiles("");
}

TEST(CleanupGarbageFiles, SparesTheRunningLauncherAndDefaultsToItsDirectory)
{
    ScratchDir dir("cleanup-self");
    MakeFile(dir / "stray.tmp", "stray");
    ASSERT_EQ(checks::RunCheckInCopy(dir.Path(), "QVX_TEST^2.exe", "CleanupChild.DISABLED_CleanTheLauncherDirectory"),
              0);
    EXPECT_TRUE(PathExists(dir / "QVX_TEST^2.exe"));
    EXPECT_FALSE(PathExists(dir / "stray.tmp"));
    const std::string log = ReadBytes(dir / "launcher.log");
    EXPECT_NE(log.find(LogWatch::kScanning + dir.Path() + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("[CLEANUP] Removing garbage file: stray.tmp\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("QVX_TEST^2.exe"), std::string::npos) << log;
    EXPECT_NE(log.find(Finished(0, 1) + "\r\n"), std::string::npos) << log;
}
