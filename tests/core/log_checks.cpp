#include "core/foundation_support.h"
#include "core/identity.h"
#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>
#include <vector>

using checks::ReadBytes;
using checks::RunCheckInCopy;
using checks::ScratchDir;

namespace {

constexpr int kThreads = 8;
constexpr int kLinesPerThread = 250;
constexpr size_t kStampLength = 26;  // "[YYYY-MM-DD hh:mm:ss.mmm] "

std::string Now()
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    return FormatLogTimestamp(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

bool LooksLikeStamp(const std::string& s)
{
    if (s.size() != kStampLength) return false;
    const std::string shape = "[dddd-dd-dd dd:dd:dd.ddd] ";
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(s[i])) : s[i] != shape[i]) return false;
    }
    return true;
}

std::string ThreadLine(int thread, int line)
{
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "[INFO] thread %d line %04d ", thread, line);
    // Long enough that a torn write would show.
    return buffer + std::string(150, static_cast<char>('a' + thread));
}

}  // namespace

TEST(LogTimestamp, ExactPrefix)
{
    EXPECT_EQ(FormatLogTimestamp(2024, 3, 5, 7, 8, 9, 12), "[2024-03-05 07:08:09.012] ");
    EXPECT_EQ(FormatLogTimestamp(2026, 12, 31, 23, 59, 59, 999), "[2026-12-31 23:59:59.999] ");
    EXPECT_EQ(FormatLogTimestamp(999, 1, 1, 0, 0, 0, 0), "[0999-01-01 00:00:00.000] ");
}

TEST(FormatWindowsError, WordsCodes)
{
    EXPECT_EQ(FormatWindowsError(0), "Success");
    const std::string notFound = FormatWindowsError(ERROR_FILE_NOT_FOUND);
    EXPECT_NE(notFound, "Unknown error");
    ASSERT_FALSE(notFound.empty());
    // Line ends go, the system's full stop stays.
    EXPECT_EQ(notFound.back(), '.') << notFound;
    EXPECT_EQ(notFound.find_first_of("\r\n"), std::string::npos) << notFound;
    EXPECT_EQ(FormatWindowsError(0x2000BEEF), "Unknown error");
}

TEST(LogLineChild, DISABLED_WriteLines)
{
    LogLine("[INFO] x");
    LogLine("");
}

TEST(LogLineChild, DISABLED_ManyThreads)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLinesPerThread; ++i) LogLine(ThreadLine(t, i));
        });
    }
    for (std::thread& t : threads) t.join();
}

TEST(LogLine, AppendsExactBytes)
{
    ScratchDir dir("log");
    const std::string earlier = "earlier content\r\n";
    checks::WriteBytes(dir / "launcher.log", earlier);
    const std::string before = Now();
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "logger.exe", "LogLineChild.DISABLED_WriteLines"), 0);
    const std::string after = Now();

    const std::string log = ReadBytes(dir / "launcher.log");
    ASSERT_EQ(log.size(), earlier.size() + kStampLength + 10 + kStampLength + 2) << log;
    EXPECT_EQ(log.substr(0, earlier.size()), earlier);
    const std::string first = log.substr(earlier.size(), kStampLength);
    const std::string second = log.substr(earlier.size() + kStampLength + 10, kStampLength);
    EXPECT_TRUE(LooksLikeStamp(first)) << first;
    EXPECT_TRUE(LooksLikeStamp(second)) << second;
    // Fixed-width stamps compare like the times they stand for.
    EXPECT_LE(before, first);
    EXPECT_LE(first, second);
    EXPECT_LE(second, after);
    EXPECT_EQ(log.substr(earlier.size() + kStampLength, 10), "[INFO] x\r\n");
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST(LogLine, SilentWhenTheFileCannotBeOpened)
{
    ScratchDir dir("log-blocked");
    ASSERT_TRUE(CreateDirectoryA((dir / "launcher.log").c_str(), nullptr));
    EXPECT_EQ(RunCheckInCopy(dir.Path(), "logger.exe", "LogLineChild.DISABLED_WriteLines"), 0);
    EXPECT_TRUE(checks::IsDir(dir / "launcher.log"));
}

TEST(LogLine, LinesOfManyThreadsStayWhole)
{
    ScratchDir dir("log-threads");
    ASSERT_EQ(RunCheckInCopy(dir.Path(), "logger.exe", "LogLineChild.DISABLED_ManyThreads"), 0);
    const std::string log = ReadBytes(dir / "launcher.log");

    std::vector<int> nextLine(kThreads, 0);
    size_t count = 0;
    size_t start = 0;
    for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2, ++count) {
        const std::string line = log.substr(start, end - start);
        ASSERT_GT(line.size(), kStampLength) << "line " << count;
        ASSERT_TRUE(LooksLikeStamp(line.substr(0, kStampLength))) << line;
        int thread = -1, number = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + kStampLength, "[INFO] thread %d line %d", &thread, &number), 2) << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
        // Each thread's lines arrive whole and in its own order.
        ASSERT_EQ(number, nextLine[thread]) << line;
        ASSERT_EQ(line.substr(kStampLength), ThreadLine(thread, number));
        ++nextLine[thread];
    }
    EXPECT_EQ(start, log.size()) << "bytes after the last line end";
    EXPECT_EQ(count, static_cast<size_t>(kThreads * kLinesPerThread));
    size_t lone = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        if ((log[i] == '\n' && (i == 0 || log[i - 1] != '\r')) || (log[i] == '\r' && (i + 1 == log.size() || log[i + 1] != '\n'))) ++lone;
    }
    EXPECT_EQ(lone, 0u);
}
