// CRC-32 of files in the text form every record carries, and URL paths.
#pragma once

#include "core/progress.h"

#include <cstdint>
#include <string>

// The CRC-32 of a file as eight lower-case hex digits and its size. Reports
// progress for files over 32 MiB when a callback and a label are given. False
// when the file cannot be opened or sized, or fewer bytes than its size were
// read; crc32Out is then unchanged.
bool ComputeFileCrc32(const std::string& path, std::string& crc32Out, uint64_t& sizeOut,
                      const ProgressCallback& progress, const std::string& label, float base,
                      float span);

// Turns a relative file path into a URL path ('\' to '/', the rest %XX-escaped).
std::string UrlEncodePath(const std::string& path);
