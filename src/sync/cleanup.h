// The test launcher's SYNC FILES tidy-up: removes whatever does not belong at
// the top level of the game directory, judged by name alone.
#pragma once

#include <set>
#include <string>

// Top-level folder names that stay, lower case, compared with the whole name.
const std::set<std::string>& CleanupKeptDirectories();
// File extensions that stay, lower case with their leading dot.
const std::set<std::string>& CleanupKeptExtensions();

// The name rules of one top-level entry, apart from the listing.
bool IsKeptTopLevelDirectory(const std::string& name);
bool IsKeptTopLevelFile(const std::string& name);
// Names that Windows path handling would turn into another entry's path
// (a trailing '.' or blank: "data." means "data", "..." the folder itself).
bool IsUnaddressableEntryName(const std::string& name);

// One pass over the top level of root (empty: the launcher directory). Logs
// every removal and the totals; never enters the folders that stay, never
// follows a link and never removes the running launcher's own file.
void CleanupGarbageFiles(const std::string& root);
