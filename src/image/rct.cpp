// Reading and decoding RCT pictures.
#include "image/rct.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/alloc.h"
#include "base/bytes.h"
#include "filelayer/filelayer.h"

const unsigned char kRctMagicPlain[kRctMagicLength] = {0x98, 0x5A, 0x92, 0x9A,
                                                       0x54, 0x43, 0x30, 0x30};
const unsigned char kRctMagicNamed[kRctMagicLength] = {0x98, 0x5A, 0x92, 0x9A,
                                                       0x54, 0x43, 0x30, 0x31};

const RctCopyOffset kRctCopyOffsets[kRctCopyOffsetCount] = {
    {-1, 0}, {-2, 0}, {-3, 0}, {-4, 0}, {-5, 0}, {-6, 0},           // same row
    {3, 1},  {2, 1},  {1, 1},  {0, 1},  {-1, 1}, {-2, 1}, {-3, 1},  // one row up
    {3, 2},  {2, 2},  {1, 2},  {0, 2},  {-1, 2}, {-2, 2}, {-3, 2},  // two rows up
    {3, 3},  {2, 3},  {1, 3},  {0, 3},  {-1, 3}, {-2, 3}, {-3, 3},  // three rows up
    {2, 4},  {1, 4},  {0, 4},  {-1, 4}, {-2, 4},                    // four rows up
};

namespace {

const size_t kPixelBytes = 3;
// Copies up to this many bytes go byte by byte; longer ones in blocks.
const size_t kShortCopy = 16;
// Short runs, literal or copied, are moved as one block of this size.
const size_t kWideMove = 16;

// Repeats what lies distance bytes back over length bytes at out, as a
// forward byte-by-byte copy would: once the first distance bytes are written
// the output is periodic, so each block may reach back twice as far as the
// one before and be copied without overlap.
void CopyFromBehind(unsigned char* out, size_t distance, size_t length) {
    if (length <= kShortCopy) {
        // From a pointer to the source: out[i - distance] would wrap the
        // unsigned index below 0 for the first distance bytes.
        const unsigned char* source = out - distance;
        for (size_t i = 0; i < length; ++i) out[i] = source[i];
        return;
    }
    size_t done = 0;
    while (done < length) {
        size_t reach = done + distance;  // a multiple of distance while blocks are whole
        size_t block = length - done < reach ? length - done : reach;
        memcpy(out + done, out + done - reach, block);
        done += block;
    }
}

}  // namespace

RctKind ReadRctHeader(const unsigned char bytes[kRctHeaderLength], RctHeader* header) {
    memset(header, 0, sizeof *header);
    header->kind = kRctNotRct;
    if (memcmp(bytes, kRctMagicPlain, kRctMagicLength) == 0) header->kind = kRctPlain;
    if (memcmp(bytes, kRctMagicNamed, kRctMagicLength) == 0) header->kind = kRctNamed;
    ByteCursor fields = ByteCursorOver(bytes + kRctMagicLength, kRctHeaderLength - kRctMagicLength);
    header->width = (int32_t)ReadU32(&fields);
    header->height = (int32_t)ReadU32(&fields);
    header->data_size = ReadU32(&fields);
    return header->kind;
}

uint32_t RctPictureSize(const RctHeader& header) {
    // A negative height would ask the surface for a bottom-up bitmap.
    if (header.width < 1 || header.height < 1) return 0;
    return ImagePixelMemorySize(header.width, header.height, 0);
}

int LocateRctStream(const unsigned char* file, size_t size, RctHeader* header,
                    const unsigned char** stream) {
    ByteCursor in = ByteCursorOver(file, size);
    const unsigned char* fields = TakeBytes(&in, kRctHeaderLength);
    if (!fields || ReadRctHeader(fields, header) == kRctNotRct || RctPictureSize(*header) == 0)
        return -1;
    if (header->kind == kRctNamed) SkipBytes(&in, ReadU16(&in));
    *stream = TakeBytes(&in, header->data_size);
    return *stream ? 0 : -1;
}

int DecodeRctPixels(const unsigned char* data, size_t size, int32_t width, int32_t height,
                    unsigned char* pixels, int32_t stride) {
    if (width < 1 || height < 1 || ImagePixelMemorySize(width, height, 0) == 0) return -1;
    const size_t row = kPixelBytes * (size_t)width;
    if (stride < 0 || (size_t)stride < row) return -1;
    // Distances back in bytes; 0 marks an offset that would not reach behind
    // the current pixel (widths below 4, where +3 - width is not negative).
    // Such a copy would read pixels not decoded yet.
    size_t back[kRctCopyOffsetCount];
    for (int i = 0; i < kRctCopyOffsetCount; ++i) {
        int64_t pixels_back = (int64_t)kRctCopyOffsets[i].dy * width - kRctCopyOffsets[i].dx;
        back[i] = pixels_back > 0 ? (size_t)pixels_back * kPixelBytes : 0;
    }
    const size_t end = row * (size_t)height;  // fits: the pixel memory fits 32 bits
    ByteCursor in = ByteCursorOver(data, size);
    const unsigned char* first = TakeBytes(&in, kPixelBytes);
    if (!first) return -1;
    memcpy(pixels, first, kPixelBytes);
    size_t p = kPixelBytes;
    while (p < end) {
        unsigned int command = ReadU8(&in);
        if (command < 0x80) {
            size_t count = command == 0x7F ? ReadU16(&in) + 128 : command + 1;
            size_t length = count * kPixelBytes;
            // Short runs move a fixed block when both sides have room: the
            // bytes past the run are written again by the commands after it.
            bool wide = length <= kWideMove && end - p >= kWideMove && in.left >= kWideMove;
            const unsigned char* run = TakeBytes(&in, length);
            if (!run || length > end - p) return -1;
            memcpy(pixels + p, run, wide ? kWideMove : length);
            p += length;
        } else {
            size_t distance = back[(command >> 2) & 0x1F];
            size_t count = (command & 3) == 3 ? ReadU16(&in) + 4 : (command & 3) + 1;
            size_t length = count * kPixelBytes;
            if (in.failed || length > end - p || distance == 0 || distance > p) return -1;
            if (length <= kWideMove && distance >= kWideMove && end - p >= kWideMove) {
                memcpy(pixels + p, pixels + p - distance, kWideMove);
            } else {
                CopyFromBehind(pixels + p, distance, length);
            }
            p += length;
        }
    }
    // The packed rows spread out to the stride, last row first so that no
    // row is overwritten before it has moved. Row 0 is in place already.
    if ((size_t)stride != row) {
        for (int32_t y = height - 1; y > 0; --y)
            memmove(pixels + (size_t)y * (size_t)stride, pixels + (size_t)y * row, row);
    }
    return 0;
}

namespace {

bool ReadExactly(FILE* file, void* buffer, size_t length) {
    return fread(buffer, 1, length, file) == length;
}

// Reads the header, steps over the name and reads the pixel command stream
// into a new buffer (*data, freed by the caller). 0, or -1 for a file that is
// not an RCT picture or ends early. A short file is not read again: one that
// stays short would otherwise be retried for ever.
int ReadRctFile(FILE* file, RctHeader* header, unsigned char** data) {
    unsigned char bytes[kRctHeaderLength];
    if (!ReadExactly(file, bytes, sizeof bytes)) return -1;
    if (ReadRctHeader(bytes, header) == kRctNotRct) return -1;
    if (RctPictureSize(*header) == 0) return -1;
    if (header->kind == kRctNamed) {
        unsigned char field[kRctNameLengthField];
        if (!ReadExactly(file, field, sizeof field)) return -1;
        ByteCursor length_field = ByteCursorOver(field, sizeof field);
        uint32_t name_length = ReadU16(&length_field);
        if (name_length > 0 && fseek(file, (long)name_length, SEEK_CUR) != 0) return -1;
    }
    // A data size larger than what is left of the file is refused before a
    // buffer of that size is asked for.
    long start = ftell(file);
    if (start < 0 || fseek(file, 0, SEEK_END) != 0) return -1;
    long file_end = ftell(file);
    if (file_end < start || (uint64_t)(file_end - start) < header->data_size ||
        fseek(file, start, SEEK_SET) != 0)
        return -1;
    *data = (unsigned char*)AllocOrAbort(header->data_size);
    if (!ReadExactly(file, *data, header->data_size)) {
        free(*data);
        *data = nullptr;
        return -1;
    }
    return 0;
}

}  // namespace

ImageSurface* LoadRctImage(const char* name, bool* declined) {
    FILE* file = Ffopen(name, "rb");
    *declined = !file;
    if (!file) return nullptr;
    RctHeader header;
    unsigned char* data = nullptr;
    int read = ReadRctFile(file, &header, &data);
    fclose(file);
    if (read != 0) return nullptr;
    ImageSurface* surface = CreateImageSurface24(header.width, header.height, 0);
    if (surface && DecodeRctPixels(data, header.data_size, header.width, header.height,
                                   surface->pixels, surface->stride) != 0) {
        FreeImageSurface(surface, 1);
        surface = nullptr;
    }
    free(data);
    return surface;
}
