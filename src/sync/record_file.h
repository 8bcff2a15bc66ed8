// Whole-file rewrites of the launcher's small state files (records, caches,
// the patch version): written beside the file and renamed over it, so a crash
// mid-write leaves the previous file rather than a truncated one.
#pragma once

#include <string>

// Writes bytes to path + ".tmp" and moves it over path. In text mode every
// "\n" is written as CR LF, as the C runtime's text mode does on Windows.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, bool textMode);

// The whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes);
