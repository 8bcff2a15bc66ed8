#include "client/realm_profile.h"

#include "core/files.h"
#include "core/identity.h"
#include "core/log.h"

#include <windows.h>

RealmActivation ActivateRealm(const std::string& mode)
{
    const std::string dir = GetLauncherDir();
    DeleteFileA((dir + "\\System\\itemInfo_EN_legacy.lua").c_str());
    DeleteFileA((dir + "\\System\\itemInfo_EN_season.lua").c_str());

    if (IsTestLauncher()) {
        LogLine("[INFO] Test environment uses flat client layout; skipping profile directory switch.");
        return RealmActivation::Done;
    }

    const std::string realm = mode == "season" ? "season" : "legacy";
    const std::string profile = dir + "\\profiles\\" + realm;
    const std::string grf = profile + "\\qvx_patch.grf";
    const std::string sys = profile + "\\System";
    if (!IsDirectoryPath(sys)) {
        LogLine("[WARN] Profile directory not found (" + sys + "); keeping active root files.");
        return mode == "season" ? RealmActivation::ProfileMissing : RealmActivation::Done;
    }
    if (GetFileAttributesA(grf.c_str()) != INVALID_FILE_ATTRIBUTES) {
        const bool linked = LinkOrCopyFile(grf, dir + "\\qvx_patch.grf");
        LogLine("[INFO] Linked " + grf + " -> qvx_patch.grf (" + (linked ? "OK" : "FAILED") + ")");
        // A failed placement leaves the former archive active, most likely the
        // Legacy one: a Season client must not run on it. The System folder is
        // left as it is, so nothing is half-switched.
        if (!linked && realm == "season") return RealmActivation::ArchiveNotPlaced;
    }
    MirrorDirectoryTree(sys, dir + "\\System");
    LogLine("[INFO] Activated System/ directory from profile: " + mode);
    return RealmActivation::Done;
}

bool ActivateRealmProfile(const std::string& mode) { return ActivateRealm(mode) == RealmActivation::Done; }
