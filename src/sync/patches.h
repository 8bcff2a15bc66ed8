// Installs every listed patch above the installed level, in list order.
#pragma once

#include "core/progress.h"

#include <string>

// message is the result text on success and the reason on failure. May not
// return: a patch that replaced the launcher or is flagged "stop" restarts it.
bool CheckAndInstallPatches(const std::string& patchListUrl, const std::string& patchBaseUrl,
                            const std::string& gameDir, const ProgressCallback& progress,
                            std::string& message);
