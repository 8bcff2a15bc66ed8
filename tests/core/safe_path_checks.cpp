#include "core/safe_path.h"

#include <gtest/gtest.h>

TEST(SafeRelativePath, AcceptsPathsBelowTheDirectory)
{
    for (const char* p : {"a.txt", "System/a.lua", "data\\x.txt", "./data/x.txt", ".\\a\\b c.grf",
                          "a/./b", "dir/", "..a/b", "a..b", "x/.a", "caf\xc3\xa9.txt",
                          ".\\\\a\\\\b", ".//a", "a//b"})
        EXPECT_TRUE(IsSafeRelativePath(p)) << p;
}

TEST(SafeRelativePath, RefusesPathsThatLeaveIt)
{
    for (const char* p : {"", ".", "./", "/etc/passwd", "\\windows\\x.dll", "C:\\x.txt", "c:x.txt",
                          "\\\\server\\share\\x", "//server/share/x", "..", "../x", "a/../../x",
                          "a\\..\\b", "a/..", "file.txt:stream", "a//..//b", "x/...", "a/.. /b", "a/ ../b", ". ./x",
                          ".//", ".\\\\", ".//..//x"})
        EXPECT_FALSE(IsSafeRelativePath(p)) << p;
}

// Windows drops a trailing dot or blank from every name it opens.
TEST(SafeRelativePath, TellsNamesThatWindowsWouldOpenUnderAnotherName)
{
    for (const char* p : {"a.txt", "./a.txt", ".\\a\\b.txt", "a/./b", "dir/", "x/.a", ".a", "a b/c"})
        EXPECT_TRUE(KeepsItsNameOnWindows(p)) << p;
    for (const char* p : {"qvx.dll.", "QVX_Launcher.exe ", "System./a.lua", "sub /a", "a\\b.", "a/b. /c"})
        EXPECT_FALSE(KeepsItsNameOnWindows(p)) << p;
}
