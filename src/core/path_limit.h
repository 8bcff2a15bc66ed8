// Every file call of the launcher names its file with narrow text, and the
// system refuses a narrow path that reaches MAX_PATH with its terminating
// null; the launcher is not long-path aware. A path is checked against that
// limit before anything is written or fetched for it, so that no file is put
// where the launcher could not read it back.
#pragma once

#include <cstddef>
#include <string>

// The most an extraction adds to a file's path for a name beside it: its
// staged name (".~x" and up to three digits). The busy-file rule's ".old" and
// a download's ".part" are shorter.
constexpr size_t kBesideNameReserve = 6;

// path made absolute against the current directory, as the system resolves a
// relative name; empty when it cannot be resolved.
std::wstring FullPathOf(const std::wstring& path);

// True when a path of that many characters, with reserve more, stays below
// the limit.
bool PathFits(size_t characters, size_t reserve);
// The log line for a path that does not fit.
void LogPathTooLong(const std::wstring& fullPath);

// True when path with reserve more characters still stays below the limit.
// Otherwise logs "[ERROR] Path too long for this system (N characters): " and
// the path, N its length, and gives false. Lengths count UTF-16 units, which
// is what the system counts once it has converted narrow text.
bool FitsPathLimit(const std::wstring& fullPath, size_t reserve);
// The same for a path in the system code page.
bool FitsPathLimit(const std::string& fullPath, size_t reserve);
