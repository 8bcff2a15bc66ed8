// The window's pictures: embedded RCDATA first, a file second, decoded by GDI+.
#include "ui/images.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>

#include "core/handles.h"

namespace {

// An HGLOBAL freed on every path until a stream takes it over.
class GlobalBlock {
public:
    explicit GlobalBlock(HGLOBAL h) : h_(h) {}
    ~GlobalBlock()
    {
        if (h_) GlobalFree(h_);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL Get() const { return h_; }
    HGLOBAL Release()
    {
        HGLOBAL h = h_;
        h_ = nullptr;
        return h;
    }

private:
    HGLOBAL h_;
};

// Releases the launcher's reference to a COM stream.
struct StreamRelease {
    void operator()(IStream* s) const { s->Release(); }
};

// A bitmap decoded from a movable memory block, or null. The stream owns the
// block (delete-on-release) and GDI+ keeps its own reference to the stream for
// as long as the bitmap lives, so the pixels never depend on the source file.
Gdiplus::Bitmap* BitmapFromBlock(GlobalBlock& block)
{
    IStream* raw = nullptr;
    if (CreateStreamOnHGlobal(block.Get(), TRUE, &raw) != S_OK || !raw) return nullptr;
    block.Release();
    std::unique_ptr<IStream, StreamRelease> stream(raw);
    std::unique_ptr<Gdiplus::Bitmap> bitmap(new Gdiplus::Bitmap(stream.get()));
    stream.reset();
    if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return bitmap.release();
}

// A movable block of `size` bytes filled by `fill`; null when either fails.
template <typename Fill>
HGLOBAL FilledBlock(SIZE_T size, Fill fill)
{
    GlobalBlock block(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!block.Get()) return nullptr;
    void* dest = GlobalLock(block.Get());
    if (!dest) return nullptr;
    bool filled = fill(dest);
    GlobalUnlock(block.Get());
    return filled ? block.Release() : nullptr;
}

Gdiplus::Bitmap* BitmapFromResource(int32_t resourceId)
{
    HRSRC info = FindResourceA(nullptr, MAKEINTRESOURCEA(resourceId), MAKEINTRESOURCEA(10));
    if (!info) return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, info);
    if (!loaded) return nullptr;
    DWORD size = SizeofResource(nullptr, info);
    const void* bytes = LockResource(loaded);
    if (!bytes || size == 0) return nullptr;
    GlobalBlock block(FilledBlock(size, [&](void* dest) {
        std::memcpy(dest, bytes, size);
        return true;
    }));
    if (!block.Get()) return nullptr;
    return BitmapFromBlock(block);
}

// The file is read into memory rather than opened by GDI+ itself: a bitmap
// made from a file keeps that file open and locked for its whole life, and a
// patch or a file synchronisation could then not replace a theme picture.
Gdiplus::Bitmap* BitmapFromFile(const std::string& path)
{
    // The path is UTF-8, so it is opened by its UTF-16 form like GDI+ would.
    std::wstring wide = Utf8ToWide(path);
    if (wide.empty()) return nullptr;
    UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0) return nullptr;
    if (static_cast<unsigned long long>(size.QuadPart) > static_cast<SIZE_T>(-1)) return nullptr;
    const SIZE_T total = static_cast<SIZE_T>(size.QuadPart);
    GlobalBlock block(FilledBlock(total, [&](void* dest) {
        auto* out = static_cast<char*>(dest);
        SIZE_T done = 0;
        while (done < total) {
            const SIZE_T left = total - done;
            DWORD chunk = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
            DWORD got = 0;
            if (!ReadFile(file.Get(), out + done, chunk, &got, nullptr) || got == 0) return false;
            done += got;
        }
        return true;
    }));
    if (!block.Get()) return nullptr;
    return BitmapFromBlock(block);
}

}  // namespace

Gdiplus::Bitmap* LoadBitmapFromResourceOrFile(const std::string& path, int32_t resourceId)
{
    if (resourceId != 0) {
        if (Gdiplus::Bitmap* embedded = BitmapFromResource(resourceId)) return embedded;
    }
    if (path.empty()) return nullptr;
    return BitmapFromFile(path);
}

std::wstring Utf8ToWide(const std::string& text)
{
    if (text.empty()) return std::wstring();
    const int length = static_cast<int>(text.size());
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &wide[0], n) != n) return std::wstring();
    return wide;
}
