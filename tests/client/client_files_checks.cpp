#include "client/client_files.h"
#include "client/client_prep_support.h"
#include "core/foundation_support.h"

#include <deployment.h>

#include <gtest/gtest.h>

#include <vector>

using checks::IsDir;
using checks::LogMessages;
using checks::PathExists;
using checks::ReadBytes;
using checks::RunClientStep;
using checks::ScratchDir;
using checks::WriteBytes;

namespace {

const char kCopyName[] = "client_files_copy.exe";

const std::string kDataIni = "[Data]\r\n1=qvx_patch.grf\r\n2=qvx.grf\r\n3=ext.grf\r\n4=data.grf\r\n5=rdata.grf\r\n";

std::string Host()
{
    const std::string root = VERANDEL_SITE_ROOT;
    return root.substr(root.find("://") + 3);
}

// The server list as the client expects it, written out by hand.
std::string ExpectedLegacyTemplate()
{
    return "<?xml version=\"1.0\" encoding=\"euc-kr\" ?>\n"
           "<clientinfo>\n"
           "\t<desc>Ragnarok Client Information</desc>\n"
           "\t<servicetype>france</servicetype>\n"
           "\t<servertype>sakray</servertype>\n"
           "\t\t<connection>\n"
           "\t\t\t<display>^bf1123[Legacy]^000000 Verandel</display>\n"
           "\t\t\t<balloon>Legacy Realm</balloon>\n"
           "\t\t\t<address>" + Host() + "</address>\n"
           "\t\t\t<port>16900</port>\n"
           "\t\t\t<version>55</version>\n"
           "\t\t\t<langtype>18</langtype>\n"
           "\t\t\t<balloon>Rebirth</balloon>\n"
           "\t\t\t<registrationweb>" VERANDEL_SITE_ROOT "</registrationweb>\n"
           "\t\t\t<loading>\n"
           "\t\t\t\t<image>loading01.jpg</image>\n"
           "\t\t\t</loading>\n"
           "\t\t</connection>\n"
           "</clientinfo>";
}

struct Block {
    std::string display, balloon, address, port;
    bool extras;  // registrationweb and loading
};

// The connection blocks of a server list, read back from its text.
std::vector<Block> Blocks(const std::string& xml)
{
    std::vector<Block> out;
    auto between = [](const std::string& s, const std::string& open, const std::string& close) {
        const size_t a = s.find(open);
        if (a == std::string::npos) return std::string("?");
        const size_t b = s.find(close, a + open.size());
        return s.substr(a + open.size(), b - a - open.size());
    };
    for (size_t at = xml.find("\t\t<connection>\n"); at != std::string::npos;
         at = xml.find("\t\t<connection>\n", at + 1)) {
        const size_t end = xml.find("\t\t</connection>\n", at);
        const std::string b = xml.substr(at, end - at);
        out.push_back({between(b, "<display>", "</display>"), between(b, "<balloon>", "</balloon>"),
                       between(b, "<address>", "</address>"), between(b, "<port>", "</port>"),
                       b.find("<registrationweb>") != std::string::npos && b.find("<loading>") != std::string::npos});
        const std::string fixedLines =
            "\t\t\t<version>55</version>\n\t\t\t<langtype>18</langtype>\n\t\t\t<balloon>Rebirth</balloon>\n";
        EXPECT_NE(b.find(fixedLines), std::string::npos) << b;
    }
    return out;
}

std::string Describe(const std::vector<Block>& blocks)
{
    std::string s;
    for (const Block& b : blocks)
        s += b.display + "|" + b.balloon + "|" + b.address + "|" + b.port + (b.extras ? "|extras\n" : "\n");
    return s;
}

TEST(ClientFiles, EachModeWritesItsArchiveListAndServerList)
{
    const Block legacy = {"^bf1123[Legacy]^000000 Verandel", "Legacy Realm", Host(), "16900", false};
    Block legacyFirst = legacy;
    legacyFirst.extras = true;
    const std::vector<Block> season = {
        {"^ff9900[Season 2]^000000 Seasonal Realm", "Season 2", Host(), "7900", true}, legacy};
    const std::vector<Block> test = {{"^00d4ff[Tester]^000000 Test Server", "Test Server", Host(), "6900", true},
                                     legacy,
                                     {"^828282[Local Dev]^000000 Localhost", "Localhost", "localhost", "6900", false}};
    const struct {
        std::string mode;
        const char* realmFile;
        std::vector<Block> blocks;
    } cases[] = {
        {"legacy", "DATA_LEGACY.INI", {legacyFirst}},
        {"season", "DATA_SEASON.INI", season},
        {"test", "DATA_LEGACY.INI", test},
        // Modes are compared whole and case-sensitively.
        {"Season", "DATA_LEGACY.INI", {legacyFirst}},
        {"season ", "DATA_LEGACY.INI", {legacyFirst}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("mode '" + c.mode + "'");
        ScratchDir dir("client-files");
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "dataini|" + c.mode), 0);
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "clientinfo|" + c.mode), 0) << "no data folder beforehand";

        EXPECT_EQ(ReadBytes(dir / c.realmFile), kDataIni);
        EXPECT_EQ(ReadBytes(dir / "DATA.INI"), kDataIni);
        const std::string other = std::string(c.realmFile) == "DATA_SEASON.INI" ? "DATA_LEGACY.INI" : "DATA_SEASON.INI";
        EXPECT_FALSE(PathExists(dir / other));

        const std::string xml = ReadBytes(dir / "data\\sclientinfo.xml");
        EXPECT_EQ(xml.find('\r'), std::string::npos);
        ASSERT_GE(xml.size(), 13u);
        EXPECT_EQ(xml.substr(xml.size() - 14), "\n</clientinfo>");
        EXPECT_EQ(Describe(Blocks(xml)), Describe(c.blocks));
        if (c.blocks.size() == 1) {
            EXPECT_EQ(xml, ExpectedLegacyTemplate());
        }
        EXPECT_EQ(ReadBytes(dir / ("data\\sclientinfo_" + c.mode + ".xml")), xml);

        const std::vector<std::string> log = {
            "[INFO] Generated fresh data/sclientinfo.xml for mode: " + c.mode};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(ClientFiles, DataIniLogsBothSteps)
{
    ScratchDir dir("client-files");
    ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "dataini|legacy"), 0);
    const std::vector<std::string> log = {"[INFO] Wrote canonical profile config: DATA_LEGACY.INI",
                                          "[INFO] Applied DATA_LEGACY.INI -> DATA.INI (result: OK)"};
    EXPECT_EQ(LogMessages(dir.Path()), log);
}

TEST(ClientFiles, UnwritableFilesAreLoggedAndLeftAlone)
{
    {
        SCOPED_TRACE("a realm file held open by another program: its old text still becomes DATA.INI");
        ScratchDir dir("client-files");
        WriteBytes(dir / "DATA_SEASON.INI", "[Data]\r\n1=old.grf\r\n");
        HANDLE held = CreateFileA((dir / "DATA_SEASON.INI").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const int code = RunClientStep(dir.Path(), kCopyName, "dataini|season");
        CloseHandle(held);
        ASSERT_EQ(code, 0);
        EXPECT_EQ(ReadBytes(dir / "DATA_SEASON.INI"), "[Data]\r\n1=old.grf\r\n");
        EXPECT_EQ(ReadBytes(dir / "DATA.INI"), "[Data]\r\n1=old.grf\r\n");
        const std::vector<std::string> log = {"[WARN] Failed to write DATA_SEASON.INI (Error: 32)",
                                              "[INFO] Applied DATA_SEASON.INI -> DATA.INI (result: OK)"};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
    {
        SCOPED_TRACE("no realm file can exist: DATA.INI stays");
        ScratchDir dir("client-files");
        CreateDirectoryA((dir / "DATA_LEGACY.INI").c_str(), nullptr);
        WriteBytes(dir / "DATA.INI", "mine");
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "dataini|legacy"), 0);
        EXPECT_EQ(ReadBytes(dir / "DATA.INI"), "mine");
        const std::vector<std::string> log = {"[WARN] Failed to write DATA_LEGACY.INI (Error: 5)",
                                              "[INFO] Applied DATA_LEGACY.INI -> DATA.INI (result: FAILED)"};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
    {
        SCOPED_TRACE("a folder named like the server list: no copy, the old copy stays");
        ScratchDir dir("client-files");
        CreateDirectoryA((dir / "data").c_str(), nullptr);
        CreateDirectoryA((dir / "data\\sclientinfo.xml").c_str(), nullptr);
        WriteBytes(dir / "data\\sclientinfo_season.xml", "old copy");
        ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "clientinfo|season"), 0);
        EXPECT_TRUE(IsDir(dir / "data\\sclientinfo.xml"));
        EXPECT_EQ(ReadBytes(dir / "data\\sclientinfo_season.xml"), "old copy");
        const std::vector<std::string> log = {"[WARN] Could not write data/sclientinfo.xml (Error: 5)"};
        EXPECT_EQ(LogMessages(dir.Path()), log);
    }
}

TEST(ClientFiles, APerModeCopyIsOverwritten)
{
    ScratchDir dir("client-files");
    CreateDirectoryA((dir / "data").c_str(), nullptr);
    WriteBytes(dir / "data\\sclientinfo.xml", "stale list");
    WriteBytes(dir / "data\\sclientinfo_legacy.xml", "stale copy");
    ASSERT_EQ(RunClientStep(dir.Path(), kCopyName, "clientinfo|legacy"), 0);
    EXPECT_EQ(ReadBytes(dir / "data\\sclientinfo.xml"), ExpectedLegacyTemplate());
    EXPECT_EQ(ReadBytes(dir / "data\\sclientinfo_legacy.xml"), ExpectedLegacyTemplate());
}

}  // namespace
