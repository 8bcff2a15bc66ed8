// Extraction of ".zip" and ".rgz" archives below a destination directory.
#pragma once

#include <string>
#include <vector>

// Chooses the extractor by the exact ending ".zip", ".ZIP", ".rgz" or ".RGZ".
// Every file written is appended to names (relative, '\' separators).
bool ExtractArchive(const std::string& archive, const std::string& destination,
                    std::vector<std::string>* names = nullptr);
bool ExtractZipArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr);
bool ExtractRgzArchive(const std::string& archive, const std::string& destination,
                       std::vector<std::string>* names = nullptr);
