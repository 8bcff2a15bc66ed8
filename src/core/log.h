// launcher.log in the launcher directory, and the English text of Windows errors.
#pragma once

#include <cstdint>
#include <string>

// Appends "[YYYY-MM-DD hh:mm:ss.mmm] " + message as one CR LF line. Lines of
// several threads never interleave. Silent when the file cannot be opened.
void LogLine(const std::string& message);

// The time stamp prefix for the given local time parts.
std::string FormatLogTimestamp(int year, int month, int day, int hour, int minute, int second,
                               int millisecond);

// "Success" for 0, the system's English text otherwise (trailing CR/LF removed),
// "Unknown error" when the system has none.
std::string FormatWindowsError(uint32_t code);
