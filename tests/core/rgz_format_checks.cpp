// The ".rgz" container's parsing on bytes made here: gzip header fields that
// gzip itself never writes, tar's size forms, and the headers that tar writes
// for names longer than its name field.
#include "core/rgz_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Header fields that gzip itself never writes (extra field, comment, header
// CRC) and the size forms of tar, on hand-made bytes.
TEST(RgzFormat, GzipHeaderFieldsAndTarSizes)
{
    struct Case {
        std::string bytes;
        bool ok;
        size_t offset;
        const char* name;
    };
    const std::string tail(8, '\0');
    const std::string base("\x1f\x8b\x08", 3);
    auto header = [&](char flags, const std::string& rest) { return base + flags + std::string(6, '\0') + rest; };
    const Case cases[] = {
        {header(0, tail), true, 10, nullptr},
        {header(0x04, std::string("\x03\0xyz", 5) + tail), true, 15, nullptr},
        {header(0x08 | 0x10 | 0x02, std::string("a.txt\0note\0\x12\x34", 13) + tail), true, 23, "a.txt"},
        {header(0x08, "no terminator"), false, 0, nullptr},
        {header(0, "1234567"), false, 0, nullptr},  // no room for the trailer
        {"\x1f\x8c" + std::string(20, '\0'), false, 0, nullptr},
        {base, false, 0, nullptr},
    };
    for (const Case& c : cases) {
        GzipHeader h;
        const bool ok = ParseGzipHeader(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), true, h);
        EXPECT_EQ(ok, c.ok) << c.bytes.size();
        if (!ok) continue;
        EXPECT_EQ(h.dataOffset, c.offset);
        EXPECT_EQ(h.hasName, c.name != nullptr);
        if (c.name) {
            EXPECT_EQ(h.name, c.name);
        }
    }

    struct TarCase {
        std::string sizeField;  // 12 bytes
        bool ok;
        uint64_t size;
    };
    const TarCase sizes[] = {
        {std::string("00000001750 ", 12), true, 1000},
        {std::string("  1750\0\0\0\0\0\0", 12), true, 1000},
        {std::string("\x80\0\0\0\0\0\0\x02\0\0\0\0", 12), true, 1ull << 33},  // GNU base-256
        {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12), false, 0},
        {std::string("\x80\x01\0\0\0\0\0\0\0\0\0\0", 12), false, 0},  // beyond 64 bits
    };
    for (const TarCase& t : sizes) {
        uint8_t block[512] = {};
        std::memcpy(block, "././data/x.txt", 14);
        std::memcpy(block + 124, t.sizeField.data(), 12);
        TarHeader h;
        EXPECT_EQ(ParseTarHeader(block, h), t.ok);
        if (t.ok) {
            EXPECT_EQ(h.size, t.size);
        }
        EXPECT_EQ(h.name, "data\\x.txt");
    }
}

// What a walk hands its sink, one line per entry: "dir <name>" or
// "file <name>: <data>", with " (utf8)" for a name to be read as UTF-8.
class RecordingSink : public EntrySink {
public:
    bool Directory(const std::string& name, NameEncoding encoding) override
    {
        events.push_back("dir " + name + Tag(encoding));
        return true;
    }
    bool BeginFile(const std::string& name, NameEncoding encoding) override
    {
        current_ = "file " + name + Tag(encoding) + ": ";
        return true;
    }
    bool WriteFile(const uint8_t* data, size_t n) override
    {
        current_.append(reinterpret_cast<const char*>(data), n);
        return true;
    }
    bool EndFile(bool keep) override
    {
        if (keep) events.push_back(current_);
        return true;
    }
    std::vector<std::string> events;

private:
    static std::string Tag(NameEncoding encoding) { return encoding == NameEncoding::Utf8 ? " (utf8)" : ""; }
    std::string current_;
};

const char kPosixMagic[] = "ustar\0" "00";
const char kGnuMagic[] = "ustar  ";  // and its NUL

// One tar entry as the tools write it: the header block, then the data padded
// to whole blocks. sizeField stands in the header when it is not the data's.
std::string TarEntry(const std::string& name, char type, const std::string& data, const char* magic = kPosixMagic,
                     const std::string& field345 = "", long long sizeField = -1)
{
    std::string block(512, '\0');
    block.replace(0, name.size(), name);
    char size[12];
    std::snprintf(size, sizeof size, "%011llo", sizeField < 0 ? (long long)data.size() : sizeField);
    block.replace(124, 11, size);
    block[156] = type;
    block.replace(257, 8, std::string(magic, 8));
    block.replace(345, field345.size(), field345);
    return block + data + std::string((512 - data.size() % 512) % 512, '\0');
}

// "<len> <key>=<value>\n", the length counting the whole record.
std::string PaxRecord(const std::string& key, const std::string& value)
{
    const std::string body = " " + key + "=" + value + "\n";
    size_t len = body.size() + 1;
    while (std::to_string(len).size() + body.size() != len) ++len;
    return std::to_string(len) + body;
}

std::string Backslashed(std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// Names longer than the 100-byte field, in the three ways tar writes them,
// apply to the one entry that follows and pass the same checks as any other.
TEST(RgzFormat, TarLongNamesAndExtendedHeaders)
{
    const std::string dir = "data/texture/effect/magic_circle_of_the_northern_verandel_highlands_at_dusk";
    const std::string file = "animated_glow_frame_sequence_layer_0042_high_resolution_variant.bmp";
    const std::string longName = dir + "/" + file;
    const std::string cut = longName.substr(0, 100);
    const std::string escapingDir = "../" + std::string(70, 'd');
    const std::string escaping = escapingDir + "/" + std::string(70, 'e') + ".txt";
    const std::string end(1024, '\0');
    const std::string shortFile = TarEntry("short.txt", '0', "s");
    auto gnuLong = [&](const std::string& name, char type = 'L') {
        return TarEntry("././@LongLink", type, name + std::string(1, '\0'), kGnuMagic);
    };
    auto pax = [&](const std::string& records, char type = 'x') {
        return TarEntry("././@PaxHeader", type, records);
    };
    struct Case {
        const char* what;
        std::string tar;
        WalkResult result;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"GNU long name", gnuLong(longName) + TarEntry(cut, '0', "L", kGnuMagic) + shortFile + end, WalkResult::Ok,
         {"file " + Backslashed(longName) + ": L", "file short.txt: s"}},
        {"GNU long directory name", gnuLong("./" + dir + "/") + TarEntry(cut, '5', "", kGnuMagic) + end,
         WalkResult::Ok, {"dir " + Backslashed(dir) + "\\"}},
        {"GNU long link name", gnuLong("target.txt", 'K') + TarEntry("link.txt", '2', "", kGnuMagic) + end,
         WalkResult::Ok, {"file link.txt: "}},
        {"ustar prefix", TarEntry(file, '0', "U", kPosixMagic, dir) + shortFile + end, WalkResult::Ok,
         {"file " + Backslashed(longName) + ": U", "file short.txt: s"}},
        // GNU tar keeps other fields at 345 (times of an incremental archive).
        {"GNU bytes at 345", TarEntry("a.txt", '0', "a", kGnuMagic, "14567123456") + end, WalkResult::Ok,
         {"file a.txt: a"}},
        {"pax path",
         pax(PaxRecord("mtime", "1577934246.5") + PaxRecord("path", longName)) + TarEntry(cut, '0', "P") +
             shortFile + end,
         WalkResult::Ok, {"file " + Backslashed(longName) + " (utf8): P", "file short.txt: s"}},
        // Python writes a size too large for the octal field as 0 and the real one here.
        {"pax size",
         pax(PaxRecord("size", "700")) + TarEntry("big.bin", '0', std::string(700, 'b'), kPosixMagic, "", 0) +
             shortFile + end,
         WalkResult::Ok, {"file big.bin: " + std::string(700, 'b'), "file short.txt: s"}},
        {"pax global header", pax(PaxRecord("path", "global.txt"), 'g') + shortFile + end, WalkResult::Ok,
         {"file short.txt: s"}},
        {"long name at the end", shortFile + gnuLong(longName) + end, WalkResult::Damaged, {"file short.txt: s"}},
        {"pax header at the end", shortFile + pax(PaxRecord("path", longName)), WalkResult::Damaged,
         {"file short.txt: s"}},
        {"pax record of a wrong length", pax("99 path=a.txt\n") + shortFile + end, WalkResult::Damaged, {}},
        {"long name beyond 1 MiB", TarEntry("././@LongLink", 'L', "", kGnuMagic, "", 2 << 20) + end,
         WalkResult::Damaged, {}},
        {"GNU long name that escapes", gnuLong(escaping) + TarEntry(cut, '0', "e", kGnuMagic) + end,
         WalkResult::UnsafeName, {}},
        {"ustar prefix that escapes",
         TarEntry(escaping.substr(escapingDir.size() + 1), '0', "e", kPosixMagic, escapingDir) + end,
         WalkResult::UnsafeName, {}},
        {"pax path that escapes", pax(PaxRecord("path", escaping)) + TarEntry(cut, '0', "e") + end,
         WalkResult::UnsafeName, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySource in(reinterpret_cast<const uint8_t*>(c.tar.data()), c.tar.size());
        RecordingSink sink;
        WalkStats stats;
        EXPECT_EQ(int(WalkTar(in, sink, stats)), int(c.result));
        EXPECT_EQ(sink.events, c.events);
    }
}

}  // namespace
