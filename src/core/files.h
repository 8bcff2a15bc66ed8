// File and directory primitives shared by synchronisation and launch, with the
// busy-file rule: a target that cannot be replaced is renamed to "<name>.old".
#pragma once

#include <string>

// Create every directory above the last separator ('\' or '/').
void EnsureParentDirectories(const std::string& path);
void CreateParentDirectories(const std::string& path);

// Move a verified file over its target.
bool MoveFileIntoPlace(const std::string& source, const std::string& target);

// Put source's content at target: hard link, else copy.
bool LinkOrCopyFile(const std::string& source, const std::string& target);

// Remove a directory and everything below it; links are removed, never followed.
bool RemoveDirectoryTree(const std::string& directory);

// Remove a directory tree but leave junctions and directory links alone.
void DeleteDirectoryTreeNoReparse(const std::string& directory);

// Make target hold the same tree as source.
void MirrorDirectoryTree(const std::string& source, const std::string& target);

bool CopyFileWithFallback(const std::string& source, const std::string& target);

// Write an RCDATA resource of the launcher's own file to a file.
bool ExtractResourceToFile(int id, const std::string& path);
