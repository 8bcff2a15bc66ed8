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
