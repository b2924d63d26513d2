// RCT title pictures: the reader that turns insttscr.rct into an image
// surface, and the decoder under it, which works on bytes in memory so that
// vnpack, the tests and the fuzzer use the very same code.
//
// File layout (all integers little-endian):
//
//   0    8   magic: 98 5A 92 9A 54 43 30 30 ("六丁TC00" in code page 932)
//                or 98 5A 92 9A 54 43 30 31 ("六丁TC01")
//   8    4   width in pixels, signed, at least 1
//   12   4   height in pixels, signed, at least 1; rows run from the top down
//   16   4   data size: length of the pixel command stream, unsigned
//   -- "六丁TC01" only --
//   20   2   name length n, unsigned
//   22   n   name (code page 932), not used
//   --
//   20 or 22 + n: the pixel command stream, data size bytes
//
// Pixel command stream, decoding into the packed sequence of width x height
// pixels of 3 bytes (blue, green, red), rows without padding:
//
//   3 bytes        the first pixel
//   then commands, one byte c each, some with a 16-bit count v:
//   00..7E         literal: c + 1 pixels follow, 3 bytes each
//   7F v           literal: v + 128 pixels follow
//   80..FF         copy of (c & 3) + 1 pixels, or, when c & 3 is 3, of v + 4
//                  pixels (v follows c), from the pixel kRctCopyOffsets[(c >> 2)
//                  & 31] away: dx - dy x width, dx to the right, dy rows up.
//                  The copy runs pixel after pixel forward, so a source that
//                  overlaps the pixels being written repeats them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "image/surface.h"

enum {
    kRctHeaderLength = 20,
    kRctMagicLength = 8,
    kRctNameLengthField = 2,
    kRctCopyOffsetCount = 32,
};

enum RctKind { kRctNotRct = -1, kRctPlain = 0, kRctNamed = 1 };

extern const unsigned char kRctMagicPlain[kRctMagicLength];  // "六丁TC00"
extern const unsigned char kRctMagicNamed[kRctMagicLength];  // "六丁TC01"

// The copy offsets in index order: dx and dy of each (dy rows up).
struct RctCopyOffset {
    int8_t dx;
    int8_t dy;
};
extern const RctCopyOffset kRctCopyOffsets[kRctCopyOffsetCount];

struct RctHeader {
    RctKind kind;
    int32_t width;
    int32_t height;
    uint32_t data_size;
};

// Reads the 20-byte header. Returns its kind; kRctNotRct for another magic.
// The sizes are taken as they stand: see RctPictureSize.
RctKind ReadRctHeader(const unsigned char bytes[kRctHeaderLength], RctHeader* header);

// Bytes of a 24-bit surface for the picture, or 0 when width or height is
// below 1 or the pixel memory would not fit 32 bits: no picture then.
uint32_t RctPictureSize(const RctHeader& header);

// A whole RCT file in memory (vnpack, the tests, the fuzzer): reads the
// header and steps over the name; *stream is set to the pixel command
// stream, which must lie wholly inside the file. 0, or -1 when the file is
// not an RCT picture, is cut short, or has no usable size.
int LocateRctStream(const unsigned char* file, size_t size, RctHeader* header,
                    const unsigned char** stream);

// Decodes a pixel command stream of size bytes into pixels, which holds
// height rows of stride bytes (stride at least 3 x width; the surface's row
// layout). 0, or -1 on damaged data: a command, its count or its literal
// pixels beyond the data, a copy from before the first pixel or from a pixel
// not yet decoded, a run beyond width x height pixels. Damage is found before
// anything is read or written out of bounds; what pixels holds then is
// undefined. Bytes after the last pixel are ignored.
int DecodeRctPixels(const unsigned char* data, size_t size, int32_t width, int32_t height,
                    unsigned char* pixels, int32_t stride);

// Reads the file through Ffopen (which asks Retry/Cancel while it cannot be
// opened) and decodes it into a new 24-bit top-down surface that the caller
// frees with FreeImageSurface. Null, with nothing left allocated, when the
// file is not an RCT picture, is short or damaged, or memory or the bitmap
// cannot be had: the picture is then left out. Null with *declined set when
// it could not be opened and the user chose not to look again.
ImageSurface* LoadRctImage(const char* name, bool* declined);
