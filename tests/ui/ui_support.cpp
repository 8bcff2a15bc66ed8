#include "ui/ui_support.h"

#include <objidl.h>
#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "ui/images.h"

namespace checks {

namespace {

// GDI+ runs from before the first check to after the last: the checks'
// images and fonts may only be released while it runs.
class GdiplusRunning : public testing::Environment {
public:
    void SetUp() override
    {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
    }
    void TearDown() override { Gdiplus::GdiplusShutdown(token_); }

private:
    ULONG_PTR token_ = 0;
};

[[maybe_unused]] testing::Environment* const g_gdiplus = testing::AddGlobalTestEnvironment(new GdiplusRunning);

bool PngEncoder(CLSID& clsid)
{
    UINT count = 0, size = 0;
    if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
    std::unique_ptr<char[]> buffer(new char[size]);
    auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.get());
    if (Gdiplus::GetImageEncoders(count, size, codecs) != Gdiplus::Ok) return false;
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(codecs[i].MimeType) == L"image/png") {
            clsid = codecs[i].Clsid;
            return true;
        }
    }
    return false;
}

}  // namespace

Canvas::Canvas(int width, int height) : width_(width), height_(height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<uint32_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
    if (!bits_) std::abort();
    Fill(0x000000);
}

Canvas::~Canvas()
{
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

uint32_t Canvas::Rgb(int x, int y) const
{
    GdiFlush();
    return bits_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
}

void Canvas::Fill(uint32_t rgb)
{
    GdiFlush();
    for (int i = 0; i < width_ * height_; ++i) bits_[i] = rgb;
}

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8) {
        int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        if (ca - cb > tolerance || cb - ca > tolerance) return false;
    }
    return true;
}

std::string Hex(uint32_t rgb)
{
    char text[16];
    std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(rgb));
    return text;
}

Gdiplus::Bitmap* SolidBitmap(int width, int height, uint32_t rgb)
{
    auto* bitmap = new Gdiplus::Bitmap(width, height, PixelFormat32bppARGB);
    Gdiplus::Graphics g(bitmap);
    g.Clear(Gdiplus::Color(0xFF000000 | rgb));
    return bitmap;
}

bool WriteSolidPng(const std::string& path, int width, int height, uint32_t rgb)
{
    CLSID png;
    if (!PngEncoder(png)) return false;
    std::unique_ptr<Gdiplus::Bitmap> bitmap(SolidBitmap(width, height, rgb));
    return bitmap->Save(Utf8ToWide(path).c_str(), &png, nullptr) == Gdiplus::Ok;
}

}  // namespace checks
