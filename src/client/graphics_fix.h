// The FIX button: switches the DirectX wrapper (dgVoodoo 2) in the game
// directory on or off after asking, and reports the outcome.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// Offers the one change out of the present state (DDraw.dll present: remove,
// else install) and performs it when the answer is Yes.
void ToggleGraphicsFix(HWND owner);

// The same on a given game directory.
void ToggleGraphicsFixIn(HWND owner, const std::string& dir);

// The option-file text after the switch: DEVICECNT set to the digit; a
// missing key's line is appended only when asked and the text is not empty.
std::string GraphicsFixOptionText(const std::string& text, char deviceDigit, bool appendMissing);

// Writes one of the wrapper's files (resource id to path); ExtractResourceToFile
// unless replaced. Checks put stand-in files in place of the wrapper's own.
using WrapperFileWriter = std::function<bool(int id, const std::string& path)>;
void SetWrapperFileWriterForChecks(WrapperFileWriter write);
