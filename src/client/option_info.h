// The client's option file savedata\OptionInfo.lua as bytes: its default text
// and the edits made before a launch. No file access here.
#pragma once

#include <string>

// The 2776-byte default option file; deviceDigit is the DEVICECNT value.
std::string OptionInfoDefaultText(char deviceDigit);

// What is written before a launch: the default text when the file is short
// or lacks the sprite or texture mode, else the file with menu icons on and
// DEVICECNT set (each key's line appended when missing).
std::string PrepareOptionInfoText(const std::string& text, char deviceDigit);

// Sets every OptionInfoList["bShowMenuIcon"] value to 1; false when the key
// does not occur.
bool EnableMenuIcons(std::string& text);

// Sets the value of the first OptionInfoList["DEVICECNT"] line to the digit,
// keeping the blanks before it; a line without a line end is left alone.
// False when the key does not occur.
bool SetDeviceCountValue(std::string& text, char deviceDigit);
