// PNG pictures for vnpack, through stb_image and stb_image_write (Debian's
// libstb-dev, header-only, so vnpack.exe has them too).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// The largest picture vnpack converts, in pixels: far beyond a title picture,
// and small enough for the encoder's tables (about 20 bytes a pixel) in a
// 32-bit vnpack.exe.
const uint64_t kLargestPicturePixels = 4096 * 4096;

// Decodes a PNG file held in memory into packed rows of blue, green, red.
// Alpha is composited on black, so what shows is what a transparent picture
// looks like over a dark ground; colours under fully transparent pixels are
// not kept. False with *problem set when it is no PNG, damaged or too large.
bool DecodePng(const unsigned char* data, size_t size, std::vector<unsigned char>* pixels,
               int32_t* width, int32_t* height, std::string* problem);

// Encodes rows of stride bytes (blue, green, red per pixel) as an RGB PNG.
bool EncodePng(const unsigned char* pixels, int32_t width, int32_t height, int32_t stride,
               std::vector<unsigned char>* png);
