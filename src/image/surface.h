// A picture in memory that GDI can draw directly: a DIB section whose pixels
// the program writes itself, with the BITMAPINFO block that describes it.
// The record and the stride are portable (surface.cpp); only the bitmap itself
// is made by the platform: surface_win.cpp (CreateDIBSection) or
// surface_console.cpp (heap memory, for vnpack and the tests).
#pragma once

#include <stdint.h>

struct ImageSurface {
    int32_t width;
    int32_t height;  // always positive; the requested sign lives in the info block
    int32_t stride;  // bytes per row: 3 x width (or width, paletted) rounded up to 4
    uint32_t keep;   // non-zero: only a forced release frees it
    uint32_t paletted;
    // The BITMAPINFO block (40 bytes, or 1064 with 256 colour entries), owned.
    unsigned char* info;
    // The colour table 40 bytes into info (blue, green, red, 0 per entry);
    // null for 24 bits per pixel.
    unsigned char* colours;
    // Rows of stride bytes, blue green red per pixel. Owned by the bitmap.
    unsigned char* pixels;
    void* bitmap;  // HBITMAP on Windows
};

// Creates a surface of width x |height| pixels at 24 bits (or 8 bits with a
// 256-entry colour table, all zero). A positive height gives a top-down bitmap
// (first row in memory is the top row), a negative one a bottom-up bitmap.
// Returns null, with nothing left allocated, when memory runs out, when the
// size is empty or its pixel memory would not fit 32 bits, or when the
// platform refuses the bitmap: the caller then does without a picture.
ImageSurface* CreateImageSurface(int32_t width, int32_t height, int paletted, int keep);
ImageSurface* CreateImageSurface24(int32_t width, int32_t height, int keep);

// Bytes per row, and bytes of pixel memory for width x |height|; 0 when
// width is below 1, height is 0, or the memory (or the stride as a signed
// 32-bit value) would not fit 32 bits.
int32_t ImageStride(int32_t width, int paletted);
uint32_t ImagePixelMemorySize(int32_t width, int32_t height, int paletted);

// Releases a surface (null is fine) unless it is marked keep and force is 0.
// 0 when released or null, 1 when refused.
int FreeImageSurface(ImageSurface* surface, int force);

// The platform part. CreateSurfaceBitmap fills bitmap and pixels from the
// finished info block and returns false when the platform refuses;
// DeleteSurfaceBitmap frees both.
bool CreateSurfaceBitmap(ImageSurface* surface);
void DeleteSurfaceBitmap(ImageSurface* surface);
