// What a click on a play button does: refuse while a client runs, rewrite the
// client's files for the realm, activate its profile, tidy the directory and
// start the client, explaining any failure in a message box.
#pragma once

#include <string>

// PLAY LEGACY (on a test launcher the single PLAY, for the test server).
// True when the client was started; on false the error text holds the reason.
bool PlayLegacy(const std::string& clientExe, const std::string& clientArgs, std::string& error);

// PLAY SEASON, the same contract.
bool PlaySeason(const std::string& clientExe, const std::string& clientArgs, std::string& error);
