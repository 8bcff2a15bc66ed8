// Extraction of ".zip" and ".rgz" archives below a destination directory.
#pragma once

#include "core/zip_reader.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// How many characters a caller will add to a written file's path for a name of
// its own (a copy of the file in another folder), given the file's name as the
// list gives it. The extractors count it, with their own staged and ".old"
// names, against the system's path limit.
using NameReserve = std::function<size_t(const std::string& name)>;

// Chooses the extractor by the exact ending ".zip", ".ZIP", ".rgz" or ".RGZ".
// Every file written is appended to names (relative, '\' separators, system
// code page). True only when every entry arrived whole: an archive with a name
// that would leave the destination writes nothing, a damaged entry never
// reaches its target (each file is staged beside it and moved over it when
// complete), and a ".rgz" places its files and folders only after its gzip
// trailer checked. An archive with a path that would reach the system's limit
// (see path_limit.h) writes nothing either, and that path goes to the log.
bool ExtractArchive(const std::string& archive, const std::string& destination,
                    std::vector<std::string>* names = nullptr, const NameReserve& reserve = NameReserve());
bool ExtractZipArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr,
                       const NameReserve& reserve = NameReserve());
bool ExtractRgzArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr,
                       const NameReserve& reserve = NameReserve());

// True when the ZIP archive's central directory reads and extraction would
// take every name in it (the path limit aside, which depends on where it is
// extracted); the entries' data is not read.
bool HasZipDirectory(const std::string& archive);

// The entries of the ZIP archive's central directory (ZIP64 included); false
// when it cannot be read.
bool ReadZipEntries(const std::string& archive, std::vector<ZipEntry>& entries);
