// The bitmap of an image surface for vnpack and the tests: heap memory of
// exactly stride x height bytes (so AddressSanitizer sees any overrun), zeroed
// as a new DIB section is. The "handle" is the memory itself.
#include <stdlib.h>

#include "image/surface.h"

bool CreateSurfaceBitmap(ImageSurface* surface) {
    // Stands in for a DIB section, which may be refused: no picture then.
    void* memory = calloc((size_t)surface->stride, (size_t)surface->height);
    if (!memory) return false;
    surface->bitmap = memory;
    surface->pixels = (unsigned char*)memory;
    return true;
}

void DeleteSurfaceBitmap(ImageSurface* surface) {
    free(surface->bitmap);
    surface->bitmap = nullptr;
    surface->pixels = nullptr;
}
