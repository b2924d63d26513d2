// The image surface record, its stride and its info block. The bitmap itself
// comes from the platform part.
#include "image/surface.h"

#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/bytes.h"

namespace {

// The info block is the platform's BITMAPINFOHEADER, written here byte by
// byte in its little-endian layout so that the console twin gets the same
// block; surface_win.cpp checks the layout against <windows.h>.
enum {
    kInfoHeaderLength = 40,
    kColourCount = 256,
    kPalettedInfoLength = kInfoHeaderLength + 4 * kColourCount,  // 1064
    kInfoWidth = 4,
    kInfoHeight = 8,
    kInfoPlanes = 12,
    kInfoBitCount = 14,
    kInfoColoursUsed = 32,
};

uint64_t StrideOf(int32_t width, int paletted) {
    uint64_t row = paletted ? (uint64_t)width : 3 * (uint64_t)width;
    return (row + 3) / 4 * 4;
}

}  // namespace

int32_t ImageStride(int32_t width, int paletted) {
    if (width < 1) return 0;
    uint64_t stride = StrideOf(width, paletted);
    return stride > 0x7FFFFFFF ? 0 : (int32_t)stride;
}

uint32_t ImagePixelMemorySize(int32_t width, int32_t height, int paletted) {
    // The absolute value of INT32_MIN has no 32-bit form.
    if (height == 0 || height == INT32_MIN) return 0;
    int32_t stride = ImageStride(width, paletted);
    uint64_t rows = height < 0 ? (uint64_t) - (int64_t)height : (uint64_t)height;
    uint64_t size = (uint64_t)stride * rows;
    return size > 0xFFFFFFFFu ? 0 : (uint32_t)size;
}

ImageSurface* CreateImageSurface(int32_t width, int32_t height, int paletted, int keep) {
    if (ImagePixelMemorySize(width, height, paletted) == 0) return nullptr;
    ImageSurface* surface = (ImageSurface*)AllocOrAbort(sizeof *surface);
    memset(surface, 0, sizeof *surface);
    surface->width = width;
    surface->height = height < 0 ? -height : height;
    surface->paletted = paletted ? 1 : 0;
    surface->keep = keep ? 1 : 0;
    surface->stride = ImageStride(width, paletted);
    size_t info_length = paletted ? kPalettedInfoLength : kInfoHeaderLength;
    surface->info = (unsigned char*)AllocOrAbort(info_length);
    memset(surface->info, 0, info_length);
    unsigned char* info = surface->info;
    if (paletted) {
        PutLe32(info + kInfoColoursUsed, kColourCount);
        surface->colours = info + kInfoHeaderLength;
    }
    PutLe32(info, kInfoHeaderLength);
    PutLe32(info + kInfoWidth, (uint32_t)width);
    // A negative height in the block asks for a top-down bitmap.
    PutLe32(info + kInfoHeight, (uint32_t)-height);
    PutLe16(info + kInfoPlanes, 1);
    PutLe16(info + kInfoBitCount, paletted ? 8 : 24);
    if (!CreateSurfaceBitmap(surface)) {
        free(surface->info);
        free(surface);
        return nullptr;
    }
    return surface;
}

ImageSurface* CreateImageSurface24(int32_t width, int32_t height, int keep) {
    return CreateImageSurface(width, height, 0, keep);
}

int FreeImageSurface(ImageSurface* surface, int force) {
    if (!surface) return 0;
    if (!force && surface->keep) return 1;
    DeleteSurfaceBitmap(surface);
    free(surface->info);
    free(surface);
    return 0;
}
