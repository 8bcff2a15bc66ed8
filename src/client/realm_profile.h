// Activation of a realm's profile before a launch: its qvx_patch.grf and
// System folder from profiles\<realm>\ become the game directory's own.
#pragma once

#include <string>

// "season" activates the Season profile, every other mode the Legacy one.
// False only for "season", without profiles\season\System or when its
// qvx_patch.grf could not be placed; a test launcher keeps its flat layout
// and always goes on.
bool ActivateRealmProfile(const std::string& mode);
