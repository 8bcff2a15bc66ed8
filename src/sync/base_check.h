// Without a manifest: is a client installed, else install the full client.
// With one: replace the launcher when the manifest lists another build of it.
#pragma once

#include "core/progress.h"
#include "sync/manifest.h"

#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

bool LegacyBaseCheck(HINTERNET session, const std::string& manifestUrl,
                     const std::string& fullClientUrl, const std::string& dir,
                     const ProgressCallback& progress, std::string& error);

// Returns when nothing was replaced; otherwise restarts the launcher.
void SelfUpdateFromManifest(HINTERNET session, const std::vector<ManifestEntry>& entries,
                            const std::string& baseUrl, const ProgressCallback& progress);

// Downloads the launcher build at url to fresh, verifies it against
// expectedCrc and swaps it in for the running file (kept as ".old").
bool ReplaceLauncherBinary(HINTERNET session, const std::string& url, const std::string& fresh,
                           const std::string& expectedCrc, const ProgressCallback& progress);

// Moves the running launcher at path aside to ".old" and fresh into its place;
// when the second move fails the running file is moved back.
bool SwapLauncherFile(const std::string& fresh, const std::string& path);
