#include "driver_capture.h"

#include <cstdio>
#include <vector>

#include "driver_bmp.h"

namespace zvdriver {

namespace {

// The screen DC is released with the null window it came from.
struct ScreenDc {
    HDC dc = GetDC(nullptr);
    ScreenDc() = default;
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() {
        if (dc) ReleaseDC(nullptr, dc);
    }
};

struct MemoryDc {
    HDC dc;
    explicit MemoryDc(HDC compatible) : dc(CreateCompatibleDC(compatible)) {}
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    ~MemoryDc() {
        if (dc) DeleteDC(dc);
    }
};

struct Bitmap {
    HBITMAP bitmap;
    explicit Bitmap(HBITMAP b) : bitmap(b) {}
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;
    ~Bitmap() {
        if (bitmap) DeleteObject(bitmap);
    }
};

// Puts back the object a selection replaced, before either is destroyed.
struct Selection {
    HDC dc;
    HGDIOBJ previous;
    Selection(HDC d, HGDIOBJ object) : dc(d), previous(SelectObject(d, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (previous) SelectObject(dc, previous);
    }
};

struct File {
    FILE* file;
    explicit File(FILE* f) : file(f) {}
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File() {
        if (file) fclose(file);
    }
};

}  // namespace

std::string CaptureScreenToBmp(const RECT& region, const std::wstring& path) {
    const int width = region.right - region.left;
    const int height = region.bottom - region.top;
    if (width <= 0 || height <= 0) return "empty region";

    ScreenDc screen;
    if (!screen.dc) return "GetDC failed";
    MemoryDc memory(screen.dc);
    Bitmap bitmap(CreateCompatibleBitmap(screen.dc, width, height));
    if (!memory.dc || !bitmap.bitmap) return "cannot create the memory bitmap";

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, the order BMP stores
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> pixels(BmpRowStride(width) * static_cast<size_t>(height));
    {
        Selection selected(memory.dc, bitmap.bitmap);
        if (!BitBlt(memory.dc, 0, 0, width, height, screen.dc, region.left, region.top, SRCCOPY)) return "BitBlt failed";
    }
    // GetDIBits wants the bitmap not selected into a DC.
    if (GetDIBits(memory.dc, bitmap.bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) !=
        height) {
        return "GetDIBits failed";
    }

    File out(_wfopen(path.c_str(), L"wb"));
    if (!out.file) return "cannot open the output file";
    std::vector<uint8_t> header = BmpHeader(width, height);
    if (fwrite(header.data(), 1, header.size(), out.file) != header.size() ||
        fwrite(pixels.data(), 1, pixels.size(), out.file) != pixels.size()) {
        return "write failed";
    }
    return {};
}

}  // namespace zvdriver
