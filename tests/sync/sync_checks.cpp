// The launcher swap of the self-update and the test that tells a full-client
// archive that arrived whole (its directory reads) from one still arriving.
#include "core/archive.h"
#include "sync/base_check.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

class TempDir {
public:
    TempDir()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "sync_checks_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(counter_++);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempDir()
    {
        for (const char* name : {"launcher.exe", "launcher.exe.old", "launcher.exe.new",
                                        "archive.zip"})
            DeleteFileA((path_ + "\\" + name).c_str());
        RemoveDirectoryA(path_.c_str());
    }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

private:
    static int counter_;
    std::string path_;
};
int TempDir::counter_ = 0;

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(SwapLauncherFile, LeavesALauncherAtItsPathEitherWay)
{
    struct Case {
        bool freshPresent;
        bool swapped;
        const char* atPath;
        const char* atOld;  // nullptr: no ".old" left
    };
    for (const Case& c : {Case{true, true, "new build", "old build"},
                          Case{false, false, "old build", nullptr}}) {
        SCOPED_TRACE(c.freshPresent ? "fresh build present" : "fresh build missing");
        TempDir dir;
        const std::string path = dir.File("launcher.exe"), fresh = dir.File("launcher.exe.new");
        WriteFile(path, "old build");
        if (c.freshPresent) WriteFile(fresh, "new build");
        EXPECT_EQ(SwapLauncherFile(fresh, path), c.swapped);
        EXPECT_EQ(ReadFile(path), c.atPath);
        EXPECT_EQ(Exists(path + ".old"), c.atOld != nullptr);
        if (c.atOld) {
            EXPECT_EQ(ReadFile(path + ".old"), c.atOld);
        }
    }
}

void Put16(std::string& out, uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v & 0xFFFF));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

std::string Deflate(const std::string& data)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Member {
    std::string name;
    std::string data;
    bool deflated;
};

// A plain ZIP archive as any packer writes it, with one entry per member.
std::string BuildZip(const std::vector<Member>& members)
{
    std::string out, central;
    for (const Member& m : members) {
        const std::string packed = m.deflated ? Deflate(m.data) : m.data;
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(m.data.data()),
                                   static_cast<uInt>(m.data.size()));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        const uint16_t method = m.deflated ? 8 : 0;
        Put32(out, 0x04034b50);
        for (uint16_t v : {uint16_t(20), uint16_t(0), method, uint16_t(0), uint16_t(0x21)})
            Put16(out, v);
        Put32(out, crc);
        Put32(out, static_cast<uint32_t>(packed.size()));
        Put32(out, static_cast<uint32_t>(m.data.size()));
        Put16(out, static_cast<uint16_t>(m.name.size()));
        Put16(out, 0);
        out += m.name + packed;

        Put32(central, 0x02014b50);
        for (uint16_t v : {uint16_t(20), uint16_t(20), uint16_t(0), method, uint16_t(0),
                           uint16_t(0x21)})
            Put16(central, v);
        Put32(central, crc);
        Put32(central, static_cast<uint32_t>(packed.size()));
        Put32(central, static_cast<uint32_t>(m.data.size()));
        for (uint16_t v : {static_cast<uint16_t>(m.name.size()), uint16_t(0), uint16_t(0),
                           uint16_t(0), uint16_t(0)})
            Put16(central, v);
        Put32(central, 0);
        Put32(central, offset);
        central += m.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<uint16_t>(members.size()));
    Put16(out, static_cast<uint16_t>(members.size()));
    Put32(out, static_cast<uint32_t>(central.size()));
    Put32(out, centralOffset);
    Put16(out, 0);
    return out;
}

// A full-client archive found at start is extracted without a new download
// when its directory reads; a cut one is continued instead. The entries' data
// is left to the extraction.
TEST(HasZipDirectory, TellsAnArchiveThatArrivedFromOneStillArriving)
{
    std::string big;
    for (int i = 0; i < 40000; ++i) big += "line " + std::to_string(i) + " of data.grf\n";
    const std::string whole = BuildZip({{"Quillfen_Full/", "", false},
                                        {"Quillfen_Full/data.grf", big, true},
                                        {"Quillfen_Full/qvx.dll", "stored bytes", false}});
    const size_t bigData = 30 + std::string("Quillfen_Full/").size() + 30 +
                           std::string("Quillfen_Full/data.grf").size();

    struct Case {
        const char* what;
        std::function<std::string(std::string)> change;
        bool hasDirectory;
    };
    const Case cases[] = {
        {"whole", [](std::string s) { return s; }, true},
        {"cut by one byte", [](std::string s) { return s.substr(0, s.size() - 1); }, false},
        {"cut in half", [](std::string s) { return s.substr(0, s.size() / 2); }, false},
        {"a deflated byte changed", [&](std::string s) { s[bigData + 200] ^= 0x40; return s; }, true},
        {"empty file", [](std::string) { return std::string(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir.File("archive.zip"), c.change(whole));
        EXPECT_EQ(HasZipDirectory(dir.File("archive.zip")), c.hasDirectory);
    }
    TempDir dir;
    EXPECT_FALSE(HasZipDirectory(dir.File("archive.zip")));  // no file at all

    // Whole, but one name leaves the game directory: extraction refuses it on
    // every try, so it must not stand in for a download either.
    WriteFile(dir.File("archive.zip"), BuildZip({{"Quillfen_Full/qvx.dll", "stored bytes", false},
                                                 {"Quillfen_Full/../outside.txt", "x", false}}));
    EXPECT_FALSE(HasZipDirectory(dir.File("archive.zip")));
}

}  // namespace
