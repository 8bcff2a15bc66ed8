// Loading the window's pictures (embedded first, else from a file) and the
// UTF-8 to UTF-16 conversion that GDI+ needs for paths and drawn texts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace Gdiplus {
class Bitmap;
}

// The embedded RCDATA image `resourceId` (0 for none) when it decodes, else the
// file at `path` (UTF-8; empty for none), else null. The caller owns the bitmap
// and deletes it while GDI+ still runs.
Gdiplus::Bitmap* LoadBitmapFromResourceOrFile(const std::string& path, int32_t resourceId);

// Invalid UTF-8 becomes the replacement character; a failed conversion gives "".
std::wstring Utf8ToWide(const std::string& text);
