// Tells whether a relative path from the service or from an archive stays
// inside the directory it is joined to.
#pragma once

#include <string>

// True for a non-empty relative path ('/' or '\' separators, a leading "./"
// allowed) that is not absolute, names no drive or share, holds no ':' and no
// ".." segment. Every path the launcher joins to the game directory must pass.
bool IsSafeRelativePath(const std::string& path);

// False when Windows would open the path under another name: a segment (other
// than ".") that ends in a dot or a blank, which Windows drops, so that
// "qvx.dll." writes qvx.dll while every record and rule goes by the name with
// the dot.
bool KeepsItsNameOnWindows(const std::string& path);
