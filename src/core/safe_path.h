// Tells whether a relative path from the service or from an archive stays
// inside the directory it is joined to.
#pragma once

#include <string>

// True for a non-empty relative path ('/' or '\' separators, a leading "./"
// allowed) that is not absolute, names no drive or share, holds no ':' and no
// ".." segment. Every path the launcher joins to the game directory must pass.
bool IsSafeRelativePath(const std::string& path);
