// Whole-file rewrites of the launcher's small state files (records, caches,
// the patch level): written beside the file and renamed over it, so a crash
// mid-write leaves the previous file rather than a truncated one.
#pragma once

#include "core/whole_file.h"

#include <string>

// ReplaceWholeFile, and in text mode every "\n" is written as CR LF, as the C
// runtime's text mode does on Windows.
bool ReplaceFileContents(const std::string& path, const std::string& bytes, bool textMode);
