// Helpers of the window checks: GDI+ running for the whole check program, an
// off-screen canvas whose pixels can be read, and small solid pictures.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Gdiplus {
class Bitmap;
}

namespace checks {

// A 32-bit top-down DIB selected into a memory device context.
class Canvas {
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // 0xRRGGBB of the pixel.
    uint32_t Rgb(int x, int y) const;
    void Fill(uint32_t rgb);

private:
    int width_, height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
    uint32_t* bits_ = nullptr;
};

// True when every channel of two 0xRRGGBB colours differs by at most `tolerance`.
bool Near(uint32_t a, uint32_t b, int tolerance);
std::string Hex(uint32_t rgb);

// A new opaque bitmap of one colour (0xRRGGBB), owned by the caller.
Gdiplus::Bitmap* SolidBitmap(int width, int height, uint32_t rgb);

// Writes a PNG of one colour to a file; false when GDI+ cannot encode it.
bool WriteSolidPng(const std::string& path, int width, int height, uint32_t rgb);

}  // namespace checks

// gtest prints colours as hex in failures.
#define EXPECT_RGB_NEAR(actual, expected, tolerance)                                                   \
    EXPECT_PRED3(checks::Near, actual, expected, tolerance)                                            \
        << "actual " << checks::Hex(actual) << ", expected " << checks::Hex(expected)
