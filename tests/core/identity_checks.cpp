#include "core/foundation_support.h"
#include "core/identity.h"
#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using checks::ReadBytes;
using checks::RunCheckInCopy;
using checks::ScratchDir;

namespace {

// Set by the restart check: a copy of this program started without arguments
// then only records how it was started.
constexpr const char* kMarkerVariable = "VERANDEL_RESTART_MARKER";

std::vector<std::string> LogLines(const std::string& dir)
{
    std::vector<std::string> lines;
    const std::string log = ReadBytes(dir + "\\launcher.log");
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(log.substr(start, end - start));
    return lines;
}

// The message after the 26-character time stamp.
std::string Message(const std::string& line)
{
    return line.size() >= 26 ? line.substr(26) : std::string();
}

}  // namespace

TEST(LauncherIdentity, SplitsModulePaths)
{
    struct Case {
        const char* module;
        const char* path;
        const char* dir;
        const char* fileName;
        bool old;
    };
    const Case cases[] = {
        {"D:\\Games\\QVX_Launcher.exe.OLD", "D:\\Games\\QVX_Launcher.exe", "D:\\Games", "QVX_Launcher.exe", true},
        {"D:\\Games\\QVX_Launcher.exe", "D:\\Games\\QVX_Launcher.exe", "D:\\Games", "QVX_Launcher.exe", false},
        {"D:\\Games\\QVX_Launcher.old", "D:\\Games\\QVX_Launcher", "D:\\Games", "QVX_Launcher", true},
        {"D:\\Games\\a.exe.oLd", "D:\\Games\\a.exe", "D:\\Games", "a.exe", true},
        {"D:\\QVX_Launcher.exe", "D:\\QVX_Launcher.exe", "D:", "QVX_Launcher.exe", false},
        {"D:\\Games/sub/x.exe", "D:\\Games/sub/x.exe", "D:\\Games/sub", "x.exe", false},
        {"D:/Games\\sub\\x.exe", "D:/Games\\sub\\x.exe", "D:/Games\\sub", "x.exe", false},
        {"x.exe", "x.exe", ".", "x.exe", false},
        {"D:\\Games\\x.exe.older", "D:\\Games\\x.exe.older", "D:\\Games", "x.exe.older", false},
        {"old", "old", ".", "old", false},
    };
    for (const Case& c : cases) {
        const LauncherIdentity id = SplitLauncherPath(c.module);
        EXPECT_EQ(id.path, c.path) << c.module;
        EXPECT_EQ(id.dir, c.dir) << c.module;
        EXPECT_EQ(id.fileName, c.fileName) << c.module;
        EXPECT_EQ(id.startedFromOld, c.old) << c.module;
    }
}

TEST(LauncherIdentity, TestLauncherNames)
{
    for (const char* name : {"QVX_TEST_LAUNCHER.exe", "qvx_test.exe", "LATEST.exe", "Contest.exe", "test"})
        EXPECT_TRUE(IsTestLauncherName(name)) << name;
    for (const char* name : {"QVX_Test.exe", "QVX_Launcher.exe", "tEsT.exe", "TeSt.exe", "tes.exe", ""})
        EXPECT_FALSE(IsTestLauncherName(name)) << name;
}

TEST(LauncherIdentity, PathFitsCodePage)
{
    const struct {
        const wchar_t* path;
        unsigned codePage;
        bool fits;
    } cases[] = {
        {L"C:\\Games\\Verandel\\QVX_Launcher.exe", 1252, true},
        {L"C:\\Jeux\\Caf\u00e9\\QVX_Launcher.exe", 1252, true},
        {L"C:\\\uac8c\uc784 \ud3f4\ub354\\QVX_Launcher.exe", 1252, false},  // Korean: '?'
        {L"C:\\\uac8c\uc784 \ud3f4\ub354\\QVX_Launcher.exe", 949, true},
        {L"C:\\Jeux\\Caf\u00e9\\QVX_Launcher.exe", 949, false},
        {L"C:\\\u0100bc\\QVX_Launcher.exe", 1252, false},  // best fit would name C:\Abc
        {L"C:\\\uac8c\uc784 \ud3f4\ub354\\QVX_Launcher.exe", CP_UTF8, true},
        {L"C:\\\xd800x\\QVX_Launcher.exe", CP_UTF8, false},  // a lone surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathFitsCodePage(c.path, c.codePage), c.fits)
            << "code page " << c.codePage << ", case " << (&c - cases);
    }
}

// Run by the check below in copies with chosen names: writes what the copy
// knows of itself.
TEST(LauncherIdentityChild, DISABLED_Report)
{
    const std::string report = GetLauncherPath() + "|" + GetLauncherDir() + "|" + GetLauncherFileName() + "|" +
                               (IsRunningFromOldBinary() ? "old" : "-") + "|" +
                               (IsTestLauncher() ? "test" : "live");
    checks::WriteBytes(GetLauncherDir() + "\\identity.txt", report);
}

TEST(LauncherIdentity, ResolvesRealFileNames)
{
    struct Case {
        const char* fileName;
        const char* resolvedName;
        const char* expected;
    };
    const Case cases[] = {
        {"QVX_Launcher.exe", "QVX_Launcher.exe", "-|live"},
        {"QVX_Launcher.exe.OLD", "QVX_Launcher.exe", "old|live"},
        {"QVX_TEST_LAUNCHER.exe.old", "QVX_TEST_LAUNCHER.exe", "old|test"},
        {"Contest.exe", "Contest.exe", "-|test"},
        {"QVX_Test.exe", "QVX_Test.exe", "-|live"},
    };
    for (const Case& c : cases) {
        ScratchDir dir("identity");
        ASSERT_EQ(RunCheckInCopy(dir.Path(), c.fileName, "LauncherIdentityChild.DISABLED_Report"), 0) << c.fileName;
        const std::string expected = (dir / c.resolvedName) + "|" + dir.Path() + "|" + c.resolvedName + "|" +
                                     c.expected;
        EXPECT_EQ(ReadBytes(dir / "identity.txt"), expected) << c.fileName;
    }
}

TEST(LauncherIdentityChild, DISABLED_Restart)
{
    RestartLauncher();
}

TEST(LauncherIdentityChild, DISABLED_OpenEmptyUrl)
{
    OpenUrl("");
    LogLine("[INFO] after");
}

TEST(RestartLauncher, LogsAFailedStart)
{
    ScratchDir dir("restart-missing");
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "Foo.exe.old", "LauncherIdentityChild.DISABLED_Restart"), 0);
    const std::string target = dir / "Foo.exe";
    const std::vector<std::string> lines = LogLines(dir.Path());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Message(lines[0]), "[INFO] Restarting launcher into updated binary: " + target);
    EXPECT_EQ(Message(lines[1]),
              "[ERROR] Could not start the updated launcher: " + target + " (" +
                  FormatWindowsError(ERROR_FILE_NOT_FOUND) + ")");
    EXPECT_EQ(Message(lines[2]).rfind("[ERROR] The shell could not start it either (code ", 0), 0u) << lines[2];
    for (const std::string& line : lines) EXPECT_EQ(line.find("[SUCCESS] Spawned"), std::string::npos);
}

TEST(RestartLauncher, StartsTheProperName)
{
    ScratchDir dir("restart");
    ASSERT_TRUE(CopyFileA(checks::ThisProgramPath().c_str(), (dir / "Foo.exe").c_str(), FALSE));
    const std::string marker = dir / "started.txt";
    SetEnvironmentVariableA(kMarkerVariable, marker.c_str());
    const int code = RunCheckInCopy(dir.Path(), "Foo.exe.old", "LauncherIdentityChild.DISABLED_Restart");
    SetEnvironmentVariableA(kMarkerVariable, nullptr);
    ASSERT_EQ(code, 0);

    std::string started;
    for (int i = 0; i < 200 && started.empty(); ++i) {
        Sleep(50);
        started = ReadBytes(marker);
    }
    EXPECT_EQ(started, "\"" + (dir / "Foo.exe") + "\"|" + dir.Path());
    const std::vector<std::string> lines = LogLines(dir.Path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Message(lines[0]), "[INFO] Restarting launcher into updated binary: " + (dir / "Foo.exe"));
    EXPECT_EQ(Message(lines[1]), "[SUCCESS] Spawned updated launcher process. Exiting old process.");
}

TEST(OpenUrl, EmptyTextDoesNothing)
{
    ScratchDir dir("openurl");
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "openurl.exe", "LauncherIdentityChild.DISABLED_OpenEmptyUrl"), 0);
    const std::vector<std::string> lines = LogLines(dir.Path());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "[INFO] after");
}

int main(int argc, char** argv)
{
    const char* marker = std::getenv(kMarkerVariable);
    if (argc == 1 && marker != nullptr) {
        // Started by RestartLauncher: record the command line and directory, atomically.
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        const std::string partial = std::string(marker) + ".part";
        checks::WriteBytes(partial, std::string(GetCommandLineA()) + "|" + cwd);
        MoveFileExA(partial.c_str(), marker, MOVEFILE_REPLACE_EXISTING);
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
