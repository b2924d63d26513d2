"""The payload of real updaters under Wine: the setup files in the work folder
at start-up, damaged copies refused before anything is written, updaters saved
under any folder name, and the copy pass under its progress window."""
import json
import os
import random
import time

import bench

DAMAGED_PAYLOAD = "ファイルの読み込みに失敗しました。ファイルが壊れている可能性があります。"
EXIT_FAILURE = 0xFFFFFFFF
IDOK, IDCANCEL, TEXT_ID, QUIT_BUTTON = 1, 2, -1, 1000
FILE_BAR, FILE_NAME, TOTAL_BAR, ANIMATION = 1010, 1012, 1019, 1020
BLOCK = 131072

TITLEBAR = "ペイロード|試験"
WINDOW_TITLE = "ペイロード 試験 アップデータ"
INSTALL_ENV = ("// payload tests\r\nTITLEBAR\t%s\r\n[EOF]\r\n" % TITLEBAR).encode("cp932")
SETUP_FILES = {"install.env", "insttscr.rct", "readme.txt"}
BIG_FILE_SIZE = 2 * 1024 * 1024

# Last-write times with a 100 ns part, so that a time cut to seconds shows.
BASE_TIME_NS = 1_300_000_000_123_456_700


def update_files():
    """Relative path (forward slashes) -> bytes of the update folder's files.
    The big file is random so that it stays big in the archive; a readme
    inside a nested folder must not reach the work folder; 表 ends in 0x5C."""
    rng = random.Random(7)
    return {
        "install.env": INSTALL_ENV,
        "insttscr.rct": bytes(rng.randrange(256) for _ in range(3000)),
        "readme.txt": "お読みください\r\n".encode("cp932"),
        "big.bin": rng.randbytes(BIG_FILE_SIZE),
        "data/表示.dat": b"\x95\x5c" * 1000,
        "data/empty.bin": b"",
        "data/sub/notes.txt": b"not a setup file: it lies in a nested folder\r\n",
    }


def make_update_folder(root):
    """Writes the update folder; returns {relative path: (bytes, mtime ns)}."""
    made = {}
    for number, (relative, data) in enumerate(sorted(update_files().items())):
        path = root / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        stamp = BASE_TIME_NS + number * 86_400_000_000_000 + number * 1_100
        os.utime(path, ns=(stamp, stamp))
        made[relative] = (data, stamp)
    return made


class PayloadTest(bench.BenchTest):
    def build(self, name="update.exe"):
        source = self.wine.dir / "update-source"
        self.files = make_update_folder(source)
        return bench.build_updater(source, self.wine.dir / name)

    def contents(self, folder):
        return {p.name: p.read_bytes() for p in folder.iterdir()}

    def start_and_quit(self, updater, name="vnupdate.exe", step="startup-window"):
        """Runs an updater to its start-up window; returns the work folder's
        files seen while the window showed, after a clean quit."""
        program = self.wine.start(updater, name=name)
        window = self.wine.wait_window(pid=program.pid, title=WINDOW_TITLE, timeout=20)
        if window is None:
            box, controls = self.wine.message_box(program.pid, timeout=1)
            self.fail("no start-up window; box: %s" % (controls.get(TEXT_ID, {}).get("text")))
        self.wine.screenshot(step)
        folders = bench.work_folders(self.wine.temp_dir)
        self.assertEqual(len(folders), 1, "one work folder while the window shows")
        seen = self.contents(folders[0])
        self.wine.click(window["hwnd"], QUIT_BUTTON)
        self.assertEqual(program.wait_exit(15), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [], "work folder left behind")
        return seen


class SetupPassTest(PayloadTest):
    def test_work_folder_holds_exactly_the_setup_files(self):
        seen = self.start_and_quit(self.build())
        self.assertEqual(set(seen), SETUP_FILES)
        for name in SETUP_FILES:
            self.assertEqual(seen[name], self.files[name][0], "bytes of %s" % name)

    def test_updater_opens_itself_under_any_folder_name(self):
        updater = self.build()
        # Japanese with a 0x5C second byte (表); Korean and an emoji have no
        # code page 932 form at all.
        folders = ["表示テスト", "업데이트", "update-\U0001F3AE"]
        refused = []
        for number, folder in enumerate(folders):
            try:
                (self.wine.bench_dir / folder).mkdir()
            except OSError as error:
                refused.append("%r (%s)" % (folder, error))
                continue
            seen = self.start_and_quit(updater, name="%s/vnupdate.exe" % folder,
                                       step="saved-under-%d" % number)
            self.assertEqual(set(seen), SETUP_FILES, "saved under %r" % folder)
        if refused:
            self.skipTest("the file system refuses " + ", ".join(refused))


def flip(data, position, mask):
    changed = bytearray(data)
    changed[position] ^= mask
    return bytes(changed)


class DamagedCopyTest(PayloadTest):
    """Damaged copies are refused at start-up with the one message, and leave
    nothing behind: no work folder, no file outside it."""

    def damaged_copies(self, good):
        data = good.read_bytes()
        first = bench.read_archive(data)[0]
        name_field = first["offset"] + 2
        sizes = name_field + len(first["name"]) + 1
        escape = [("install.env", INSTALL_ENV, 0), ("readme.txt", b"readme", 0)]
        return [
            ("cut by one byte", data[:-1]),
            ("archive one byte short, trailer kept", data[:-5] + data[-4:]),
            ("name length of the first entry", flip(data, first["offset"], 0x40)),
            ("compressed size of the first entry", flip(data, sizes + 7, 0x20)),
            ("a byte of install.env's stream", flip(data, first["data"] + 20, 0xFF)),
            ("name leading up out of the folder",
             bench.archive_bytes(escape + [("..\\escape.txt", b"escaped", 0)])),
            ("name leading up from a subfolder",
             bench.archive_bytes(escape + [("sub\\", None, 0),
                                           ("sub\\..\\..\\escape.txt", b"escaped", 0)])),
        ]

    def test_damaged_copies_are_refused(self):
        good = self.build()
        stub = bench.config.updater.read_bytes()
        for number, (label, data) in enumerate(self.damaged_copies(good)):
            with self.subTest(damage=label):
                if label.startswith("name leading"):
                    data = stub + data + len(stub).to_bytes(4, "little")
                copy = self.wine.dir / ("damaged-%d.exe" % number)
                copy.write_bytes(data)
                program = self.wine.start(copy)
                try:
                    self.expect_refusal(program, "damaged-%d" % number)
                finally:
                    # A copy that was not refused must not hold the next one up.
                    if program.wait_exit(0) is None:
                        program.kill()

    def expect_refusal(self, program, step):
        box, controls = self.wine.message_box(program.pid)
        self.assertIsNotNone(box, "no message box")
        self.wine.screenshot(step)
        escaped = [p for p in (self.wine.temp_dir, self.wine.temp_dir.parent,
                               self.wine.bench_dir, self.wine.drive_c)
                   if (p / "escape.txt").exists()]
        self.assertEqual(escaped, [], "a file was written outside the work folder")
        self.assertEqual(controls.get(TEXT_ID, {}).get("text"), DAMAGED_PAYLOAD,
                         "not the damaged-file message (a window titled %r)" % box["title"])
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), EXIT_FAILURE)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [])


class CopyPassTest(PayloadTest):
    """copypass.exe runs the updater's copy pass under the real progress
    window, holding each step for PAUSE_MS so that the window can be read."""

    PAUSE_MS = 150
    LINGER_MS = 2000
    DESTINATION = "C:\\ゲーム"

    def watch(self, program, window):
        """Reads the window until it closes: a list of {id: control} samples,
        and two grabs of the animation taken a little apart."""
        samples, grabs = [], []
        out = self.wine.bench_dir / "program.out"
        while True:
            answer = self.wine.call("controls", hwnd=window["hwnd"])
            if not answer.get("ok"):
                break
            controls = {c["id"]: c for c in answer["controls"]}
            if not all(i in controls for i in (FILE_BAR, FILE_NAME, TOTAL_BAR, IDCANCEL)):
                break  # read while the window was going away
            samples.append(controls)
            if len(samples) in (3, 8) and ANIMATION in controls:
                grabs.append(self.wine.grab(controls[ANIMATION]["rect"]))
            if len(samples) == 5:
                self.wine.screenshot("progress-window")
            if "closed" in out.read_text(errors="replace"):
                break
            time.sleep(0.03)
        return samples, grabs

    def test_progress_window_and_extracted_files(self):
        updater = self.build()
        data = updater.read_bytes()
        entries = bench.read_archive(data)
        archive_size = len(data) - 4 - entries[0]["offset"]
        target = self.wine.drive_c / "ゲーム"
        target.mkdir()

        updater_path = self.wine.install_program(updater, "update.exe")
        program = self.wine.start(bench.config.build / "tests" / "e2e" / "copypass.exe",
                                  args=[updater_path, self.DESTINATION, str(self.PAUSE_MS),
                                        str(self.LINGER_MS)])
        window = self.wine.wait_window(pid=program.pid, title="ファイルのコピー中...", timeout=20)
        self.assertIsNotNone(window, "no copy progress window")
        samples, grabs = self.watch(program, window)
        (self.wine.artifacts / "samples.json").write_text(
            json.dumps(samples, ensure_ascii=False, indent=1))
        self.assertGreater(len(samples), 10, "too few looks at the window")

        # The window is gone while the process still runs.
        self.wine.screenshot("after-copy")
        still = [w for w in self.wine.windows(pid=program.pid) if w["visible"]]
        self.assertEqual(still, [], "the progress window outlives the copy")
        self.assertIsNone(program.wait_exit(0.1), "the program ended before its linger time")
        self.assertEqual(program.wait_exit(20), 0)
        self.assertIn("done", (self.wine.bench_dir / "program.out").read_text())

        with self.subTest("overall bar"):
            ranges = {s[TOTAL_BAR]["progress"]["high"] for s in samples}
            self.assertEqual(ranges, {max(1, archive_size // BLOCK)})
            positions = [s[TOTAL_BAR]["progress"]["pos"] for s in samples]
            self.assertEqual(positions, sorted(positions), "the overall bar went back")
            self.assertEqual(positions[-1], (archive_size - 4) // BLOCK)

        with self.subTest("file names in turn"):
            expected = [self.DESTINATION + "\\" + e["name"].decode("cp932")
                        for e in entries if not e["folder"]]
            shown = []
            for s in samples:
                text = s[FILE_NAME]["text"]
                if text and (not shown or shown[-1] != text):
                    shown.append(text)
            self.assertEqual(shown, expected)

        with self.subTest("file bar"):
            big = self.DESTINATION + "\\big.bin"
            during = [s[FILE_BAR]["progress"] for s in samples if s[FILE_NAME]["text"] == big]
            self.assertEqual({p["high"] for p in during}, {BIG_FILE_SIZE // BLOCK})
            steps = [p["pos"] for p in during]
            self.assertEqual(steps, sorted(steps), "the file bar went back")
            self.assertGreaterEqual(len(set(steps)), 6, "the file bar did not step: %s" % steps)
            self.assertEqual(steps[-1], BIG_FILE_SIZE // BLOCK)
            small = [s[FILE_BAR]["progress"]["high"] for s in samples
                     if s[FILE_NAME]["text"] == self.DESTINATION + "\\readme.txt"]
            self.assertEqual(set(small), {0}, "a file under 128 KiB has the range 0..0")

        with self.subTest("cancel and animation"):
            self.assertFalse(any(s[IDCANCEL]["enabled"] for s in samples), "Cancel enabled")
            self.assertEqual(len(grabs), 2)
            self.assertNotEqual(grabs[0], grabs[1], "the animation does not play")

        with self.subTest("extracted files"):
            for relative, (content, stamp) in self.files.items():
                path = target / relative
                self.assertEqual(path.read_bytes(), content, relative)
                self.assertEqual(bench.filetime(path.stat().st_mtime_ns),
                                 bench.filetime(stamp), "stored time of %s" % relative)
            left = sorted(p.name for p in target.rglob("*") if p.is_file() and
                          p.relative_to(target).as_posix() not in self.files)
            self.assertEqual(left, [], "files not in the payload")


class QuitDuringCopyTest(PayloadTest):
    """A quit message taken by the pump in the middle of a file ends the
    process with its code; the file being written is not left half-done."""

    def test_quit_mid_file_keeps_the_old_file_and_leaves_no_temporary(self):
        updater = self.build()
        target = self.wine.drive_c / "ゲーム"
        target.mkdir()
        old = b"the old game file\r\n" * 100
        (target / "big.bin").write_bytes(old)

        updater_path = self.wine.install_program(updater, "update.exe")
        program = self.wine.start(bench.config.build / "tests" / "e2e" / "copypass.exe",
                                  args=[updater_path, CopyPassTest.DESTINATION, "300", "0"])
        window = self.wine.wait_window(pid=program.pid, title="ファイルのコピー中...", timeout=20)
        self.assertIsNotNone(window, "no copy progress window")
        deadline = time.time() + 30
        while time.time() < deadline:
            answer = self.wine.call("controls", hwnd=window["hwnd"])
            controls = {c["id"]: c for c in answer.get("controls", [])}
            name = controls.get(FILE_NAME, {}).get("text", "")
            if name.endswith("\\big.bin") and controls[FILE_BAR]["progress"]["pos"] >= 1:
                break
            time.sleep(0.05)
        else:
            self.fail("the copy never got into big.bin")
        self.wine.screenshot("before-quit")
        self.wine.expect("postquit", tid=program.tid, code=7)

        self.assertEqual(program.wait_exit(15), 7)
        self.assertEqual((target / "big.bin").read_bytes(), old, "the old file was damaged")
        leftovers = [p.name for p in target.iterdir() if p.name.endswith(".tmp")]
        self.assertEqual(leftovers, [], "a temporary file was left in the game folder")
