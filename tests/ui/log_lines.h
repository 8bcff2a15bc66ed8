// The messages of a folder's launcher.log, time stamps removed, for checks
// that run a copy of themselves in a folder of their own.
#pragma once

#include "core/foundation_support.h"

#include <sstream>
#include <string>
#include <vector>

namespace checks {

inline std::vector<std::string> LauncherLogLines(const ScratchDir& dir)
{
    std::vector<std::string> lines;
    std::istringstream log(ReadBytes(dir / "launcher.log"));
    for (std::string line; std::getline(log, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t stamp = line.find("] ");
        lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
    }
    return lines;
}

}  // namespace checks
