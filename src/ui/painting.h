// Drawing helpers of the window's paint that checks also use: the rounded
// shapes and the one font family the process picks.
#pragma once

#include <string>

namespace Gdiplus {
class FontFamily;
class GraphicsPath;
}

// Appends a closed rounded rectangle (corner radius r) to the path; failures
// stay in the path's last status.
void AddRoundedRectPath(Gdiplus::GraphicsPath& path, float x, float y, float width,
                        float height, float r);

// The first of Tahoma, Segoe UI and Arial that GDI+ can create, else its
// generic sans-serif family when that holds a font, else the first family the
// system has installed; null when there is no font at all, and then the window
// is painted without text. Picked by the first paint, kept for the process.
extern const Gdiplus::FontFamily* g_fontFamily;

// The footer's second line: the ready text of the launcher's kind, else the
// whole percent (truncated toward zero) followed by "% complete".
std::wstring FooterDetailText(bool ready, bool testLauncher, float percent);
