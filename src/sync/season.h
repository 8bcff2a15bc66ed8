// Keeps the Season realm's profile (profiles\season\) in step with the
// service's Season manifest, reusing identical files of the Legacy profile.
#pragma once

#include "core/progress.h"

#include <string>

// An empty gameDir means the launcher directory. True also when there is
// nothing to do: no Season manifest URL, or no manifest to be had. error is
// written only when false is returned.
bool SyncSeasonProfile(const std::string& seasonManifestUrl, const std::string& seasonDownloadUrl,
                       const std::string& gameDir, const ProgressCallback& progress,
                       std::string& error);

// The URL that the manifest's files are fetched under: the manifest's base URL
// with a final '/', or the Season download URL + "client/" when it has none.
std::string SeasonDownloadBaseUrl(const std::string& manifestBaseUrl,
                                  const std::string& seasonDownloadUrl);
