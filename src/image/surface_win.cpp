// The bitmap of an image surface on Windows: a DIB section, whose pixel
// memory GDI allocates and StretchDIBits can draw straight from.
#include "base/systemdll_win.h"  // <windows.h> and the bound system calls

#include <stddef.h>

#include "image/surface.h"

// surface.cpp writes the info block byte by byte in this layout.
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER layout");
static_assert(offsetof(BITMAPINFOHEADER, biHeight) == 8, "BITMAPINFOHEADER layout");
static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14, "BITMAPINFOHEADER layout");
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32, "BITMAPINFOHEADER layout");
static_assert(offsetof(BITMAPINFO, bmiColors) == 40, "BITMAPINFO layout");

bool CreateSurfaceBitmap(ImageSurface* surface) {
    HDC screen_compatible = CreateCompatibleDC(nullptr);
    if (!screen_compatible) return false;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen_compatible, (const BITMAPINFO*)surface->info,
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    DeleteDC(screen_compatible);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        return false;
    }
    surface->bitmap = bitmap;
    surface->pixels = (unsigned char*)bits;
    return true;
}

void DeleteSurfaceBitmap(ImageSurface* surface) {
    // Frees the pixel memory too.
    if (surface->bitmap) DeleteObject((HBITMAP)surface->bitmap);
    surface->bitmap = nullptr;
    surface->pixels = nullptr;
}
