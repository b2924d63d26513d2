"""Start-up of the updater without a payload, its work folder, and the
executable file itself."""
import os
import struct
import unittest
from xml.etree import ElementTree

import bench
from bench import DAMAGED_PAYLOAD, EXIT_FAILURE, IDOK


def folder_name(clock):
    """The work folder for a clock value: %09d of the value as a signed 32-bit."""
    return "TempGPInstallFolder_%09d" % (clock - (1 << 32) if clock >= 1 << 31 else clock)


class DamagedPayloadTest(bench.BenchTest):
    """The bare executable has no payload: it must say so, and clean up."""

    def test_reports_damage_and_exits_with_minus_one(self):
        self.wine.set_clipboard("bench: clipboard before the run")
        program = self.wine.start(bench.UPDATER, name="vnupdate.exe")
        box, controls = self.wine.message_box(program.pid)
        self.wine.screenshot("damaged-payload-box")
        # Shown before any main window: no caption, no owner.
        self.check_box(box, controls, DAMAGED_PAYLOAD, [IDOK], "error", title="", owner=0)
        visible = self.wine.windows(pid=program.pid, visible=1)
        self.assertEqual([w["hwnd"] for w in visible], [box["hwnd"]], "other windows shown")
        self.check_clipboard(DAMAGED_PAYLOAD)
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(), EXIT_FAILURE)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [], "work folder left behind")


class FreshWorkFolderTest(bench.BenchTest):
    """A folder that already carries the name the clock gives must not be
    taken over: removing the work folder at the end would delete its files."""

    # How far ahead of the clock folders are made. Starting a program under
    # Wine takes well under a second here; the check below fails loudly if the
    # start ever falls outside the covered span.
    AHEAD_MS = 8000
    MARKER = "bench-marker.txt"

    def run_among_taken_names(self, free_every=0):
        """Fills the temporary folder with work folders for the coming clock
        values (all, or all but every free_every-th; the markers in them are
        hard links of one file) and runs the updater. Returns the new folders
        seen while its box showed, and the names left free."""
        temp_dir, source = self.wine.temp_dir, self.wine.dir / self.MARKER
        source.write_text("left here by the bench\n")
        covered_from = self.wine.clock()
        made, free = {}, set()
        for clock in range(covered_from, covered_from + self.AHEAD_MS):
            name = folder_name(clock & 0xFFFFFFFF)
            if free_every and clock % free_every == 0:
                free.add(name)
                continue
            made[name] = temp_dir / name
            made[name].mkdir()
            os.link(source, made[name] / self.MARKER)

        started_after = self.wine.clock()
        program = self.wine.start(bench.UPDATER, name="vnupdate.exe")
        box = self.wine.wait_window(pid=program.pid, cls="#32770")
        seen_before = self.wine.clock()
        self.assertIsNotNone(box, "no message box")
        # The program read its clock between these two readings; only inside
        # the covered span did it certainly meet a taken name.
        if not covered_from <= started_after < seen_before < covered_from + self.AHEAD_MS:
            self.fail("bench too slow: the program started between %d and %d ms, outside the "
                      "pre-created span from %d ms; nothing was proved"
                      % (started_after, seen_before, covered_from))
        during = set(p.name for p in temp_dir.iterdir()) - set(made)
        self.wine.screenshot("among-taken-names")

        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(), EXIT_FAILURE)
        lost = [name for name, folder in made.items() if not (folder / self.MARKER).is_file()]
        self.assertEqual(lost, [], "marker files deleted in existing folders")
        self.assertEqual(set(p.name for p in temp_dir.iterdir()) - set(made), set(),
                         "new folders left behind")
        return during, free

    def test_existing_work_folders_are_left_alone(self):
        # Every name taken: the program may give up, but must touch nothing.
        during, _ = self.run_among_taken_names()
        self.assertLessEqual(len(during), 1, "several new folders: %s" % sorted(during))

    def test_taken_names_are_skipped(self):
        # A free name every 32 ms: the program moves past the taken ones.
        during, free = self.run_among_taken_names(free_every=32)
        self.assertEqual(len(during), 1, "not one new work folder: %s" % sorted(during))
        self.assertIn(during.pop(), free, "the work folder is not one of the free names")


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


class ExecutableFileTest(unittest.TestCase):
    """The executable's headers, imports and manifest, read without Wine."""

    def setUp(self):
        self.image = read_pe(bench.SHIPPED.read_bytes())

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
