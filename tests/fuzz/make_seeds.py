#!/usr/bin/env python3
"""Writes the binary seeds of tests/fuzz/corpus/ (updaters, some signed, journals) and the sample
update's install.env; the hand-written text seeds are kept as they are."""
import struct
import sys
import zlib
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "unit"))
import payload_writer  # noqa: E402

CORPUS = HERE / "corpus"


def sjis(text):
    return text.encode("cp932")


def save(target, name, data):
    (CORPUS / target / name).write_bytes(data)


def archive_seeds():
    written = lambda name, layout: payload_writer.write(layout, CORPUS / "archive" / name)  # noqa: E731
    picture = (CORPUS / "rct" / "one.rct").read_bytes()
    hexname = lambda name: (name if isinstance(name, bytes) else sjis(name)).hex()  # noqa: E731
    folder = lambda name: {"folder": hexname(name)}  # noqa: E731
    file = lambda name, data: {"file": hexname(name), "data": [{"hex": data.hex()}],  # noqa: E731
                               "time": 133443360000000000}
    # As vnpack lays an update out: setup files first, then the folders,
    # parents first, then the files in them; padded to a multiple of 8.
    update = [file("install.env", sjis("TITLEBAR\t星降る夜\nINSTTO\tHoshi\n[EOF]\n")),
              file("insttscr.rct", picture), file("readme.txt", sjis("お読みください\r\n")),
              folder("data\\"), folder("data\\bgm\\"), folder("おまけ\\"),
              file("data\\bgm\\表.dat", b"\x5c" * 40), file("おまけ\\ソ.txt", sjis("おまけ\r\n"))]
    stub = (b"MZ" + bytes(254)).hex()
    table = (struct.pack("<IHH", 16, 0x200, 2) + b"\x30\x82\0\0" + bytes(4)).hex()
    written("update", {"stub": stub, "entries": update, "end": "padded"})
    for name, magic in (("signed-pe32", 0x10B), ("signed-pe32plus", 0x20B)):
        written(name, {"stub": stub, "entries": update, "end": "padded",
                       "sign": {"magic": magic, "table": table}})
    # Another writer's archive, not padded: the signing tool pads it.
    written("signed-unpadded",
            {"stub": stub, "entries": update[:3], "sign": {"magic": 0x10B, "table": table}})

    small_stub = (b"MZ" + bytes(62)).hex()
    # The setup pass stops at the first nested folder; the copy pass takes all.
    written("setup-then-nested", {"stub": small_stub, "entries": [
        file("install.env", sjis("INSTTO\tA\n")), folder("save\\"), file("README.TXT", bytes(3)),
        folder("save\\sub\\"), file("notes.txt", bytes(5))]})
    # A damaged stream after a good file: the walk puts everything back.
    written("damaged-after-good", {"stub": small_stub, "entries": [
        file("a.bin", bytes(range(30))), dict(file("b.bin", bytes(30)), bad_adler=True)]})
    # Names Windows takes for one: refused before anything is written. Ⅰ is
    # 0x8754 and 0xFA4A, ⅰ 0xEEEF and 0xFA40.
    written("name-clash", {"stub": small_stub, "entries": [
        folder("Data\\"), file("DATA\\x.bin", b"\0"), file(b"\x87\x54", b"\0"), file(b"\xfa\x40", b"\0"),
        file("data", b"\0")]})


def example_seed():
    # The sample install.env without its comments.
    lines = (HERE.parents[1] / "examples/demo-update/install.env").read_bytes().splitlines(True)
    save("install_env", "example", b"".join(
        line for line in lines if not line.startswith(b"//") and line.strip()))


def journal_seeds():
    """Copy-pass journals at each stage of a walk, one naming places outside, one cut short."""
    def record(kind, name=b"", number=0, item=0):
        head = kind.encode() + struct.pack("<IIH", item, number, len(name)) + name
        return head + struct.pack("<I", zlib.crc32(head))
    magic = b"VNJ1"
    staged = record("S", b"a.dat", 8) + record("S", b"d\\b.dat", 9)
    backups = record("B", b"a.dat", 10, 0) + record("B", b"d\\b.dat", 11, 1)
    for name, records in (
            ("staging", record("D", b"n\\") + record("N", b"n\\c.dat") + record("S", b"a.dat", 7) +
             record("X") + staged),
            ("committing", staged + backups + record("C") + record("B", b"a.dat", 12, 0)),
            ("committed", record("N", b"z.dat") + staged + backups + record("C") + record("K")),
            ("escaping", record("N", b"..\\outside.dat") + record("N", b"..\\beside\\kept.dat") +
             record("S", b"d\\..\\..\\outside.dat", 1) + record("N", b"/tmp/x") +
             record("D", b"..\\beside\\"))):
        save("journal", name, magic + records)
    save("journal", "torn", (magic + staged + record("C"))[:-3])


if __name__ == "__main__":
    archive_seeds()
    example_seed()
    journal_seeds()
