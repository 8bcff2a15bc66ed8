// File and directory primitives shared by synchronisation and launch, with the
// busy-file rule: a target that cannot be replaced is renamed to "<name>.old".
// None of them deletes, replaces or clears attributes through a link: an entry
// that leads elsewhere is left, with a failed result where there is one.
#pragma once

#include <cstddef>
#include <string>

// Create every directory above the last separator ('\' or '/').
void EnsureParentDirectories(const std::string& path);
void CreateParentDirectories(const std::string& path);

// Move a verified file over its target. A missing source leaves the target
// alone, and a target moved to ".old" comes back when the second move fails.
bool MoveFileIntoPlace(const std::string& source, const std::string& target);

// Put source's content at target: hard link, else copy. The content is staged
// beside the target and moved over it whole, so a failure leaves the target.
bool LinkOrCopyFile(const std::string& source, const std::string& target);
// The most that LinkOrCopyFile's staged name adds to the target's path.
size_t LinkOrCopyStagingReserve();

// What DeleteFileNotThroughLink did with a path.
enum class FileDeletion {
    Deleted,
    NoFile,    // nothing there, or a directory
    LeftLink,  // a link to another file, left as it is
    Failed,    // a file of its own that could not be deleted (in use)
};

// Delete a file, read-only or hidden too, but never through a link: under
// Wine a Unix link to a file looks like that file, and deleting it (or
// clearing its attributes) would act on what it points to.
FileDeletion DeleteFileNotThroughLink(const std::string& path);

// True when a directory (or a link to one) stands at path.
bool IsDirectoryPath(const std::string& path);

// Remove a directory and everything below it; links are never followed, and
// removed only where the system removes the link itself.
bool RemoveDirectoryTree(const std::string& directory);

// Remove a directory tree but leave junctions and directory links alone.
void DeleteDirectoryTreeNoReparse(const std::string& directory);

// Make target hold the same tree as source; without a source directory the
// target is left as it is. Links inside the target are never entered.
void MirrorDirectoryTree(const std::string& source, const std::string& target);

// Copy, with a stream copy when CopyFileA fails. Any read or write error is a
// failure that leaves the target as it was; a file copied onto itself stays.
bool CopyFileWithFallback(const std::string& source, const std::string& target);

// Write an RCDATA resource of the launcher's own file to a file, whole or not at all.
bool ExtractResourceToFile(int id, const std::string& path);
