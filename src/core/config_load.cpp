// The configuration's sources on disk and in the launcher's own resources;
// the document itself is read in config.cpp.
#include "core/config.h"
#include "core/identity.h"

#include <resource_ids.h>
#include <windows.h>

#include <fstream>
#include <iterator>

std::string LoadResourceString(int id)
{
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
    if (info == nullptr) return std::string();
    HGLOBAL loaded = LoadResource(nullptr, info);
    if (loaded == nullptr) return std::string();
    const DWORD size = SizeofResource(nullptr, info);
    const void* bytes = LockResource(loaded);
    if (bytes == nullptr || size == 0) return std::string();
    return std::string(static_cast<const char*>(bytes), size);
}

LauncherConfig LoadLauncherConfig(const std::string& path)
{
    const bool test = IsTestLauncher();
    std::ifstream file(test ? "config_test.json" : path, std::ios::binary);
    std::string document;
    if (file) {
        document.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } else {
        document = LoadResourceString(test ? IDR_CONFIG_TEST : IDR_CONFIG_LIVE);
    }
    return ConfigFromDocument(document, test);
}
