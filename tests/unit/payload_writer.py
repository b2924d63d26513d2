#!/usr/bin/env python3
"""The reference writer and reader of updater payloads (Python's zlib only, so that the C++
reader is never tested against the C++ writer alone), for the unit tests and the Wine bench.

Payload after the image, little-endian, per entry: u16 name field length, the field (code page
932, NUL-ended), u32 size (0xFFFFFFFF: folder), u32 compressed size, for a file u64 FILETIME and
the zlib stream; then u16 0, two zero bytes and the trailer, u32 offset of the first entry.

LAYOUT.json OUTPUT writes an updater; --read UPDATE prints "folder NAME" or "file NAME" per entry
(raw bytes), exit 1 on any fault. LAYOUT keys: stub (hex image), end (normal, bare, none, padded:
to a multiple of 8), cut (bytes dropped before the trailer), sign (the arguments of signed),
entries: {"folder": NAME_HEX}, {"raw": HEX} or {"file": NAME_HEX, "data": [{"zeros": n} |
{"random": n, "seed": s} | {"hex": HEX}], "time", "bad_adler", "uncompressed_size",
"compressed_size", "name_field_hex", "stream_hex", "after_stream_hex"}.
"""
import json
import random
import struct
import sys
import zlib

FOLDER_MARK = 0xFFFFFFFF
FILETIME_OF_1970 = 116444736000000000
END = b"\0\0\0\0"


def filetime(ns):
    """A Windows FILETIME from nanoseconds since 1970."""
    return ns // 100 + FILETIME_OF_1970


def entry_bytes(field, size, stream=b"", time=0, compressed=None):
    """One entry; size FOLDER_MARK (and no stream) for a folder."""
    out = struct.pack("<H", len(field)) + field
    if size == FOLDER_MARK and not stream:
        return out + struct.pack("<II", FOLDER_MARK, 0)
    stated = len(stream) if compressed is None else compressed
    return out + struct.pack("<IIQ", size, stated, time) + stream


def archive_bytes(entries):
    """entries: (name, data, time), name as str (code page 932) or bytes, data
    None for a folder; the archive with its end marker, without a trailer."""
    out = b""
    for name, data, time in entries:
        field = (name.encode("cp932") if isinstance(name, str) else name) + b"\0"
        out += (entry_bytes(field, FOLDER_MARK) if data is None
                else entry_bytes(field, len(data), zlib.compress(data, 9), time))
    return out + END


def with_trailer(image, archive):  # the executable image, then the payload
    return image + archive + struct.pack("<I", len(image))


def signed(updater, magic, padding=None, table="", stated=None):
    """The updater with a PE header at 0x40 (PE32 0x10B or PE32+ 0x20B, 16 directories)
    whose security directory names the certificate table (hex) appended after padding
    zero bytes (default: to a multiple of 8, as signing tools do); stated: its size there."""
    table = bytes.fromhex(table)
    image = bytearray(updater)
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<H", image, 0x40 + 24, magic)
    directories = 0x40 + 24 + (108 if magic == 0x20B else 92)  # NumberOfRvaAndSizes
    padding = -len(image) % 8 if padding is None else padding
    struct.pack_into("<I", image, directories, 16)
    struct.pack_into("<II", image, directories + 4 + 4 * 8, len(image) + padding,
                     len(table) if stated is None else stated)
    return bytes(image) + bytes(padding) + table


def data_part(part):
    if "zeros" in part:
        return bytes(part["zeros"])
    if "random" in part:
        return random.Random(part.get("seed", 1)).randbytes(part["random"])
    return bytes.fromhex(part["hex"])  # KeyError on a part of no known kind


def layout_entry(entry):
    if "raw" in entry:
        return bytes.fromhex(entry["raw"])
    if "folder" in entry:
        return entry_bytes(bytes.fromhex(entry["folder"]) + b"\0", FOLDER_MARK)
    stream_hex = entry.get("stream_hex")  # a stream as it stands, for one no zlib writes
    inflated = b"" if stream_hex else b"".join(map(data_part, entry.get("data", [])))
    stream = bytes.fromhex(stream_hex) if stream_hex else zlib.compress(inflated, 9)
    if entry.get("bad_adler"):
        stream = stream[:-1] + bytes([stream[-1] ^ 0xFF])
    stream += bytes.fromhex(entry.get("after_stream_hex", ""))
    field = bytes.fromhex(entry.get("name_field_hex", entry["file"] + "00"))
    return entry_bytes(field, entry.get("uncompressed_size", len(inflated)), stream,
                       entry.get("time", 0), entry.get("compressed_size"))


def write(layout, output):
    stub = bytes.fromhex(layout["stub"]) if "stub" in layout else b"MZ" + bytes(510)
    archive = b"".join(layout_entry(e) for e in layout.get("entries", []))
    archive += {"normal": END, "bare": END[:2], "none": b"",
                "padded": END + bytes(-(len(stub) + len(archive) + 8) % 8)}[layout.get("end", "normal")]
    archive = archive[:len(archive) - layout.get("cut", 0)]
    data = with_trailer(stub, archive)
    if "sign" in layout:
        data = signed(data, **layout["sign"])
    with open(output, "wb") as f:
        f.write(data)


def read_archive(data):
    """The entries of an updater's payload, every stream inflated and checked:
    dicts of offset, name (bytes), folder, size, compressed, time, data (offset
    of the stream). ValueError (or struct.error) on any fault."""
    position = struct.unpack_from("<I", data, len(data) - 4)[0]
    end = len(data) - 4
    entries = []
    while True:
        (length,) = struct.unpack_from("<H", data, position)
        if length == 0:
            # Two zero bytes, or up to nine with vnpack's padding to 8.
            if not 4 <= end - position <= 11 or data[position + 2:end].strip(b"\0"):
                raise ValueError("bad end marker")
            return entries
        field = data[position + 2:position + 2 + length]
        if len(field) != length or field[-1] != 0:
            raise ValueError("unterminated name")
        size, compressed = struct.unpack_from("<II", data, position + 2 + length)
        entry = dict(offset=position, name=field[:-1], folder=size == FOLDER_MARK, size=size,
                     compressed=compressed)
        position += 2 + length + 8
        if not entry["folder"]:
            (entry["time"],) = struct.unpack_from("<Q", data, position)
            entry["data"] = position + 8
            position += 8 + compressed
            if len(zlib.decompress(data[entry["data"]:position])) != size:
                raise ValueError("size mismatch")
        entries.append(entry)


if __name__ == "__main__":
    if sys.argv[1] == "--read":
        with open(sys.argv[2], "rb") as f:
            for e in read_archive(f.read()):
                sys.stdout.buffer.write(b"%s %s\n" % (b"folder" if e["folder"] else b"file", e["name"]))
    else:
        with open(sys.argv[1]) as f:
            write(json.load(f), sys.argv[2])
