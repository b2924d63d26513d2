"""The payload of real updaters under Wine: the setup files in a private work
folder, payloads refused at start-up, the copy pass under its progress window."""
import itertools
import os
import random
import time

import bench
from bench import EXIT_FAILURE, ID, IDCANCEL, IDOK, IDRETRY, TEXT, TEXT_ID, payload

FILE_BAR, FILE_NAME, TOTAL_BAR, ANIMATION = (ID["IDC_COPY_" + name] for name in
                                             ("FILE_BAR", "FILE_NAME", "TOTAL_BAR", "ANIMATION"))
BLOCK = 131072
WINDOW_TITLE = TEXT["kTextUpdaterSuffix"] % "ペイロード 試験"
DAMAGED_PAYLOAD, REG_NOT_TERMINATED = TEXT["kTextPayloadDamaged"], TEXT["kTextSectionNotTerminated"] % "reg"
OPEN_REG = "TITLEBAR\t開\r\n[EOF]\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n[EOF]\r\n".encode("cp932")
INSTALL_ENV = "// payload tests\r\nTITLEBAR\tペイロード|試験\r\n[EOF]\r\n".encode("cp932")
SETUP_FILES = {"install.env", "insttscr.rct", "readme.txt"}
DESTINATION = "C:\\ゲーム"


class PayloadTest(bench.BenchTest):
    def build(self):
        # Random, the big file stays big in the archive; a nested readme is no setup file.
        self.files = {"install.env": INSTALL_ENV, "insttscr.rct": bench.PICTURE.read_bytes(),
                      "readme.txt": "お読みください\r\n".encode("cp932"),
                      "big.bin": random.Random(7).randbytes(2 << 20),
                      "data/表示.dat": b"\x95\x5c" * 1000, "data/empty.bin": b"",
                      "data/sub/notes.txt": b"not a setup file: it lies in a nested folder\r\n"}
        source = self.wine.dir / "update-source"
        bench.write_tree(source, self.files)
        return bench.build_updater(source, self.wine.dir / "update.exe")


class SetupPassTest(PayloadTest):
    def test_work_folder_under_any_folder_name(self):
        updater, names = self.build(), []
        # Japanese with a 0x5C second byte (表); an emoji has no code page 932 form.
        for folder in ["", "表示テスト", "update-\U0001F3AE"]:
            with self.subTest(folder=folder):
                try:
                    (self.wine.bench_dir / folder).mkdir(exist_ok=True)
                except OSError as error:
                    self.skipTest("the file system refuses %r (%s)" % (folder, error))
                program = self.wine.start(updater, name=os.path.join(folder, "vnupdate.exe"))
                window = self.window_of(program, title=WINDOW_TITLE)
                [work] = bench.work_folders(self.wine.temp_dir)
                names.append(work.name)
                self.assertRegex(work.name, r"^TempGPInstallFolder_\d{9}$")
                seen = {p.name: p.read_bytes() for p in work.iterdir()}
                self.assertEqual(seen, {name: self.files[name] for name in SETUP_FILES})
                moved = self.wine.call("move", **{"from": self.wine.to_windows(work),
                                                  "to": self.wine.to_windows(work) + "x"})
                self.assertFalse(moved["ok"], "the work folder could be moved away while in use")
                self.wine.expect("close", hwnd=window["hwnd"])
                self.assertEqual(program.wait_exit(), 0)
                self.assertEqual(bench.work_folders(self.wine.temp_dir), [], "work folder left")
        self.assertEqual(len(set(names)), len(names), "a work folder's name came again")


class RefusedAtStartupTest(PayloadTest):
    def test_refused_updaters(self):
        """Before any window: one box (no owner, no caption), its text on the
        clipboard, exit -1, the work folder gone after OK, kept after a question."""
        stub = bench.UPDATER.read_bytes()
        written = lambda entries: payload.with_trailer(stub, payload.archive_bytes(entries))  # noqa: E731
        open_reg = written([("install.env", OPEN_REG, 0)])
        # label, updater, text, answer; a section left open asks Retry or
        # Cancel, and either ends the run.
        refused = [("the bare updater, no payload", stub, DAMAGED_PAYLOAD, IDOK),
                   ("install.env only inside a folder", written(
                       [("insttscr.rct", b"picture", 0), ("sub\\", None, 0),
                        ("sub\\install.env", INSTALL_ENV, 0)]), TEXT["kTextSetupFilesMissing"], IDOK),
                   ("an open [reg] section, retry", open_reg, REG_NOT_TERMINATED, IDRETRY),
                   ("an open [reg] section, cancel", open_reg, REG_NOT_TERMINATED, IDCANCEL)]
        for number, (label, damaged, text, answer) in enumerate(refused):
            before = bench.work_folders(self.wine.temp_dir)
            with self.subTest(label):
                copy = self.wine.dir / ("refused-%d.exe" % number)
                copy.write_bytes(damaged)
                self.wine.expect("clipset", text="bench: clipboard before the run")
                program = self.wine.start(copy)
                try:
                    box, controls = self.check_box(program, text, [answer] if answer == IDOK else
                                                   [IDRETRY, IDCANCEL], "error", title="", owner=0)
                    visible = self.wine.windows(pid=program.pid, visible=1)
                    self.assertEqual([w["hwnd"] for w in visible], [box["hwnd"]], "other windows")
                    if "\n" in text:  # a bare LF, which the box shows as a line break
                        rect = controls[TEXT_ID]["rect"]
                        self.assertGreater(rect["bottom"] - rect["top"], 20, "not two lines")
                    # On the clipboard a break is CR LF, so that a pasted text keeps its lines.
                    self.check_clipboard(text.replace("\n", "\r\n"))
                    self.wine.click(box["hwnd"], answer)
                    self.assertEqual(program.wait_exit(), EXIT_FAILURE)
                    kept = set(bench.work_folders(self.wine.temp_dir)) - set(before)
                    self.assertEqual(len(kept), 0 if answer == IDOK else 1, "work folder")
                finally:
                    if program.wait_exit(0) is None:  # not refused: must not hold the next one up
                        program.kill()


class CopyPassTest(PayloadTest):
    def copy_steps(self, program, window):
        """The progress window's controls at each hold of copypass.exe, until
        the hold after the window closed (which the caller lets go)."""
        for holds in itertools.count(1):
            bench.wait_for(lambda: program.output().split().count("hold") >= holds, 60,
                           "copypass did not reach hold %d" % holds)
            if "closed" in program.output().split():
                return
            controls = self.wine.controls(window["hwnd"])
            if controls is None:
                raise bench.BenchError("the progress window went away during a hold")
            yield controls
            self.wine.expect("post", tid=program.tid, msg=bench.WM_APP)

    def assert_animates(self, rect):
        # A still picture changes at most once: when it is first painted.
        changes, last, deadline = 0, self.wine.grab(rect), time.monotonic() + 20
        while changes < 2 and time.monotonic() < deadline:
            frame = self.wine.grab(rect)
            changes, last = changes + (frame != last), frame
        self.assertEqual(changes, 2, "the animation does not play")

    def test_progress_window(self):
        updater = self.build()
        (self.wine.drive_c / "ゲーム").mkdir()
        program = self.wine.start(bench.PROGRAMS / "copypass.exe",
                                  args=[self.wine.install(updater), DESTINATION])
        window = self.window_of(program, "no copy progress window", title=TEXT["kTextCopyCaption"])
        data = updater.read_bytes()
        entries = payload.read_archive(data)
        archive_size = len(data) - 4 - entries[0]["offset"]
        samples = []
        for controls in self.copy_steps(program, window):
            if not samples:
                self.assert_animates(controls[ANIMATION]["rect"])
            samples.append(controls)
        # Held after the window closed: it is gone while the process runs.
        self.assertEqual(self.wine.windows(pid=program.pid, visible=1), [],
                         "the progress window outlives the copy")
        self.wine.expect("post", tid=program.tid, msg=bench.WM_APP)
        self.assertEqual(program.wait_exit(), 0)
        self.assertIn("done", program.output())

        # The window shows values at most every 30 ms of its clock (10 ms a
        # reading): a file may pass unseen, but a shown one ends full.
        blocks = {DESTINATION + "\\" + e["name"].decode("cp932"): e["size"] // BLOCK
                  for e in entries if not e["folder"]}
        total = samples[-1][TOTAL_BAR]["progress"]
        self.assertEqual((total["high"], total["pos"]),
                         (max(1, archive_size // BLOCK), (archive_size - 4) // BLOCK), "overall bar")
        self.assertEqual(samples[-1][FILE_NAME]["text"], list(blocks)[-1], "the last file at the end")
        bars = [(s[FILE_NAME]["text"], s[FILE_BAR]["progress"]) for s in samples]
        for before, after in zip(bars, bars[1:] + [("", None)]):
            if before[0] and before[0] != after[0]:
                self.assertEqual((before[1]["high"], before[1]["pos"]), (blocks[before[0]],) * 2,
                                 "%s did not end full" % before[0])
        steps = {bar["pos"] for name, bar in bars if name.endswith("big.bin")}
        self.assertGreaterEqual(len(steps), 6, "the file bar did not step: %s" % steps)
        self.assertFalse(any(s[IDCANCEL]["enabled"] for s in samples), "Cancel enabled")
