// Extraction of ".zip" and ".rgz" archives below a destination directory.
#pragma once

#include "core/zip_reader.h"

#include <string>
#include <vector>

// Chooses the extractor by the exact ending ".zip", ".ZIP", ".rgz" or ".RGZ".
// Every file written is appended to names (relative, '\' separators, system
// code page). True only when every entry arrived whole: an archive with a name
// that would leave the destination writes nothing, a damaged entry never
// reaches its target (each file is staged beside it and moved over it when
// complete), and a ".rgz" places its files and folders only after its gzip
// trailer checked.
bool ExtractArchive(const std::string& archive, const std::string& destination,
                    std::vector<std::string>* names = nullptr);
bool ExtractZipArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr);
bool ExtractRgzArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr);

// True when the ZIP archive's central directory reads and extraction would
// take every name in it; the entries' data is not read.
bool HasZipDirectory(const std::string& archive);

// The entries of the ZIP archive's central directory (ZIP64 included); false
// when it cannot be read.
bool ReadZipEntries(const std::string& archive, std::vector<ZipEntry>& entries);
