"""The updater's executable file itself, read without Wine."""
import struct
import unittest
from xml.etree import ElementTree

import bench
import pecheck


def manifests(image):
    """The RT_MANIFEST resources of a pecheck.Image."""
    data, found = image.data, []
    root = image.offset(image.directories[pecheck.RESOURCES][0])

    def entries(directory):  # (id, target) of a resource directory
        return [struct.unpack_from("<II", data, directory + 16 + 8 * i)
                for i in range(image.u16(directory + 12) + image.u16(directory + 14))]

    for kind, names in entries(root):
        for _, languages in entries(root + (names & 0x7FFFFFFF)) if kind == 24 else []:
            for _, leaf in entries(root + (languages & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, root + leaf)
                found.append(data[image.offset(rva):image.offset(rva) + size])
    return found


def synthetic_pe(wide):
    """A small image whose code calls one ordinary import (kernel32) and one
    delayed import (user32) through memory, made byte by byte: what the
    linkers at hand cannot make (GNU ld never declares delay imports)."""
    base, width = 0x400000, 8 if wide else 4
    text, idata, reloc = 0x1000, 0x2000, 0x3000  # one 0x200-byte section each
    slot = "<Q" if wide else "<I"
    image = bytearray(0xA00)
    struct.pack_into("<2s58xI", image, 0, b"MZ", 0x40)
    struct.pack_into("<4sHHIIIHH", image, 0x40, b"PE\0\0", 0x8664 if wide else 0x14C, 3,
                     0, 0, 0, 240 if wide else 224, 0x22)
    optional = 0x58
    struct.pack_into("<H", image, optional, 0x20B if wide else 0x10B)
    if wide:
        struct.pack_into("<Q", image, optional + 24, base)
    else:
        struct.pack_into("<I", image, optional + 28, base)
    struct.pack_into("<H", image, optional + 68, 2)
    directories = optional + (112 if wide else 96)
    struct.pack_into("<I", image, directories - 4, 16)
    for index, rva, size in ((1, idata, 40), (5, reloc, 20), (13, idata + 0x30, 64)):
        struct.pack_into("<II", image, directories + 8 * index, rva, size)
    table = directories + 128
    for i, (name, flags) in enumerate(((b".text", 0x60000020), (b".idata", 0xC0000040),
                                       (b".reloc", 0x42000040))):
        struct.pack_into("<8sIIIII8xI", image, table + 40 * i, name, 0x200, 0x1000 * (i + 1),
                         0x200, 0x400 + 0x200 * i, 0, flags)

    def put(rva, fmt, *values):
        struct.pack_into(fmt, image, 0x400 + 0x200 * (rva // 0x1000 - 1) + rva % 0x1000, *values)

    for at, target in ((0, idata + 0x90), (6, idata + 0xB0)):  # call [import], call [delayed]
        put(text + at, "<H", 0x15FF)
        put(text + at + 2, "<i" if wide else "<I",
            target - (text + at + 6) if wide else base + target)
    put(text + 0x100, "B", 0xC3)  # where the delayed slot points until it is bound
    put(idata, "<IIIII", idata + 0x80, 0, 0, idata + 0xE0, idata + 0x90)
    put(idata + 0x30, "<IIIII", 1, idata + 0xF0, idata + 0x100, idata + 0xB0, idata + 0xA0)
    put(idata + 0x80, slot, idata + 0xC0)
    put(idata + 0x90, slot, idata + 0xC0)
    put(idata + 0xA0, slot, idata + 0xD0)
    put(idata + 0xB0, slot, base + text + 0x100)
    put(idata + 0xC0, "<2x12s", b"ExitProcess")
    put(idata + 0xD0, "<2x12s", b"MessageBoxW")
    put(idata + 0xE0, "<13s", b"kernel32.dll")
    put(idata + 0xF0, "<11s", b"user32.dll")
    fixup = (0xA000 if wide else 0x3000)
    put(reloc, "<IIHH", text, 12, fixup | 2, fixup | 8)
    put(reloc + 12, "<IIHH", idata, 12, fixup | 0xB0, 0)
    return image, idata, width


# What the executable may load before its first statement: the system DLLs
# that Windows always maps from the system folder. Everything else is loaded
# later, from there only; a DLL found beside the executable in a download
# folder would run with administrator rights.
STARTUP_DLLS = {"kernel32.dll", "msvcrt.dll"}


# The size at which earlier updaters of this kind started their payload.
SIZE_BUDGET = 118784


class ExecutableFileTest(unittest.TestCase):
    """The executable's headers, imports, manifest and size, read without Wine."""

    def setUp(self):
        self.image = pecheck.Image(bench.SHIPPED.read_bytes())

    def test_fits_the_size_budget(self):
        size = bench.SHIPPED.stat().st_size
        self.assertLessEqual(size, SIZE_BUDGET, "%s is %d bytes" % (bench.SHIPPED, size))

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertEqual((self.image.magic, self.image.machine, self.image.subsystem),
                         (0x10B, 0x14C, 2), "PE32, i386, GUI subsystem")

    def test_imports_only_dlls_always_taken_from_the_system_folder(self):
        dlls = [d.lower() for d in self.image.dlls()]
        self.assertIn("kernel32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in STARTUP_DLLS], [], "DLLs loaded at start")

    def test_manifest_requests_administrator_and_common_controls_6(self):
        found = manifests(self.image)
        self.assertEqual(len(found), 1, "expected one RT_MANIFEST resource")
        root = ElementTree.fromstring(found[0].lstrip(b"\xef\xbb\xbf"))
        elements = [(e.tag.rsplit("}", 1)[-1], e.attrib) for e in root.iter()]
        self.assertEqual([a.get("level") for tag, a in elements
                          if tag == "requestedExecutionLevel"], ["requireAdministrator"])
        self.assertEqual([a.get("version") for tag, a in elements if tag == "assemblyIdentity"
                          and a.get("name") == "Microsoft.Windows.Common-Controls"],
                         ["6.0.0.0"], "Common-Controls 6.0 dependency")


class CallableImportsTest(unittest.TestCase):
    """Every call through an import slot can be made: checked in the file, on
    any host, for the shipped PE32 and the PE32+ build of the same sources."""

    def test_the_built_updaters_pass(self):
        for path in (bench.SHIPPED, bench.SHIPPED_64):
            with self.subTest(path=path):
                self.assertTrue(path.exists(), "%s: build it first" % path)
                self.assertEqual(pecheck.check(path.read_bytes()), [])

    def test_planted_faults_are_found(self):
        def cut_import_name_table(image):
            descriptor = image.offset(image.directories[pecheck.IMPORTS][0])
            image.data[descriptor:descriptor + 4] = bytes(4)
        shipped = bytearray(bench.SHIPPED.read_bytes())
        cut_import_name_table(pecheck.Image(shipped))
        self.assertRegex("\n".join(pecheck.check(bytes(shipped))), "lacks its name")

        for wide in (False, True):
            image, idata, width = synthetic_pe(wide)
            self.assertEqual(pecheck.check(bytes(image)), [], "the synthetic image itself")
            delayed_slot = 0x400 + 0x200 + 0xB0
            faults = (  # what to plant, what must be said
                (lambda d: d.__setitem__(slice(delayed_slot, delayed_slot + width), bytes(width)),
                 "holds 0x0, not an address in the code"),
                (lambda d: d.__setitem__(slice(0x800 + 12 + 8, 0x800 + 12 + 10), bytes(2)),
                 "has no relocation"),
                (lambda d: d.__setitem__(slice(0x600 + 0x38, 0x600 + 0x3C), bytes(4)),
                 "delay-import descriptor of 'user32.dll' lacks"),
                (lambda d: d.__setitem__(slice(0x600, 0x604), bytes(4)),
                 "import descriptor of 'kernel32.dll' lacks"),
            )
            for plant, said in faults:
                with self.subTest(wide=wide, said=said):
                    copy = bytearray(image)
                    plant(copy)
                    self.assertIn(said, "\n".join(pecheck.check(bytes(copy))))
