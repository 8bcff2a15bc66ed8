#include "client/client_files.h"

#include "core/whole_file.h"
#include "core/files.h"
#include "core/log.h"

#include <deployment.h>
#include <windows.h>

#include <initializer_list>

namespace {

// The game servers answer under the website's host name; the realms differ by port.
std::string SiteRoot()
{
    return VERANDEL_SITE_ROOT;
}

std::string GameHost()
{
    const std::string root = SiteRoot();
    const size_t scheme = root.find("://");
    return scheme == std::string::npos ? root : root.substr(scheme + 3);
}

struct ServerEntry {
    const char* display;
    const char* balloon;
    std::string address;
    int port;
};

std::string ConnectionBlock(const ServerEntry& e, bool first)
{
    std::string b = "\t\t<connection>\n";
    b += std::string("\t\t\t<display>") + e.display + "</display>\n";
    b += std::string("\t\t\t<balloon>") + e.balloon + "</balloon>\n";
    b += "\t\t\t<address>" + e.address + "</address>\n";
    b += "\t\t\t<port>" + std::to_string(e.port) + "</port>\n";
    b += "\t\t\t<version>55</version>\n";
    b += "\t\t\t<langtype>18</langtype>\n";
    b += "\t\t\t<balloon>Rebirth</balloon>\n";
    if (first) {
        b += "\t\t\t<registrationweb>" + SiteRoot() + "</registrationweb>\n";
        b += "\t\t\t<loading>\n\t\t\t\t<image>loading01.jpg</image>\n\t\t\t</loading>\n";
    }
    b += "\t\t</connection>\n";
    return b;
}

std::string ClientInfoText(std::initializer_list<ServerEntry> entries)
{
    std::string text =
        "<?xml version=\"1.0\" encoding=\"euc-kr\" ?>\n"
        "<clientinfo>\n"
        "\t<desc>Ragnarok Client Information</desc>\n"
        "\t<servicetype>france</servicetype>\n"
        "\t<servertype>sakray</servertype>\n";
    bool first = true;
    for (const ServerEntry& e : entries) {
        text += ConnectionBlock(e, first);
        first = false;
    }
    return text + "</clientinfo>";
}

ServerEntry LegacyRealm()
{
    return {"^bf1123[Legacy]^000000 Verandel", "Legacy Realm", GameHost(), 16900};
}

const std::string& ClientInfoTemplateLegacy()
{
    static const std::string text = ClientInfoText({LegacyRealm()});
    return text;
}

const std::string& ClientInfoTemplateSeason()
{
    static const std::string text = ClientInfoText(
        {{"^ff9900[Season 2]^000000 Seasonal Realm", "Season 2", GameHost(), 7900}, LegacyRealm()});
    return text;
}

const std::string& ClientInfoTemplateTest()
{
    static const std::string text =
        ClientInfoText({{"^00d4ff[Tester]^000000 Test Server", "Test Server", GameHost(), 6900}, LegacyRealm(),
                        {"^828282[Local Dev]^000000 Localhost", "Localhost", "localhost", 6900}});
    return text;
}

}  // namespace

const std::string& DataIniText()
{
    static const std::string text =
        "[Data]\r\n1=qvx_patch.grf\r\n2=qvx.grf\r\n3=ext.grf\r\n4=data.grf\r\n5=rdata.grf\r\n";
    return text;
}

const std::string& ClientInfoTemplateFor(const std::string& mode)
{
    if (mode == "test") return ClientInfoTemplateTest();
    if (mode == "season") return ClientInfoTemplateSeason();
    return ClientInfoTemplateLegacy();
}

void WriteDataIni(const std::string& mode)
{
    const std::string name = mode == "season" ? "DATA_SEASON.INI" : "DATA_LEGACY.INI";
    uint32_t error = 0;
    // A realm file whose write failed is removed, so the copy below cannot
    // carry a truncated list into DATA.INI.
    if (WriteWholeFile(name, DataIniText(), error)) {
        LogLine("[INFO] Wrote canonical profile config: " + name);
    } else {
        LogLine("[WARN] Failed to write " + name + " (Error: " + std::to_string(error) + ")");
    }
    const bool copied = CopyFileWithFallback(name, "DATA.INI");
    LogLine("[INFO] Applied " + name + " -> DATA.INI (result: " + (copied ? "OK" : "FAILED") + ")");
}

void WriteClientInfo(const std::string& mode)
{
    CreateDirectoryA("data", nullptr);
    const std::string path = "data/sclientinfo.xml";
    uint32_t error = 0;
    if (!WriteWholeFile(path, ClientInfoTemplateFor(mode), error)) {
        LogLine("[WARN] Could not write data/sclientinfo.xml (Error: " + std::to_string(error) + ")");
        return;
    }
    CopyFileWithFallback(path, "data/sclientinfo_" + mode + ".xml");
    LogLine("[INFO] Generated fresh data/sclientinfo.xml for mode: " + mode);
}
