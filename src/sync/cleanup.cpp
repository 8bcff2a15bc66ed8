#include "sync/cleanup.h"

#include "core/files.h"
#include "core/handles.h"
#include "core/identity.h"
#include "core/log.h"
#include "sync/manifest.h"

#include <windows.h>

namespace {

// The service's stamp stays whatever the tables say.
bool IsAlwaysSparedFile(const std::string& lower)
{
    return lower == ".update-timestamp";
}

bool FailsCharacterRule(const std::string& name)
{
    return name.find_first_of("^:\t") != std::string::npos;
}

std::string ExtensionOf(const std::string& lower)
{
    const size_t dot = lower.rfind('.');
    return dot == std::string::npos ? std::string() : lower.substr(dot);
}

std::string JoinPath(const std::string& root, const std::string& name)
{
    if (!root.empty() && (root.back() == '\\' || root.back() == '/')) return root + name;
    return root + "\\" + name;
}

// The canonical, lower-case form of a path, for telling whether two spellings
// name the same place.
std::string ComparablePath(const std::string& path)
{
    char buffer[MAX_PATH * 4];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
    std::string full = (n > 0 && n < sizeof(buffer)) ? std::string(buffer, n) : path;
    for (char& c : full)
        if (c == '/') c = '\\';
    while (full.size() > 3 && full.back() == '\\') full.pop_back();
    return ToLower(full);
}

}  // namespace

const std::set<std::string>& CleanupKeptDirectories()
{
    static const std::set<std::string> kept = {
        "ai",        "ai_sakray", "bgm",        "glcache",       "navigationdata", "profile",
        "profiles",  "replay",    "screenshot", "system",        "_tmpemblem",     "assets",
        "data",      "dosdevices", "drive_c",   "qvx.rep",       "gstreamer-1.0",  "memo",
        "output_dir", "savedata", "skin",       "themes",        "tmp"};
    return kept;
}

const std::set<std::string>& CleanupKeptExtensions()
{
    static const std::set<std::string> kept = {
        ".dll", ".exe", ".grf", ".rgz", ".gpf", ".ini", ".txt", ".inf", ".dat", ".gd",
        ".bat", ".sh",  ".reg", ".ico", ".asi", ".m3d", ".json", ".mp3", ".log"};
    return kept;
}

bool IsKeptTopLevelDirectory(const std::string& name)
{
    return CleanupKeptDirectories().count(ToLower(name)) != 0;
}

bool IsKeptTopLevelFile(const std::string& name)
{
    const std::string lower = ToLower(name);
    if (IsAlwaysSparedFile(lower)) return true;
    return CleanupKeptExtensions().count(ExtensionOf(lower)) != 0 && !FailsCharacterRule(name);
}

bool IsUnaddressableEntryName(const std::string& name)
{
    return name.empty() || name.back() == '.' || name.back() == ' ';
}

void CleanupGarbageFiles(const std::string& root)
{
    const std::string dir = root.empty() ? GetLauncherDir() : root;
    LogLine("[INFO] Scanning for garbage files and directories in: " + dir);

    // The running launcher's file stays even when its name breaks the rules.
    const std::string launcherPath = ComparablePath(GetLauncherPath());

    int removedDirectories = 0;
    int removedFiles = 0;
    {
        WIN32_FIND_DATAA entry;
        FindHandle find(FindFirstFileA(JoinPath(dir, "*").c_str(), &entry));
        if (!find.Valid()) return;
        do {
            const std::string name = entry.cFileName;
            // "." and ".." are the folder itself and its parent; any other name
            // that Windows would rewrite could reach a spared entry or the root.
            if (IsUnaddressableEntryName(name)) continue;
            const std::string full = JoinPath(dir, name);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (IsKeptTopLevelDirectory(name)) continue;
                LogLine("[CLEANUP] Removing garbage directory: " + name);
                // Removes a link itself where the system can, never what it leads to.
                if (RemoveDirectoryTree(full)) ++removedDirectories;
            } else {
                if (IsKeptTopLevelFile(name) || ComparablePath(full) == launcherPath) continue;
                LogLine("[CLEANUP] Removing garbage file: " + name);
                if (DeleteFileNotThroughLink(full) == FileDeletion::Deleted) ++removedFiles;
            }
        } while (FindNextFileA(find.Get(), &entry));
    }
    LogLine("[INFO] Cleanup finished. Removed " + std::to_string(removedDirectories) +
            " directories and " + std::to_string(removedFiles) + " files.");
}
