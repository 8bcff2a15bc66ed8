// Brings the game directory in line with the service's manifest.json.
#pragma once

#include "core/progress.h"

#include <string>

// An empty gameDir means the launcher directory. May not return: a launcher
// self-update restarts the process.
bool ValidateGameFiles(const std::string& manifestUrl, const std::string& fullClientUrl,
                       const std::string& baseDownloadUrl, const std::string& gameDir,
                       const ProgressCallback& progress, std::string& error);
