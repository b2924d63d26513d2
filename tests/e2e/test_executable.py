"""The updater's executable file itself, read without Wine."""
import struct
import unittest
from xml.etree import ElementTree

import bench


def read_pe(data):
    """Machine, optional header magic, subsystem, imported DLLs (direct and
    delayed) and RT_MANIFEST resources of a PE file; struct.error or
    ValueError when it is malformed."""
    u16, u32 = (lambda at: struct.unpack_from("<H", data, at)[0],
                lambda at: struct.unpack_from("<I", data, at)[0])
    pe = u32(0x3C)
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    optional, magic = pe + 24, u16(pe + 24)
    if magic != 0x10B:  # only PE32 is read further
        return dict(machine=u16(pe + 4), magic=magic, subsystem=None, dlls=[], manifests=[])
    directories = [(u32(optional + 96 + 8 * i), u32(optional + 100 + 8 * i))
                   for i in range(min(u32(optional + 92), 16))] + [(0, 0)] * 16
    table = optional + u16(pe + 20)
    # (virtual size, virtual address, raw size, raw offset) of each section
    sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8) for i in range(u16(pe + 6))]

    def offset(rva):
        for virtual_size, address, raw_size, raw_offset in sections:
            if address <= rva < address + max(virtual_size, raw_size) and rva - address < raw_size:
                return raw_offset + rva - address
        raise ValueError("RVA 0x%x in no section's data" % rva)

    def string(rva):
        start = offset(rva)
        return data[start:data.index(b"\0", start, start + 512)].decode("latin-1")

    dlls = []
    for index, size, field in ((1, 20, 12), (13, 32, 4)):  # imports, delayed imports
        at = offset(directories[index][0]) if directories[index][0] else None
        while at is not None and u32(at + field):
            dlls.append(string(u32(at + field)))
            at += size

    def entries(directory):  # (id, target) of a resource directory
        return [struct.unpack_from("<II", data, directory + 16 + 8 * i)
                for i in range(u16(directory + 12) + u16(directory + 14))]

    manifests, root = [], offset(directories[2][0]) if directories[2][0] else None
    for kind, names in entries(root) if root is not None else []:
        for _, languages in entries(root + (names & 0x7FFFFFFF)) if kind == 24 else []:
            for _, leaf in entries(root + (languages & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, root + leaf)
                manifests.append(data[offset(rva):offset(rva) + size])
    return dict(machine=u16(pe + 4), magic=magic, subsystem=u16(optional + 68), dlls=dlls,
                manifests=manifests)


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
        self.image = read_pe(bench.SHIPPED.read_bytes())

    def test_fits_the_size_budget(self):
        size = bench.SHIPPED.stat().st_size
        self.assertLessEqual(size, SIZE_BUDGET, "%s is %d bytes" % (bench.SHIPPED, size))

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertEqual((self.image["magic"], self.image["machine"], self.image["subsystem"]),
                         (0x10B, 0x14C, 2), "PE32, i386, GUI subsystem")

    def test_imports_only_dlls_always_taken_from_the_system_folder(self):
        dlls = [d.lower() for d in self.image["dlls"]]
        self.assertIn("kernel32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in STARTUP_DLLS], [], "DLLs loaded at start")

    def test_manifest_requests_administrator_and_common_controls_6(self):
        manifests = self.image["manifests"]
        self.assertEqual(len(manifests), 1, "expected one RT_MANIFEST resource")
        root = ElementTree.fromstring(manifests[0].lstrip(b"\xef\xbb\xbf"))
        elements = [(e.tag.rsplit("}", 1)[-1], e.attrib) for e in root.iter()]
        self.assertEqual([a.get("level") for tag, a in elements
                          if tag == "requestedExecutionLevel"], ["requireAdministrator"])
        self.assertEqual([a.get("version") for tag, a in elements if tag == "assemblyIdentity"
                          and a.get("name") == "Microsoft.Windows.Common-Controls"],
                         ["6.0.0.0"], "Common-Controls 6.0 dependency")
