// Any bytes as an RCT file: the in-memory reader and the decoder must never
// touch a byte outside the file or the pixel memory, and a picture that
// decodes must come back unchanged through vnpack's encoder. The stream and
// the pixel memory get heap blocks of exactly their size, so that
// AddressSanitizer sees an overrun of either. The updater's file reader
// (LoadRctImage, through the file layer) reads the same bytes from an
// in-memory file and must agree with the in-memory reader, pixel for pixel.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "filelayer/filelayer.h"
#include "image/rct.h"
#include "rct_encode.h"

namespace {

// Larger pictures only cost time: the fuzzer can claim any size in a header.
const uint32_t kLargestMemory = 1 << 22;
const uint32_t kLargestRoundTrip = 1 << 16;

int g_file = -1;  // the in-memory file LoadRctImage reads
char g_name[64];  // and its name

// What LoadRctImage makes of the bytes: null, or a surface whose rows must
// match pixels (null when the in-memory reader refused the bytes).
void CompareFileReader(const uint8_t* data, size_t size, const unsigned char* pixels,
                       int32_t stride) {
    if (ftruncate(g_file, 0) != 0 || pwrite(g_file, data, size, 0) != (ssize_t)size) abort();
    bool declined;
    ImageSurface* surface = LoadRctImage(g_name, &declined);
    if ((surface != nullptr) != (pixels != nullptr)) __builtin_trap();
    if (!surface) return;
    if (surface->stride != stride) __builtin_trap();
    for (int32_t y = 0; y < surface->height; ++y) {
        size_t at = (size_t)y * stride;
        if (memcmp(surface->pixels + at, pixels + at, 3 * (size_t)surface->width) != 0)
            __builtin_trap();
    }
    FreeImageSurface(surface, 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
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
    uint32_t memory = RctPictureSize(header);
    if (memory > kLargestMemory) return 0;
    unsigned char* stream = (unsigned char*)malloc(header.data_size ? header.data_size : 1);
    unsigned char* pixels = (unsigned char*)malloc(memory);
    if (!stream || !pixels) abort();
    memcpy(stream, located, header.data_size);
    int32_t stride = ImageStride(header.width, 0);
    int decoded =
        DecodeRctPixels(stream, header.data_size, header.width, header.height, pixels, stride);
    CompareFileReader(data, size, decoded == 0 ? pixels : nullptr, stride);
    if (decoded == 0 && memory <= kLargestRoundTrip) {
        size_t row = 3 * (size_t)header.width;
        std::vector<unsigned char> packed;
        for (int32_t y = 0; y < header.height; ++y)
            packed.insert(packed.end(), pixels + (size_t)y * stride,
                          pixels + (size_t)y * stride + row);
        std::vector<unsigned char> again =
            EncodeRctStream(packed.data(), header.width, header.height);
        std::vector<unsigned char> back(memory);
        if (DecodeRctPixels(again.data(), again.size(), header.width, header.height, back.data(),
                            stride) != 0)
            abort();
        for (int32_t y = 0; y < header.height; ++y) {
            if (memcmp(back.data() + (size_t)y * stride, pixels + (size_t)y * stride, row) != 0)
                abort();
        }
    }
    free(stream);
    free(pixels);
    return 0;
}
