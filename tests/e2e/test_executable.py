"""The updater's executable file itself, read without Wine (the shipped PE32
cannot run on every host): headers, size, imports, manifest, import slots."""
import struct
import unittest
from xml.etree import ElementTree

import bench

IMPORTS, RESOURCES, IAT, DELAY_IMPORTS = 1, 2, 12, 13
# Loaded before the first statement: only DLLs Windows always maps from the
# system folder. One beside the executable would run with administrator rights.
STARTUP_DLLS = {"kernel32.dll", "msvcrt.dll"}
SIZE_BUDGET = 118784  # where earlier updaters of this kind started their payload


class Image:
    """A PE32 or PE32+ file; ValueError or struct.error when a header lies outside it."""

    def __init__(self, data):
        self.data = data
        pe = self.u(0x3C, "I")
        if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, count = struct.unpack_from("<HH", data, pe + 4)
        optional = pe + 24
        self.magic, self.subsystem = self.u(optional, "H"), self.u(optional + 68, "H")
        self.width = 8 if self.magic == 0x20B else 4  # of an address slot
        directories = optional + (112 if self.width == 8 else 96)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(min(self.u(directories - 4, "I"), 16))] + [(0, 0)] * 16
        table = optional + self.u(pe + 20, "H")
        # (name, virtual address, virtual size, raw offset, raw size, flags)
        self.sections = [(n.rstrip(b"\0").decode("latin-1"), va, vsize, roffset, rsize, flags)
                         for n, vsize, va, rsize, roffset, flags in (struct.unpack_from(
                             "<8sIIII12xI", data, table + 40 * i) for i in range(count))]

    def u(self, at, fmt):
        return struct.unpack_from("<" + fmt, self.data, at)[0]

    def section(self, rva):
        return next((s for s in self.sections if s[1] <= rva < s[1] + max(s[2], s[4])), None)

    def offset(self, rva):
        section = self.section(rva)
        if section is None or rva - section[1] >= section[4]:
            raise ValueError("RVA 0x%x in no section's data" % rva)
        return section[3] + rva - section[1]

    def slot(self, rva):
        return self.u(self.offset(rva), "Q" if self.width == 8 else "I")

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start, start + 512)
        if end < 0:
            raise ValueError("name at RVA 0x%x not terminated" % rva)
        return self.data[start:end].decode("latin-1")

    def thunks(self, rva):  # the values of the zero-terminated slot table at rva
        out = []
        while self.slot(rva + self.width * len(out)):
            out.append(self.slot(rva + self.width * len(out)))
        return out

    def imports(self):  # (DLL name, name table, name, address table) of each descriptor
        rva = self.directories[IMPORTS][0]
        while rva and any(self.data[self.offset(rva):self.offset(rva) + 20]):
            names, _, _, name, addresses = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            yield (self.string(name) if name else ""), names, name, addresses
            rva += 20


def check(data):
    """Findings about the import descriptors and the address slots that the
    loader fills: exactly the import address table, which the code calls through."""
    try:
        image, findings, filled = Image(data), [], []
        for dll, names, name, addresses in image.imports():
            if not (name and names and addresses):
                findings.append("import descriptor of %r lacks its name, name table or address table" % dll)
                continue
            entries, slots = image.thunks(names), image.thunks(addresses)
            if len(entries) != len(slots):
                findings.append("%s: %d names, %d address slots" % (dll, len(entries), len(slots)))
            for value in entries:
                if not value >> (8 * image.width - 1):  # by name, not by ordinal
                    image.string(value + 2)
            filled.append((addresses, addresses + image.width * (len(slots) + 1)))
        tiles = sorted(filled) or [(0, 0)]
        gapless = all(end == start for (_, end), (start, _) in zip(tiles, tiles[1:]))
        if not gapless or image.directories[IAT] != (tiles[0][0], tiles[-1][1] - tiles[0][0]):
            findings.append("import address table %s: slots that no descriptor declares (declared %s)"
                            % (image.directories[IAT], tiles))
        return findings
    except (ValueError, struct.error) as error:
        return ["unreadable: %s" % error]


class ExecutableFileTest(unittest.TestCase):
    def setUp(self):
        self.image = Image(bench.SHIPPED.read_bytes())

    def test_a_32_bit_gui_program_within_its_size_budget(self):
        self.assertEqual((self.image.magic, self.image.machine, self.image.subsystem),
                         (0x10B, 0x14C, 2), "PE32, i386, GUI subsystem")
        self.assertLessEqual(len(self.image.data), SIZE_BUDGET, bench.SHIPPED)

    def test_imports_only_dlls_always_taken_from_the_system_folder(self):
        dlls = [dll.lower() for dll, *_ in self.image.imports()]
        self.assertIn("kernel32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in STARTUP_DLLS], [], "DLLs loaded at start")
        self.assertEqual(self.image.directories[DELAY_IMPORTS], (0, 0), "delay-loaded DLLs")

    def test_manifest_requests_administrator_and_common_controls_6(self):
        image, found = self.image, []
        root = image.offset(image.directories[RESOURCES][0])

        def entries(directory):  # (id, target) of a resource directory
            return [struct.unpack_from("<II", image.data, directory + 16 + 8 * i)
                    for i in range(image.u(directory + 12, "H") + image.u(directory + 14, "H"))]
        for kind, names in entries(root):
            for _, languages in entries(root + (names & 0x7FFFFFFF)) if kind == 24 else []:
                for _, leaf in entries(root + (languages & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", image.data, root + leaf)
                    found.append(image.data[image.offset(rva):image.offset(rva) + size])
        self.assertEqual(len(found), 1, "expected one RT_MANIFEST resource")
        elements = [(e.tag.rsplit("}", 1)[-1], e.attrib)
                    for e in ElementTree.fromstring(found[0].lstrip(b"\xef\xbb\xbf")).iter()]
        self.assertEqual([a.get("level") for tag, a in elements if tag == "requestedExecutionLevel"],
                         ["requireAdministrator"])
        self.assertEqual([a.get("version") for tag, a in elements if tag == "assemblyIdentity"
                          and a.get("name") == "Microsoft.Windows.Common-Controls"], ["6.0.0.0"])

    def test_every_import_slot_is_one_the_loader_fills(self):
        for path in (bench.SHIPPED, bench.SHIPPED_64):
            with self.subTest(path=path):
                self.assertTrue(path.exists(), "%s: build it first" % path)
                self.assertEqual(check(path.read_bytes()), [])
        # The check itself finds a descriptor cut short, and slots of the
        # import address table that no descriptor declares.
        first = self.image.directories[IMPORTS][0]
        last = first + 20 * (len(list(self.image.imports())) - 1)
        for descriptor, size, finding in ((first, 4, "lacks its name"),
                                          (last, 20, "no descriptor declares")):
            planted, at = bytearray(self.image.data), self.image.offset(descriptor)
            planted[at:at + size] = bytes(size)
            self.assertRegex("\n".join(check(bytes(planted))), finding)
