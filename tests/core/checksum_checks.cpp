#include "core/checksum.h"
#include "core/handles.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kMiB = 1048576;

class ChecksumFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "verandel_checksum_" + std::to_string(GetCurrentProcessId()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const std::string& f : files_) DeleteFileA(f.c_str());
        RemoveDirectoryA(dir_.c_str());
    }
    std::string Write(const std::string& name, const std::string& content)
    {
        const std::string path = Track(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    // Zero-filled (sparse under Wine, so quick to make).
    std::string WriteSized(const std::string& name, uint64_t size)
    {
        const std::string path = Track(name);
        UniqueHandle f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        EXPECT_TRUE(SetFilePointerEx(f.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(f.Get()));
        return path;
    }
    std::string Track(const std::string& name)
    {
        files_.push_back(dir_ + "\\" + name);
        return files_.back();
    }
    std::string dir_;
    std::vector<std::string> files_;
};

struct Report {
    std::string text;
    float value;
    uint64_t done;
    uint64_t total;
};

TEST_F(ChecksumFiles, KnownValuesInEightLowerCaseDigits)
{
    std::string pattern(3 * 262144 + 7, '\0');  // crosses block boundaries, ends mid-block
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>((i * 131) >> 3);
    const uLong patternCrc =
        crc32(0, reinterpret_cast<const Bytef*>(pattern.data()), static_cast<uInt>(pattern.size()));
    char patternText[16];
    snprintf(patternText, sizeof(patternText), "%08lx", static_cast<unsigned long>(patternCrc));

    const struct {
        std::string content;
        std::string crc;
    } cases[] = {
        {"123456789", "cbf43926"},
        {"", "00000000"},
        {"v60", "00f86c29"},  // leading zeros kept
        {"ABC", "a3830348"},
        {pattern, patternText},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string path = Write("f" + std::to_string(n++), c.content);
        std::string crc = "unset";
        uint64_t size = 99;
        EXPECT_TRUE(ComputeFileCrc32(path, crc, size, {}, "", 0, 0)) << c.crc;
        EXPECT_EQ(crc, c.crc);
        EXPECT_EQ(size, c.content.size());
    }
}

TEST_F(ChecksumFiles, UnreadableTargetsLeaveBothOutputs)
{
    for (const std::string& path : {dir_ + "\\missing.bin", dir_}) {
        std::string crc = "previous";
        uint64_t size = 42;
        EXPECT_FALSE(ComputeFileCrc32(path, crc, size, {}, "", 0, 0)) << path;
        EXPECT_EQ(crc, "previous");
        EXPECT_EQ(size, 42u);
    }
}

TEST_F(ChecksumFiles, ReportsOnlyAbove32MiBEvery16MiBAndAtTheEnd)
{
    std::vector<Report> reports;
    const ProgressCallback record = [&](const std::string& t, float v, uint64_t d, uint64_t s) {
        reports.push_back({t, v, d, s});
    };
    std::string crc;
    uint64_t size = 0;

    const std::string atLimit = WriteSized("limit.bin", 32 * kMiB);
    ASSERT_TRUE(ComputeFileCrc32(atLimit, crc, size, record, "data.grf", 10, 20));
    EXPECT_TRUE(reports.empty());

    const uint64_t bigSize = 32 * kMiB + 1;
    const std::string big = WriteSized("big.bin", bigSize);
    ASSERT_TRUE(ComputeFileCrc32(big, crc, size, record, "data.grf", 10, 20));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].done, 16 * kMiB);
    EXPECT_EQ(reports[0].text, "data.grf (50%)");
    EXPECT_FLOAT_EQ(reports[0].value, 20.0f);
    EXPECT_EQ(reports[1].done, 32 * kMiB);
    EXPECT_EQ(reports[2].done, bigSize);
    EXPECT_EQ(reports[2].text, "data.grf (100%)");
    EXPECT_FLOAT_EQ(reports[2].value, 30.0f);
    for (const Report& r : reports) EXPECT_EQ(r.total, bigSize);

    // No label, or no callback, means no reports at all.
    reports.clear();
    ASSERT_TRUE(ComputeFileCrc32(big, crc, size, record, "", 10, 20));
    ASSERT_TRUE(ComputeFileCrc32(big, crc, size, {}, "data.grf", 10, 20));
    EXPECT_TRUE(reports.empty());
}

TEST_F(ChecksumFiles, FileCutWhileReadingFails)
{
    const std::string path = WriteSized("cut.bin", 40 * kMiB);
    // The first report comes at 16 MiB: cut the file to 20 MiB through a second
    // handle, so the reads end before the size known at opening.
    const ProgressCallback cut = [&](const std::string&, float, uint64_t done, uint64_t) {
        if (done != 16 * kMiB) return;
        UniqueHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = 20 * kMiB;
        ASSERT_TRUE(writer && SetFilePointerEx(writer.Get(), at, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(writer.Get()));
    };
    std::string crc = "previous";
    uint64_t size = 0;
    EXPECT_FALSE(ComputeFileCrc32(path, crc, size, cut, "cut.bin", 0, 100));
    EXPECT_EQ(crc, "previous");
    EXPECT_EQ(size, 40 * kMiB);
}

TEST(UrlEncodePath, EscapesAllButUnreservedBytes)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"data/sclientinfo.xml", "data/sclientinfo.xml"},
        {"System\\itemInfo.lua", "System/itemInfo.lua"},
        {"my file.txt", "my%20file.txt"},
        {"a%20b", "a%2520b"},
        {"caf\xe9.txt", "caf%E9.txt"},
        {"\xc3\xa9\xff", "%C3%A9%FF"},
        {"a+b#c?d&e:f", "a%2Bb%23c%3Fd%26e%3Af"},
        {"Az09-._~/", "Az09-._~/"},
        {"../x", "../x"},
        {"\t\x01", "%09%01"},
    };
    for (const auto& c : cases) EXPECT_EQ(UrlEncodePath(c.in), c.out) << c.in;
}

}  // namespace
