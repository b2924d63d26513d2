// The one place that compiles stb_image and stb_image_write. Only PNG is
// built in, and neither library opens files itself: vnpack reads and writes
// through its own wide-path streams.
#include "png.h"

#include <limits.h>
#include <string.h>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
// The libraries are not written for -Wall -Wextra; their warnings say nothing
// about this program.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "stb_image.h"
#include "stb_image_write.h"
#pragma GCC diagnostic pop

bool DecodePng(const unsigned char* data, size_t size, std::vector<unsigned char>* pixels,
               int32_t* width, int32_t* height, std::string* problem) {
    if (size > INT_MAX) {
        *problem = "file too large";
        return false;
    }
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < sizeof kSignature || memcmp(data, kSignature, sizeof kSignature) != 0) {
        *problem = "not a PNG picture";
        return false;
    }
    int w = 0, h = 0, channels = 0;
    // The size is checked before stb allocates anything for the pixels.
    if (!stbi_info_from_memory(data, (int)size, &w, &h, &channels)) {
        *problem = std::string("damaged PNG picture (") + stbi_failure_reason() + ")";
        return false;
    }
    if (w < 1 || h < 1 || (uint64_t)w * (uint64_t)h > kLargestPicturePixels) {
        *problem = "picture too large: " + std::to_string(w) + " x " + std::to_string(h) +
                   " (at most " + std::to_string(kLargestPicturePixels) + " pixels)";
        return false;
    }
    unsigned char* rgba = stbi_load_from_memory(data, (int)size, &w, &h, &channels, 4);
    if (!rgba) {
        *problem = std::string("damaged PNG picture (") + stbi_failure_reason() + ")";
        return false;
    }
    size_t count = (size_t)w * (size_t)h;
    pixels->resize(3 * count);
    unsigned char* out = pixels->data();
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* in = rgba + 4 * i;
        unsigned alpha = in[3];
        // Rounded c x alpha / 255; exact for alpha 255.
        for (int c = 0; c < 3; ++c)
            out[3 * i + 2 - c] = (unsigned char)((in[c] * alpha + 127) / 255);
    }
    stbi_image_free(rgba);
    *width = w;
    *height = h;
    return true;
}

namespace {

void AppendBytes(void* context, void* data, int size) {
    std::vector<unsigned char>* out = (std::vector<unsigned char>*)context;
    out->insert(out->end(), (unsigned char*)data, (unsigned char*)data + size);
}

}  // namespace

bool EncodePng(const unsigned char* pixels, int32_t width, int32_t height, int32_t stride,
               std::vector<unsigned char>* png) {
    std::vector<unsigned char> rgb(3 * (size_t)width * (size_t)height);
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* in = pixels + (size_t)y * (size_t)stride;
        unsigned char* out = rgb.data() + 3 * (size_t)width * (size_t)y;
        for (int32_t x = 0; x < width; ++x) {
            out[3 * x] = in[3 * x + 2];
            out[3 * x + 1] = in[3 * x + 1];
            out[3 * x + 2] = in[3 * x];
        }
    }
    png->clear();
    return stbi_write_png_to_func(AppendBytes, png, width, height, 3, rgb.data(), 3 * width) != 0;
}
