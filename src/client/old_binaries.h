// The background clean-up at start-up of files left behind under ".old" names
// by replaced binaries, and of the old theme images.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace GameLauncher {
// Starts the clean-up on a detached thread and returns at once.
void CleanupOldBinariesAsync();
}  // namespace GameLauncher

constexpr int kOldBinaryCleanupPasses = 25;
constexpr unsigned kOldBinaryCleanupPauseMs = 150;

// The eight paths the clean-up visits, in order, for the launcher directory and
// the launcher's own path (".old" already removed).
std::vector<std::string> OldBinaryCleanupPaths(const std::string& launcherDir,
                                               const std::string& launcherPath);

// The thread's work: passes over the paths until one deletes every file still
// present, at most kOldBinaryCleanupPasses, with pause(kOldBinaryCleanupPauseMs)
// after each failed pass. Returns the number of passes made.
int RunOldBinaryCleanup(const std::vector<std::string>& paths,
                        const std::function<void(unsigned ms)>& pause);
