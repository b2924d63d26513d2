// Little-endian fields of the program's byte formats (the payload archive,
// the executable's headers, RCT pictures, the bitmap info block): a read
// cursor that checks the bytes left before every read, and the writers.
//
// A read that does not fit takes nothing, gives 0 (or null) and marks the
// cursor failed; every later read then fails too, so a record can be read
// field by field and the cursor tested once at the end.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

struct ByteCursor {
    const unsigned char* at;  // the next byte
    size_t left;              // bytes from at to the end
    bool failed;
};

inline ByteCursor ByteCursorOver(const void* data, size_t length) {
    return {(const unsigned char*)data, length, false};
}

// The next count bytes in place, the cursor moved past them; null when fewer
// are left.
inline const unsigned char* TakeBytes(ByteCursor* cursor, size_t count) {
    if (cursor->failed || cursor->left < count) {
        cursor->failed = true;
        return nullptr;
    }
    const unsigned char* taken = cursor->at;
    cursor->at += count;
    cursor->left -= count;
    return taken;
}

inline bool SkipBytes(ByteCursor* cursor, size_t count) {
    return TakeBytes(cursor, count) != nullptr;
}

inline bool ReadBytes(ByteCursor* cursor, void* out, size_t count) {
    const unsigned char* taken = TakeBytes(cursor, count);
    if (taken) memcpy(out, taken, count);
    return taken != nullptr;
}

// An unsigned field of size bytes (at most 8), least significant byte first.
inline uint64_t ReadLittleEndian(ByteCursor* cursor, size_t size) {
    const unsigned char* bytes = TakeBytes(cursor, size);
    uint64_t value = 0;
    for (size_t i = size; bytes && i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

inline uint32_t ReadU8(ByteCursor* cursor) {
    return (uint32_t)ReadLittleEndian(cursor, 1);
}
inline uint32_t ReadU16(ByteCursor* cursor) {
    return (uint32_t)ReadLittleEndian(cursor, 2);
}
inline uint32_t ReadU32(ByteCursor* cursor) {
    return (uint32_t)ReadLittleEndian(cursor, 4);
}
inline uint64_t ReadU64(ByteCursor* cursor) {
    return ReadLittleEndian(cursor, 8);
}

// A field at offset bytes past the cursor, which stays where it is: for
// headers whose fields sit at fixed offsets. Fails like a read.
inline uint32_t ReadU16At(ByteCursor* cursor, size_t offset) {
    ByteCursor field = *cursor;
    uint32_t value = SkipBytes(&field, offset) ? ReadU16(&field) : 0;
    cursor->failed = field.failed;
    return value;
}
inline uint32_t ReadU32At(ByteCursor* cursor, size_t offset) {
    ByteCursor field = *cursor;
    uint32_t value = SkipBytes(&field, offset) ? ReadU32(&field) : 0;
    cursor->failed = field.failed;
    return value;
}

// The writers: value at out, least significant byte first; each returns the
// byte after the field. The caller provides the room.
inline unsigned char* PutLe16(unsigned char* out, uint32_t value) {
    out[0] = (unsigned char)value;
    out[1] = (unsigned char)(value >> 8);
    return out + 2;
}
inline unsigned char* PutLe32(unsigned char* out, uint32_t value) {
    return PutLe16(PutLe16(out, value & 0xFFFF), value >> 16);
}
