// What the launcher relies on of the game client's files.
#pragma once

#include <cstdint>

// The client's main archive, in the game directory.
constexpr const char* kClientMainArchive = "data.grf";
// A data.grf of at least 1 MiB means a client is installed.
constexpr uint64_t kInstalledClientMinSize = 1048576;
// A data.grf larger than 100 MiB lets a missing patch-version file start at 221.
constexpr uint64_t kBootstrapClientMinSize = 104857601;
constexpr uint32_t kBootstrapPatchVersion = 221;
