// Activation of a realm's profile before a launch: its qvx_patch.grf and
// System folder from profiles\<realm>\ become the game directory's own.
#pragma once

#include <string>

enum class RealmActivation {
    Done,             // the launch may go on
    ProfileMissing,   // no profiles\season\System
    ArchiveNotPlaced  // the Season qvx_patch.grf could not be put in place
};

// "season" activates the Season profile, every other mode the Legacy one.
// Only "season" can stop the launch; a test launcher keeps its flat layout
// and always goes on.
RealmActivation ActivateRealm(const std::string& mode);

// True when the launch may go on.
bool ActivateRealmProfile(const std::string& mode);
