#!/usr/bin/env python3
"""An independent writer of updater payloads, for the tests and benchmarks.

It knows the archive layout on its own (Python's zlib, the standard library
only), so that the C++ reader is never tested against the C++ writer alone.

Usage: payload_writer.py LAYOUT.json OUTPUT [EXPECT_DIR]
       (EXPECT_DIR receives the inflated bytes of file entry i as i.bin)
       payload_writer.py --read UPDATE
       (prints one line per entry: "folder NAME_HEX" or "file NAME_HEX SIZE TIME",
        after checking every stream and the layout; exit 1 on any fault)

LAYOUT (JSON):
  stub        hex bytes of the executable image (default: 512 bytes "MZ" + zeros)
  entries     list of
                {"folder": NAME_HEX}
                {"file": NAME_HEX, "data": DATA, "time": FILETIME,
                 "level": 0-9, "bad_adler": bool,
                 "uncompressed_size": n, "compressed_size": n,   (stated sizes)
                 "name_field_hex": HEX}                        (raw name field)
                {"raw": HEX}                                   (bytes as they are)
  end         "normal" (end marker and two zero bytes), "bare" (marker only), "none"
  cut         bytes removed from the end of the archive before the trailer
  trailer     the trailer's value instead of the archive's offset
DATA: a list of parts, each {"zeros": n}, {"text": n}, {"random": n, "seed": s},
      {"hex": HEX}; or {"exact": [UNCOMPRESSED, COMPRESSED]}: a stream of exactly
      that compressed length (zeros, then stored random bytes).
"""
import json
import random
import struct
import sys
import zlib

CHUNK = 1 << 20
FOLDER_MARK = 0xFFFFFFFF
TEXT = (b"The quick brown fox jumps over the lazy dog. "
        b"\x83\x65\x83\x4c\x83\x58\x83\x67 0123456789\r\n")


def parts_of(data):
    """Yields the uncompressed bytes of a DATA list in chunks."""
    for part in data:
        if "zeros" in part:
            left = part["zeros"]
            while left:
                n = min(left, CHUNK)
                yield bytes(n)
                left -= n
        elif "text" in part:
            left = part["text"]
            block = TEXT * (CHUNK // len(TEXT) + 1)
            while left:
                n = min(left, CHUNK)
                yield block[:n]
                left -= n
        elif "random" in part:
            rng = random.Random(part.get("seed", 1))
            left = part["random"]
            while left:
                n = min(left, CHUNK)
                yield rng.randbytes(n)
                left -= n
        elif "hex" in part:
            yield bytes.fromhex(part["hex"])
        else:
            raise ValueError("unknown data part %r" % part)


def compress_parts(data, level):
    """Returns (uncompressed size, zlib stream) for a DATA list."""
    compressor = zlib.compressobj(level)
    out = []
    size = 0
    for chunk in parts_of(data):
        size += len(chunk)
        out.append(compressor.compress(chunk))
    out.append(compressor.flush())
    return size, b"".join(out)


def stored_blocks(data):
    """Deflate stored blocks (byte-aligned) holding data, the last one final."""
    out = []
    pieces = [data[i:i + 65535] for i in range(0, len(data), 65535)] or [b""]
    for index, piece in enumerate(pieces):
        final = 1 if index == len(pieces) - 1 else 0
        out.append(bytes([final]) + struct.pack("<HH", len(piece), len(piece) ^ 0xFFFF) + piece)
    return b"".join(out)


def exact_stream(uncompressed, compressed):
    """A zlib stream of exactly `compressed` bytes inflating to `uncompressed`
    bytes: deflated zeros, flushed to a byte boundary, then stored random
    bytes. The split is searched so that the total comes out exact."""
    def build(stored):
        rng = random.Random(uncompressed * 31 + compressed)
        zeros = uncompressed - stored
        head = b""
        if zeros:
            raw = zlib.compressobj(9, zlib.DEFLATED, -15)
            head = raw.compress(bytes(zeros)) + raw.flush(zlib.Z_FULL_FLUSH)
        tail_data = rng.randbytes(stored)
        body = head + stored_blocks(tail_data)
        adler = zlib.adler32(tail_data, zlib.adler32(bytes(zeros)))
        return b"\x78\x9c" + body + struct.pack(">I", adler)

    stored = max(0, min(uncompressed, compressed - 16))
    for _ in range(200):
        stream = build(stored)
        difference = compressed - len(stream)
        if difference == 0:
            assert zlib.decompress(stream) is not None
            return stream
        stored = max(0, min(uncompressed, stored + difference))
    raise ValueError("cannot build a stream of %d bytes for %d" % (compressed, uncompressed))


def entry_bytes(entry, expect):
    """The entry's bytes; a file's inflated data goes to expect(data)."""
    if "raw" in entry:
        return bytes.fromhex(entry["raw"])
    if "folder" in entry:
        field = bytes.fromhex(entry["folder"]) + b"\0"
        return struct.pack("<H", len(field)) + field + struct.pack("<II", FOLDER_MARK, 0)
    data = entry.get("data", [])
    if isinstance(data, dict) and "exact" in data:
        size, stream = data["exact"][0], exact_stream(*data["exact"])
    else:
        size, stream = compress_parts(data, entry.get("level", 9))
    if expect:
        expect(zlib.decompress(stream))
    if entry.get("bad_adler"):
        stream = stream[:-1] + bytes([stream[-1] ^ 0xFF])
    field = (bytes.fromhex(entry["name_field_hex"]) if "name_field_hex" in entry
             else bytes.fromhex(entry["file"]) + b"\0")
    return (struct.pack("<H", len(field)) + field +
            struct.pack("<II", entry.get("uncompressed_size", size),
                        entry.get("compressed_size", len(stream))) +
            struct.pack("<Q", entry.get("time", 0)) + stream)


def write(layout, output, expect_dir=None):
    stub = bytes.fromhex(layout["stub"]) if "stub" in layout else b"MZ" + bytes(510)
    with open(output, "wb") as f:
        f.write(stub)
        archive = bytearray()
        files = [0]

        def expect(data):
            with open("%s/%d.bin" % (expect_dir, files[0]), "wb") as e:
                e.write(data)
            files[0] += 1

        for entry in layout.get("entries", []):
            archive += entry_bytes(entry, expect if expect_dir else None)
        end = layout.get("end", "normal")
        if end == "normal":
            archive += bytes(4)
        elif end == "bare":
            archive += bytes(2)
        cut = layout.get("cut", 0)
        if cut:
            del archive[len(archive) - cut:]
        f.write(archive)
        f.write(struct.pack("<I", layout.get("trailer", len(stub))))


def read(path):
    """The reader's side, for checking what vnpack writes."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, len(data) - 4)[0]
    end = len(data) - 4
    position = offset
    lines = []
    while True:
        (name_length,) = struct.unpack_from("<H", data, position)
        position += 2
        if name_length == 0:
            if data[position:position + 2] != b"\0\0" or position + 2 != end:
                raise ValueError("bad end marker")
            break
        name = data[position:position + name_length]
        if name[-1] != 0:
            raise ValueError("unterminated name")
        position += name_length
        size, compressed = struct.unpack_from("<II", data, position)
        position += 8
        if size == FOLDER_MARK:
            lines.append("folder %s" % name[:-1].hex())
            continue
        (time,) = struct.unpack_from("<Q", data, position)
        position += 8
        stream = data[position:position + compressed]
        position += compressed
        if len(zlib.decompress(stream)) != size:
            raise ValueError("size mismatch")
        lines.append("file %s %d %d" % (name[:-1].hex(), size, time))
    print("\n".join(lines))


def main():
    if sys.argv[1] == "--read":
        read(sys.argv[2])
        return 0
    with open(sys.argv[1]) as f:
        layout = json.load(f)
    write(layout, sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else None)
    return 0


if __name__ == "__main__":
    sys.exit(main())
