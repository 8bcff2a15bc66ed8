#include "sync/patches.h"

#include "core/archive.h"
#include "core/archive_output.h"
#include "core/handles.h"
#include "core/http.h"
#include "core/identity.h"
#include "core/log.h"
#include "core/path_limit.h"
#include "core/safe_path.h"
#include "sync/manifest.h"
#include "sync/patch_list.h"
#include "sync/patched_hashes.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

const char kDownloadSuffix[] = ".part";  // the patch arrives beside its temporary name

void Report(const ProgressCallback& progress, const std::string& text, float percent)
{
    if (progress) progress(text, percent, 0, 0);
}

std::string InGameDir(const std::string& gameDir, const std::string& name)
{
    return gameDir.empty() ? name : gameDir + "\\" + name;
}

// An extraction that failed after moving the running launcher aside must not
// leave the game directory without a launcher.
void RestoreLauncherIfMissing()
{
    const std::string path = GetLauncherPath();
    const std::string old = path + ".old";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesA(old.c_str()) != INVALID_FILE_ATTRIBUTES)
        MoveFileExA(old.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool IsArchivePatch(const std::string& file)
{
    if (file.size() <= 3) return false;
    const std::string ending = file.substr(file.size() - 4);
    return ending == ".rgz" || ending == ".RGZ" || ending == ".zip" || ending == ".ZIP";
}

bool FitsAsNamed(const std::string& path, size_t reserve)
{
    return FitsPathLimit(FullPathOf(ToWide(path, CP_ACP)), reserve);
}

// A patch is downloaded only when the launcher can name what it writes: the
// download itself, and for a plain file its target with the names made of it
// (the download beside it, and the copy that recording it may make). An
// archive's entries are checked by the extraction.
bool PatchPathsFit(const std::string& gameDir, const std::string& file, const std::string& temp)
{
    const size_t download = sizeof kDownloadSuffix - 1;
    if (IsArchivePatch(file)) return FitsAsNamed(temp, download);
    const std::string target = InGameDir(gameDir, file);
    return FitsAsNamed(target, std::max(temp.size() - target.size() + download, LegacyCopyReserve(file)));
}

// Puts one downloaded patch in place and lists the files it wrote.
bool InstallPatchFile(const std::string& gameDir, const std::string& file,
                      const std::string& temp, std::vector<std::string>& names)
{
    if (IsArchivePatch(file)) {
        const bool extracted =
            ExtractArchive(temp, gameDir.empty() ? "." : gameDir, &names, LegacyCopyReserve);
        DeleteFileA(temp.c_str());
        if (!extracted) RestoreLauncherIfMissing();
        return extracted;
    }
    // The extractors' busy-file rule: a file in use goes to ".old" and comes
    // back when the patch still cannot take its place; a folder stays.
    if (!MoveOverTarget(ToWide(temp, CP_ACP), ToWide(InGameDir(gameDir, file), CP_ACP))) {
        DeleteFileA(temp.c_str());
        return false;
    }
    names.push_back(file);
    return true;
}

}  // namespace

bool CheckAndInstallPatches(const std::string& patchListUrl, const std::string& patchBaseUrl,
                            const std::string& gameDir, const ProgressCallback& progress,
                            std::string& message)
{
    const std::string versionPath = InGameDir(gameDir, PatchVersionFileName());
    bool unreadable = false;
    const uint32_t current = ReadPatchVersion(versionPath, &unreadable);
    if (unreadable) {
        // Level 0 would bring every patch again over newer files.
        message = "Could not read patch version file: " + versionPath;
        return false;
    }
    Report(progress, "Checking for updates (current: v" + std::to_string(current) + ")...", 0);

    std::string error;
    const std::vector<PatchListEntry> list = DownloadPatchList(patchListUrl, error);
    if (!error.empty() && list.empty()) {
        message = error;
        return false;
    }
    std::vector<PatchListEntry> pending;
    for (const PatchListEntry& entry : list)
        if (entry.version > current) pending.push_back(entry);
    if (pending.empty()) {
        message = "Game is up to date (v" + std::to_string(current) + ").";
        Report(progress, message, 100);
        return true;
    }

    InternetHandle session(OpenServiceSession());
    if (!session) {
        message = "Failed to open HTTP session.";
        return false;
    }
    const std::string launcherKey = PathKey(GetLauncherFileName());

    const size_t count = pending.size();
    for (size_t i = 0; i < count; ++i) {
        const PatchListEntry& patch = pending[i];
        // The list names files in the game directory; any other name is
        // refused, and so is one that Windows would write under another name
        // than the one its records and the restart check go by.
        if (!IsSafeRelativePath(patch.file) || !NamesWhatItsKeySays(patch.file)) {
            message = "Refusing patch with an unsafe file name: " + patch.file;
            return false;
        }
        const std::string url = patchBaseUrl + patch.file;
        const std::string temp = InGameDir(gameDir, "temp_patch_" + patch.file);
        if (!PatchPathsFit(gameDir, patch.file, temp)) {
            message = "Failed to install patch: " + patch.file;
            return false;
        }
        Report(progress, "Patch " + std::to_string(i + 1) + "/" + std::to_string(count) + ": " +
                             patch.file, 0);
        if (!DownloadPatchFile(session.Get(), url.c_str(), temp, progress, patch.file)) {
            message = "Error downloading patch: " + patch.file;
            return false;
        }
        Report(progress, "Installing patch: " + patch.file + "...", 100);

        std::vector<std::string> names;
        if (!InstallPatchFile(gameDir, patch.file, temp, names)) {
            // Not installed: no records, and the level stays, so the next run
            // brings this patch again.
            message = "Failed to install patch: " + patch.file;
            return false;
        }

        bool restart = false;
        std::vector<std::string> recorded;
        recorded.reserve(names.size());
        for (const std::string& name : names) {
            if (PathKey(name) == launcherKey)
                restart = true;  // the launcher's own executable gets no record
            else
                recorded.push_back(name);
        }
        std::string failedName;
        if (!RecordPatchedFiles(recorded, patch.version, failedName)) {
            // Without its record the next validation would take the file for
            // a damaged one and put the manifest's copy back, under a level
            // that claims the patch.
            message = "Failed to record patched file: " + failedName;
            return false;
        }
        // A restart reads the level anew; without it a "stop" patch would be
        // installed and restarted into for ever.
        if (!WritePatchVersion(patch.version, versionPath)) {
            message = "Failed to write patch version file: " + versionPath;
            return false;
        }

        if (patch.flag == "stop" || restart) {
            session.Reset();
            message = "Launcher updated. Restarting...";
            Report(progress, message, 100);
            RestartLauncher();
        }
    }
    message = "All updates installed successfully (v" + std::to_string(pending.back().version) +
              ")!";
    Report(progress, message, 100);
    return true;
}
