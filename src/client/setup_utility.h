// The setup button's action: finds the client's setup program in the game
// directory and starts it through the spawner.
#pragma once

#include <functional>
#include <string>

// The spawner's result for the first candidate that opens; false, with the
// reason in the error text and a warning box, when none does.
bool RunSetupUtility(const std::string& setupExe, std::string& error);

// Shows a message box (text, title, style) and returns its answer. Checks
// replace it, since nobody answers a box under test; empty restores MessageBoxA.
using SetupMessageBox = std::function<int(const std::string& text, const std::string& title, unsigned style)>;
void SetSetupMessageBoxForChecks(SetupMessageBox show);
