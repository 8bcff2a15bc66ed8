#include "client/client_prep_support.h"
#include "core/foundation_support.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

using checks::IsDir;
using checks::LogMessages;
using checks::PathExists;
using checks::ReadBytes;
using checks::RunClientStep;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

const char kLiveCopy[] = "realm_copy.exe";
const char kTestCopy[] = "realm_TEST.exe";

using Tree = std::map<std::string, std::string>;  // relative path -> content ("<dir>" for folders)

void ReadTree(const std::string& root, const std::string& rel, Tree& out)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((root + rel + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = rel + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[path] = "<dir>";
            ReadTree(root, path, out);
        } else {
            out[path] = ReadBytes(root + path);
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

Tree TreeOf(const std::string& root)
{
    Tree t;
    ReadTree(root, "", t);
    return t;
}

void MakeDirs(const ScratchDir& dir, const std::vector<std::string>& rels)
{
    for (const auto& rel : rels) CreateDirectoryA((dir / rel).c_str(), nullptr);
}

// The game directory's active files and the two realm-named item tables.
void MakeActiveFiles(const ScratchDir& dir)
{
    MakeDirs(dir, {"System", "System\\sub"});
    WriteBytes(dir / "qvx_patch.grf", "active grf");
    WriteBytes(dir / "System\\active_only.lua", "active");
    WriteBytes(dir / "System\\shared.lua", "active shared");
    WriteBytes(dir / "System\\sub\\deep.lua", "active deep");
    WriteBytes(dir / "System\\itemInfo_EN_legacy.lua", "legacy items");
    WriteBytes(dir / "System\\itemInfo_EN_season.lua", "season items");
}

void MakeProfile(const ScratchDir& dir, const std::string& realm, bool withGrf)
{
    const std::string p = "profiles\\" + realm;
    MakeDirs(dir, {"profiles", p, p + "\\System", p + "\\System\\lua files"});
    if (withGrf) WriteBytes(dir / (p + "\\qvx_patch.grf"), realm + " grf");
    WriteBytes(dir / (p + "\\System\\shared.lua"), realm + " shared");
    WriteBytes(dir / (p + "\\System\\lua files\\skill.lub"), realm + " skill");
}

bool SameFile(const std::string& a, const std::string& b)
{
    auto info = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& i) {
        HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &i);
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION x, y;
    return info(a, x) && info(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

TEST(ActivateRealmProfile, ProfileBecomesTheActiveFiles)
{
    const struct {
        std::string mode;
        std::string realm;
    } cases[] = {{"season", "season"}, {"legacy", "legacy"}, {"Season", "legacy"}, {"test", "legacy"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + c.mode);
        ScratchDir dir("realm");
        MakeActiveFiles(dir);
        MakeProfile(dir, "legacy", true);
        MakeProfile(dir, "season", true);
        const std::string profile = dir / ("profiles\\" + c.realm);
        ASSERT_EQ(RunClientStep(dir.Path(), kLiveCopy, "activate|" + c.mode), 0);

        EXPECT_EQ(ReadBytes(dir / "step_result.txt"), "true");
        EXPECT_EQ(TreeOf(dir / "System"), TreeOf(profile + "\\System"));
        EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), c.realm + " grf");
        EXPECT_TRUE(SameFile(dir / "qvx_patch.grf", profile + "\\qvx_patch.grf")) << "a hard link, not a copy";
        const std::vector<std::string> log = {
            "[INFO] Linked " + profile + "\\qvx_patch.grf -> qvx_patch.grf (OK)",
            "[INFO] Activated System/ directory from profile: " + c.mode};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(ActivateRealmProfile, SwitchingBackAndForthKeepsBothProfiles)
{
    ScratchDir dir("realm");
    MakeActiveFiles(dir);
    MakeProfile(dir, "legacy", true);
    MakeProfile(dir, "season", true);
    const Tree before = TreeOf(dir / "profiles");
    for (const char* mode : {"season", "legacy", "season"}) {
        ASSERT_EQ(RunClientStep(dir.Path(), kLiveCopy, std::string("activate|") + mode), 0);
        EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), std::string(mode) + " grf");
        EXPECT_EQ(TreeOf(dir / "System"), TreeOf(dir / ("profiles\\" + std::string(mode) + "\\System")));
    }
    EXPECT_EQ(TreeOf(dir / "profiles"), before);
}

TEST(ActivateRealmProfile, MissingProfileKeepsTheActiveFiles)
{
    const struct {
        const char* name;
        std::string mode;
        bool systemIsFile;
        const char* result;
    } cases[] = {
        {"no Season profile", "season", false, "false"},
        {"a file named System in the Season profile", "season", true, "false"},
        {"no Legacy profile", "legacy", false, "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir("realm");
        MakeActiveFiles(dir);
        const std::string realm = c.mode == "season" ? "season" : "legacy";
        MakeDirs(dir, {"profiles", "profiles\\" + realm});
        WriteBytes(dir / ("profiles\\" + realm + "\\qvx_patch.grf"), "profile grf");
        if (c.systemIsFile) WriteBytes(dir / ("profiles\\" + realm + "\\System"), "not a folder");
        ASSERT_EQ(RunClientStep(dir.Path(), kLiveCopy, "activate|" + c.mode), 0);

        EXPECT_EQ(ReadBytes(dir / "step_result.txt"), c.result);
        EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), "active grf");
        EXPECT_EQ(ReadBytes(dir / "System\\active_only.lua"), "active");
        EXPECT_FALSE(PathExists(dir / "System\\itemInfo_EN_legacy.lua"));
        EXPECT_FALSE(PathExists(dir / "System\\itemInfo_EN_season.lua"));
        const std::vector<std::string> log = {"[WARN] Profile directory not found (" +
                                              (dir / ("profiles\\" + realm + "\\System")) +
                                              "); keeping active root files."};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(ActivateRealmProfile, ProfileWithoutArchiveMirrorsSystemOnly)
{
    ScratchDir dir("realm");
    MakeActiveFiles(dir);
    MakeProfile(dir, "season", false);
    ASSERT_EQ(RunClientStep(dir.Path(), kLiveCopy, "activate|season"), 0);
    EXPECT_EQ(ReadBytes(dir / "step_result.txt"), "true");
    EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), "active grf");
    EXPECT_EQ(TreeOf(dir / "System"), TreeOf(dir / "profiles\\season\\System"));
    const std::vector<std::string> log = {"[INFO] Activated System/ directory from profile: season"};
    EXPECT_EQ(LogMessages(dir.Path()), log);
}

// The other realm's archive must not stay active under this realm's System
// folder: a Season play that cannot place its archive does not go on.
TEST(ActivateRealmProfile, ArchiveThatCannotBePlacedStopsSeasonOnly)
{
    const struct {
        std::string mode;
        std::string other;
        const char* result;
    } cases[] = {{"season", "legacy", "false"}, {"legacy", "season", "true"}};
    for (const auto& c : cases) {
        SCOPED_TRACE("mode " + c.mode);
        ScratchDir dir("realm");
        MakeActiveFiles(dir);
        MakeProfile(dir, "legacy", true);
        MakeProfile(dir, "season", true);
        // The other realm's archive is active and held open (by a tool, a
        // scanner) so that it can be neither replaced nor moved aside.
        ASSERT_TRUE(DeleteFileA((dir / "qvx_patch.grf").c_str()));
        ASSERT_TRUE(CreateHardLinkA((dir / "qvx_patch.grf").c_str(),
                                    (dir / ("profiles\\" + c.other + "\\qvx_patch.grf")).c_str(), nullptr));
        HANDLE held = CreateFileA((dir / "qvx_patch.grf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const int exitCode = RunClientStep(dir.Path(), kLiveCopy, "activate|" + c.mode);
        CloseHandle(held);
        ASSERT_EQ(exitCode, 0);

        EXPECT_EQ(ReadBytes(dir / "step_result.txt"), c.result);
        EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), c.other + " grf");
        const std::string grf = dir / ("profiles\\" + c.mode + "\\qvx_patch.grf");
        std::vector<std::string> log = {"[INFO] Linked " + grf + " -> qvx_patch.grf (FAILED)"};
        if (c.mode == "season") {
            // Nothing half-switched: the System folder stays the active one.
            EXPECT_EQ(ReadBytes(dir / "System\\active_only.lua"), "active");
        } else {
            EXPECT_EQ(TreeOf(dir / "System"), TreeOf(dir / "profiles\\legacy\\System"));
            log.push_back("[INFO] Activated System/ directory from profile: legacy");
        }
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(ActivateRealmProfile, TestLauncherKeepsItsFlatLayout)
{
    for (const char* mode : {"season", "legacy"}) {
        SCOPED_TRACE(mode);
        ScratchDir dir("realm");
        MakeActiveFiles(dir);
        MakeProfile(dir, "legacy", true);
        MakeProfile(dir, "season", true);
        ASSERT_EQ(RunClientStep(dir.Path(), kTestCopy, std::string("activate|") + mode), 0);
        EXPECT_EQ(ReadBytes(dir / "step_result.txt"), "true");
        EXPECT_EQ(ReadBytes(dir / "qvx_patch.grf"), "active grf");
        EXPECT_EQ(ReadBytes(dir / "System\\active_only.lua"), "active");
        EXPECT_EQ(ReadBytes(dir / "System\\shared.lua"), "active shared");
        EXPECT_FALSE(PathExists(dir / "System\\itemInfo_EN_legacy.lua"));
        EXPECT_FALSE(PathExists(dir / "System\\itemInfo_EN_season.lua"));
        const std::vector<std::string> log = {
            "[INFO] Test environment uses flat client layout; skipping profile directory switch."};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

}  // namespace
