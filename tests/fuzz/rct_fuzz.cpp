// Any bytes as an RCT file: the reader and decoder stay inside the stream and the
// pixel memory (heap blocks of exactly their size), a decoded picture comes back
// unchanged through vnpack's encoder, and LoadRctImage agrees pixel for pixel.
#include <sys/mman.h>
#include <unistd.h>

#include "filelayer/filelayer.h"
#include "../unit/scratch_folder.h"
#include "image/rct.h"
#include "rct_encode.h"

namespace {

// Larger pictures only cost time: the fuzzer can claim any size in a header.
const uint32_t kLargestMemory = 1 << 22, kLargestRoundTrip = 1 << 16;
int g_file = -1;  // the in-memory file LoadRctImage reads, by its name g_name
char g_name[64];

// Rows of width pixels at stride in both blocks are the same.
bool SameRows(const unsigned char* a, const unsigned char* b, int32_t width, int32_t height, int32_t stride) {
    for (int32_t y = 0; y < height; ++y)
        if (memcmp(a + (size_t)y * stride, b + (size_t)y * stride, 3 * (size_t)width)) return false;
    return true;
}

// LoadRctImage gives null exactly when pixels is null, else the same rows.
void CompareFileReader(const uint8_t* data, size_t size, const unsigned char* pixels, int32_t stride) {
    if (ftruncate(g_file, 0) != 0 || pwrite(g_file, data, size, 0) != (ssize_t)size) abort();
    bool declined;
    ImageSurface* surface = LoadRctImage(g_name, &declined);
    Require((surface != nullptr) == (pixels != nullptr));
    if (!surface) return;
    Require(surface->stride == stride &&
            SameRows(surface->pixels, pixels, surface->width, surface->height, stride));
    FreeImageSurface(surface, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_file = memfd_create("rct", 0);
    if (g_file < 0) abort();
    snprintf(g_name, sizeof g_name, "/proc/self/fd/%d", g_file);
    Ffsetdirect(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RctHeader header;
    const unsigned char* located = nullptr;
    if (LocateRctStream(data, size, &header, &located) != 0) {
        // Refused here, refused there too, before any pixel memory is asked for.
        CompareFileReader(data, size, nullptr, 0);
        return 0;
    }
    const uint32_t memory = RctPictureSize(header);
    const int32_t width = header.width, height = header.height, stride = ImageStride(width, 0);
    if (memory > kLargestMemory) return 0;
    unsigned char* stream = (unsigned char*)malloc(header.data_size ? header.data_size : 1);
    unsigned char* pixels = (unsigned char*)malloc(memory);
    memcpy(stream, located, header.data_size);
    int decoded = DecodeRctPixels(stream, header.data_size, width, height, pixels, stride);
    CompareFileReader(data, size, decoded == 0 ? pixels : nullptr, stride);
    if (decoded == 0 && memory <= kLargestRoundTrip) {
        std::vector<unsigned char> packed, back(memory);
        for (int32_t y = 0; y < height; ++y)
            packed.insert(packed.end(), pixels + (size_t)y * stride,
                          pixels + (size_t)y * stride + 3 * (size_t)width);
        std::vector<unsigned char> again = EncodeRctStream(packed.data(), width, height);
        Require(DecodeRctPixels(again.data(), again.size(), width, height, back.data(), stride) == 0 &&
                SameRows(back.data(), pixels, width, height, stride));
    }
    free(stream);
    free(pixels);
    return 0;
}
