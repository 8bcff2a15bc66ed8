#include "sync/manifest.h"

#include "core/log.h"
#include "core/safe_path.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

// Position just past the first '"key"' and its following ':', or npos.
size_t FindValueStart(const std::string& text, const char* key, size_t keyLength)
{
    std::string needle;
    needle.reserve(keyLength + 2);
    needle += '"';
    needle.append(key, keyLength);
    needle += '"';
    const size_t at = text.find(needle);
    if (at == std::string::npos) return std::string::npos;
    const size_t colon = text.find(':', at + needle.size());
    return colon == std::string::npos ? std::string::npos : colon + 1;
}

}  // namespace

uint64_t JsonGetUInt64(const std::string& text, const char* key, size_t keyLength)
{
    const size_t start = FindValueStart(text, key, keyLength);
    if (start == std::string::npos) return 0;
    const size_t digit = text.find_first_of("0123456789", start);
    if (digit == std::string::npos) return 0;
    return std::strtoull(text.c_str() + digit, nullptr, 10);
}

std::string JsonGetStringOrEmpty(const std::string& text, const char* key, size_t keyLength)
{
    const size_t start = FindValueStart(text, key, keyLength);
    if (start == std::string::npos) return std::string();
    const size_t open = text.find('"', start);
    if (open == std::string::npos) return std::string();
    const size_t close = text.find('"', open + 1);
    if (close == std::string::npos) return std::string();
    return text.substr(open + 1, close - open - 1);
}

bool ParseManifest(const std::string& text, uint32_t& patchVersion, std::string& baseUrl,
                   std::vector<ManifestEntry>& entries)
{
    patchVersion = static_cast<uint32_t>(JsonGetUInt64(text, "patch_version", 13));
    baseUrl = JsonGetStringOrEmpty(text, "base_url", 8);
    entries.clear();

    const size_t files = text.find("\"files\"");
    if (files == std::string::npos) return false;
    const size_t bracket = text.find('[', files);
    if (bracket == std::string::npos) return false;

    // Every brace pair after the '[' is a file object, even past the ']'.
    size_t position = bracket + 1;
    while (position < text.size()) {
        const size_t open = text.find('{', position);
        if (open == std::string::npos) break;
        const size_t close = text.find('}', open + 1);
        if (close == std::string::npos) break;
        const std::string object = text.substr(open, close - open + 1);
        position = close + 1;

        std::string path = JsonGetStringOrEmpty(object, "path", 4);
        std::string crc = JsonGetStringOrEmpty(object, "crc32", 5);
        if (path.empty() || crc.empty()) continue;
        // Every caller joins the path to the game directory.
        if (!IsSafeRelativePath(path) || !NamesWhatItsKeySays(path)) {
            LogLine("[WARN] Ignoring manifest entry with unsafe path: " + path);
            continue;
        }
        ManifestEntry entry;
        entry.path = std::move(path);
        entry.size = JsonGetUInt64(object, "size", 4);
        entry.crc32 = ToLower(crc);
        entries.push_back(std::move(entry));
    }
    return !entries.empty();
}

bool NamesWhatItsKeySays(const std::string& path)
{
    const std::string p = NormalizeRelPath(path);
    // Windows also passes over "." segments, which the key keeps.
    return KeepsItsNameOnWindows(p) && ("/" + p + "/").find("/./") == std::string::npos;
}

std::string NormalizeRelPath(const std::string& path)
{
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '\\') c = '/';
        // A run of separators is one, as Windows reads it: a JSON writer fed
        // a Windows path escapes each backslash as two, and this reader keeps
        // both.
        if (c == '/' && !out.empty() && out.back() == '/') continue;
        out += c;
    }
    size_t skip = 0;
    while (out.compare(skip, 2, "./") == 0) skip += 2;
    return out.substr(skip);
}

std::string ToLower(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string PathKey(const std::string& path) { return ToLower(NormalizeRelPath(path)); }

bool IsRealmProfileFile(const std::string& key)
{
    return key == "qvx_patch.grf" || key.compare(0, 7, "system/") == 0;
}
