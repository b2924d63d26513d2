"""Start-up of the updater without a payload, its work folder, and the
executable file itself."""
import os
import unittest
from xml.etree import ElementTree

import bench
import pe

DAMAGED_PAYLOAD = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"
EXIT_FAILURE = 0xFFFFFFFF  # -1 as the process reports it
IDOK, TEXT_ID, ICON_ID = 1, -1, 1088


def folder_name(clock):
    """The work folder for a clock value: %09d of the value as a signed 32-bit."""
    value = clock - (1 << 32) if clock >= (1 << 31) else clock
    return "TempGPInstallFolder_%09d" % value


class DamagedPayloadTest(bench.BenchTest):
    """The bare executable has no payload: it must say so, and clean up."""

    def start_and_wait_for_box(self):
        program = self.wine.start(bench.config.updater, name="vnupdate.exe")
        box = self.wine.wait_window(pid=program.pid, cls="#32770", timeout=20)
        self.assertIsNotNone(box, "no message box appeared within 20 s")
        return program, box

    def test_reports_damage_and_exits_with_minus_one(self):
        self.wine.set_clipboard("bench: clipboard before the run")
        program, box = self.start_and_wait_for_box()
        self.wine.screenshot("damaged-payload-box")

        self.assertEqual(box["title"], "", "the box shown before any main window has no caption")
        self.assertEqual(box["owner"], 0, "the box must have no owner window")
        visible = self.wine.windows(pid=program.pid, visible=1)
        self.assertEqual([w["hwnd"] for w in visible], [box["hwnd"]],
                         "the box must be the program's only visible window")

        controls = {c["id"]: c for c in self.wine.controls(box["hwnd"])["controls"]}
        self.assertIn(TEXT_ID, controls, "no text control in the box")
        self.assertEqual(controls[TEXT_ID]["text"], DAMAGED_PAYLOAD)
        buttons = sorted(c["id"] for c in controls.values() if c["class"].lower() == "button")
        self.assertEqual(buttons, [IDOK], "an error box has a single OK button")
        self.assertIn(ICON_ID, controls, "the box shows no icon")
        icon = self.wine.expect("icon", hwnd=box["hwnd"], id=ICON_ID)
        self.assertEqual(icon["best"], "error", "icon on screen is not the error icon: %s"
                         % icon["differences"])
        self.assertLessEqual(icon["differences"]["error"], icon["pixels"] // 50,
                             "icon pixels differ from the system's error icon")

        clip = self.wine.clipboard()
        self.assertEqual(clip["unicode"], DAMAGED_PAYLOAD, "CF_UNICODETEXT on the clipboard")
        self.assertEqual(clip["text_bytes"], DAMAGED_PAYLOAD.encode("cp932"),
                         "CF_TEXT must hold the code page 932 bytes of the text")

        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), EXIT_FAILURE)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [], "work folder left behind")


class FreshWorkFolderTest(bench.BenchTest):
    """A folder that already carries the name the clock gives must not be
    taken over: removing the work folder at the end would delete its files."""

    # How far ahead of the clock folders are made. Starting a program under
    # Wine takes well under a second here; the check below fails loudly if the
    # start ever falls outside the covered span.
    AHEAD_MS = 8000
    MARKER = "bench-marker.txt"

    def precreate(self, temp_dir, first, count, free_every):
        # The markers are hard links of one file: a third of the cost of
        # writing thousands of files, and a deleted link is still seen.
        source = self.wine.dir / self.MARKER
        source.write_text("left here by the bench\n")
        made, free = {}, set()
        for clock in range(first, first + count):
            name = folder_name(clock & 0xFFFFFFFF)
            if free_every and clock % free_every == 0:
                free.add(name)
                continue
            folder = temp_dir / name
            folder.mkdir()
            os.link(source, folder / self.MARKER)
            made[name] = folder
        return made, free

    def run_among_taken_names(self, free_every=0):
        """Fills the temporary folder with work folders for the coming clock
        values (all of them, or all but every free_every-th) and runs the
        updater. Returns the folder names it had made while its box showed
        and the names that were left free."""
        temp_dir = self.wine.temp_dir
        self.assertEqual(bench.work_folders(temp_dir), [], "the fresh prefix has work folders already")
        covered_from = self.wine.clock()
        made, free = self.precreate(temp_dir, covered_from, self.AHEAD_MS, free_every)
        covered_to = covered_from + self.AHEAD_MS

        started_after = self.wine.clock()
        program = self.wine.start(bench.config.updater, name="vnupdate.exe")
        box = self.wine.wait_window(pid=program.pid, cls="#32770", timeout=20)
        seen_before = self.wine.clock()
        self.assertIsNotNone(box, "no message box appeared within 20 s")
        # The program read its clock between these two readings; only if both
        # lie inside the covered span did it certainly meet a taken name.
        if not covered_from <= started_after < seen_before < covered_to:
            self.fail("bench too slow: the program started between %d and %d ms, outside the "
                      "pre-created span %d..%d ms; nothing was proved"
                      % (started_after, seen_before, covered_from, covered_to))
        during = set(p.name for p in temp_dir.iterdir()) - set(made)
        self.wine.screenshot("among-taken-names")

        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), EXIT_FAILURE)
        lost = [name for name, folder in made.items() if not (folder / self.MARKER).is_file()]
        self.assertEqual(lost, [], "marker files deleted in %d existing folder(s)" % len(lost))
        left = set(p.name for p in temp_dir.iterdir()) - set(made)
        self.assertEqual(left, set(), "new folders left behind")
        return during, free

    def test_existing_work_folders_are_left_alone(self):
        # Every name taken: the program may give up, but must touch nothing.
        during, _ = self.run_among_taken_names()
        self.assertLessEqual(len(during), 1, "several new folders: %s" % sorted(during))

    def test_taken_names_are_skipped(self):
        # A free name every 32 ms: the program moves past the taken ones to a
        # free one of its own.
        during, free = self.run_among_taken_names(free_every=32)
        self.assertEqual(len(during), 1, "expected one new work folder of the program's own while "
                         "its box showed, found %s" % sorted(during))
        self.assertIn(during.pop(), free, "the work folder is not one of the free names")


# DLLs that every Windows since XP ships; anything else (a MinGW runtime, a
# zlib DLL) would stop the updater on a user's machine.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll",
               "ole32.dll", "advapi32.dll", "winmm.dll", "msvcrt.dll", "comdlg32.dll",
               "shlwapi.dll", "oleaut32.dll", "version.dll"}


class ExecutableFileTest(unittest.TestCase):
    """The executable's headers, imports and manifest, read without Wine."""

    def setUp(self):
        self.image = pe.read(bench.config.updater)

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertEqual(self.image.magic, pe.MAGIC_PE32, "not PE32")
        self.assertEqual(self.image.machine, pe.MACHINE_I386, "not i386")
        self.assertEqual(self.image.subsystem, pe.SUBSYSTEM_GUI, "not the GUI subsystem")

    def test_imports_only_system_dlls(self):
        dlls = self.image.imported_dlls()
        self.assertIn("kernel32.dll", [d.lower() for d in dlls])
        foreign = [d for d in dlls if d.lower() not in SYSTEM_DLLS]
        self.assertEqual(foreign, [], "imports DLLs that Windows does not ship")

    def test_manifest_requests_administrator_and_common_controls_6(self):
        manifests = self.image.resources(pe.RT_MANIFEST)
        self.assertEqual(len(manifests), 1, "expected one RT_MANIFEST resource")
        root = ElementTree.fromstring(manifests[0].lstrip(b"\xef\xbb\xbf"))
        elements = [(e.tag.rsplit("}", 1)[-1], e.attrib) for e in root.iter()]
        levels = [a.get("level") for tag, a in elements if tag == "requestedExecutionLevel"]
        self.assertEqual(levels, ["requireAdministrator"])
        controls = [a.get("version") for tag, a in elements if tag == "assemblyIdentity"
                    and a.get("name") == "Microsoft.Windows.Common-Controls"]
        self.assertEqual(controls, ["6.0.0.0"], "Common-Controls 6.0 dependency")


if __name__ == "__main__":
    unittest.main()
