"""The update procedure of real updaters under Wine, from the アップデート button
to the end dialog, and the failures that must leave the game as it was."""
import configparser
import hashlib
import os
import random
import re
import shutil
import sys
import time
from pathlib import Path

import bench
from bench import CAPTION, EXIT_FAILURE, ID, IDCANCEL, IDNO, IDOK, IDRETRY, IDYES, PICTURE, TEXT, payload

sys.path.insert(0, str(bench.REPO / "scripts"))
import try_updater  # noqa: E402  a player who agrees to everything

NAME = "更新 試験"
TITLE = TEXT["kTextUpdaterSuffix"] % NAME
CANCELLED, NOT_INSTALLED = TEXT["kTextUpdateCancelled"], TEXT["kTextNotInstalled"]
ASK_MANUAL, DAMAGED = TEXT["kTextAskManualTarget"] % NAME, TEXT["kTextPayloadDamaged"]
CONFIRM = TEXT["kTextConfirmTarget"]
MACHINE_KEY, USER_KEY = r"HKLM\Software\TestSoft\星降る", r"HKCU\Software\TestSoft\星降る"
INSTALLED, DEFAULT = "C:\\ゲーム\\星降る夜", "C:\\Program Files\\TestSoft\\星降る"
# Zero-filled files: the archive stays small, but writing eight of them keeps
# the copy going for seconds (3 to 7 s here), time to act while it runs.
BIG, BIG_FILES = 32 << 20, 8
# Last-write times with a 100 ns part, so that a time cut to seconds shows.
BASE_TIME_NS = 1_300_000_000_123_456_700
SETTINGS = {"REG_GLOBAL": "TestSoft", "REG_LOCAL": "星降る", "INSTFOL": "TestSoft",
            "INSTTO": "星降る", "KEYFILE": "game.exe", "TITLEBAR": "更新|試験",
            "INI_FILE": "hoshi.ini", "INI_SECTION": "Setup", "INSTREADME": "-"}
# A dword line the registry pass skips; a deletion that would leave the folder;
# a folder's files.
SECTIONS = ('[ini]\r\nPath=REP_INSTALL\r\nCD=REP_CDROMDRIVE\r\n-\r\n'
            '[reg]\r\n"InstallDir"="REP_INSTALL"\r\n"CDROM"="REP_CDROM"\r\n'
            '"Quoted"="a\\\\b \\"c\\""\r\n"Count"=dword:00000001\r\n-\r\n'
            '[delfiles_afterinst]\r\ninstall.env\r\ninsttscr.rct\r\n..\\beside.txt\r\nsave\\*.*\r\n-\r\n')
DELETED = ("install.env", "insttscr.rct")
OLD_FILES = {"game.exe": b"old game\r\n", "data/表示.dat": b"old data", "save.dat": b"a save"}
OLD_INI = "[その他]\r\nKeep=表示\r\n[Setup]\r\nOld=old\r\n"  # 表: a 0x5C second byte


def entries(files):
    """Archive entries in the dict's order, each folder before its first file."""
    out = {}  # a folder's place is its first
    for name, (data, stamp) in files.items():
        parts = name.split("/")
        out.update(("\\".join(parts[:depth]) + "\\", (None, 0)) for depth in range(1, len(parts)))
        out[name.replace("/", "\\")] = data, payload.filetime(stamp)
    return [(name, *entry) for name, entry in out.items()]


def digest(data):  # keeps a failure's diff readable with big files in it
    return data if data is None or len(data) < 256 else hashlib.sha256(data).hexdigest()[:16]


def parse_ini(data):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read_string(data.decode("cp932"))
    return {section: dict(parser[section]) for section in parser.sections()}


class UpdateTest(bench.BenchTest):
    # Planted beside the updater under the names of DLLs that the shell, the
    # common controls and COM load on demand (and winmm, which the first
    # updaters imported), preferred to the system's as Windows searches.
    PLANTED = ["winmm", "version", "uxtheme", "dwmapi", "cryptbase", "userenv", "propsys", "profapi"]
    dll_overrides = ",".join(PLANTED) + "=n,b"

    @staticmethod
    def prepare_prefix(prefix):  # drive Q: a CD-ROM, which Wine reads only as it starts
        (prefix / "drive_c" / "cd").mkdir()
        (prefix / "dosdevices" / "q:").symlink_to(prefix / "drive_c" / "cd")
        with open(prefix / "system.reg", "a") as registry:
            registry.write('\n[Software\\\\Wine\\\\Drives]\n"q:"="cdrom"\n')

    def path(self, windows_path):
        return self.wine.drive_c.joinpath(*windows_path.split("\\")[1:])

    def user_values(self):
        """The game's HKCU values, string values unescaped; {} without the key."""
        export = self.wine.bench_dir / "user.reg"
        export.unlink(missing_ok=True)
        if bench.run_quiet(["wine", "reg", "export", USER_KEY, self.wine.to_windows(export), "/y"],
                           self.wine.env, self.wine.dir / "reg.log"):
            return {}
        unescape = lambda text: re.sub(r"\\(.)", r"\1", text)
        return {unescape(name): unescape(data[1:-1]) if data.startswith('"') else data
                for name, data in re.findall(r'^"((?:[^"\\]|\\.)*)"=(.*?)\r?$',
                                             export.read_text(encoding="utf-16"), re.M)}

    def state(self):  # the game folder's files and folders, the INI file, the HKCU values
        folder = {p.relative_to(self.target).as_posix(): digest(None if p.is_dir() else p.read_bytes())
                  for p in sorted(self.target.rglob("*"))}
        return folder, self.ini.read_bytes(), self.user_values()

    def staged(self, prefix):
        return list(self.target.rglob(prefix + "*.tmp"))

    def viewer_started(self):  # running now or has run, asked in this order
        return (bench.running(self.wine.prefix, "echoargs") or
                (self.wine.bench_dir / "echoargs.out").exists())

    def start(self, folder=INSTALLED, registry=True, old=OLD_FILES, user=(("Keep", "1"),),
              big=False, sign=None, extra=(), **settings):
        """The game as its installer left it (old None: an old copy of every
        payload file), then the updater with SETTINGS and settings started.
        Payload files and their times in self.files."""
        self.folder, self.target, self.settings = folder, self.path(folder), {**SETTINGS, **settings}
        env = "".join("%s\t%s\r\n" % (key, value.replace(" ", "|"))
                      for key, value in self.settings.items()) + "[EOF]\r\n" + SECTIONS
        files = {"install.env": env.encode("cp932"), "insttscr.rct": PICTURE.read_bytes(),
                 "readme.txt": "お読みください\r\n".encode("cp932"),
                 # Data's files after its subfolder, a new one first: from
                 # that one's creation to the commit, data is entered no more.
                 "data/new/empty.bin": b"", "data/追加.dat": b"added",
                 "data/表示.dat": b"\x95\x5c" * 1000, **dict(extra),
                 **dict.fromkeys(["big%d.bin" % n for n in range(BIG_FILES if big else 0)], bytes(BIG)),
                 "game.exe": b"new game\r\n" * 100}
        self.files = {name: (data, BASE_TIME_NS + n * 86_400_000_001_100)
                      for n, (name, data) in enumerate(files.items())}

        self.old = old if old is not None else {name: b"old " + name.encode() for name in files}
        self.lay_out()
        (self.target.parent / "beside.txt").write_bytes(b"beside the game")
        if registry:
            for name, data in (("IsInst", "1"), ("InstTo", folder)):
                self.wine.reg("add", MACHINE_KEY, "/v", name, "/d", data, "/f", "/reg:32")
        for name, data in user:
            self.wine.reg("add", USER_KEY, "/v", name, "/d", data, "/f")
        self.ini = self.wine.drive_c / "windows" / "hoshi.ini"
        if not self.ini.exists():
            self.ini.write_bytes(OLD_INI.encode("cp932"))
        updater = bench.write_updater(self.wine.dir / "update.exe", entries(self.files),
                                      padded=sign is not None)
        self.updater = sign(updater) if sign else updater
        self.launch()
        self.before = self.state()

    def lay_out(self):
        shutil.rmtree(self.target, ignore_errors=True)
        self.target.mkdir(parents=True)
        bench.write_tree(self.target, self.old)

    def launch(self):
        self.work_before = bench.work_folders(self.wine.temp_dir)
        self.program = self.wine.start(self.updater)
        self.window = self.window_of(self.program, title=TITLE)
        controls = self.wine.controls(self.window["hwnd"])
        self.update_button = next(i for i, c in controls.items() if c["text"] == TEXT["kTextUpdate"])

    def update(self, *steps, gone=True):  # アップデート, then walk(*steps)
        self.wine.click(self.window["hwnd"], self.update_button)
        self.walk(*steps, gone=gone)

    def next_window(self):
        """The updater's next window but its start-up and progress windows (one
        on its way out reads hidden, or without a title)."""
        window = self.wine.wait_window(60, lambda w: w["visible"] and w["hwnd"] != self.window["hwnd"]
                                       and w["title"] not in ("", TEXT["kTextCopyCaption"]),
                                       pid=self.program.pid)
        self.assertIsNotNone(window, "no window; the updater's exit: %s" % self.program.wait_exit(0))
        return window

    def press(self, window, control_id, gone=True):
        self.wine.click(window["hwnd"], control_id)
        if gone:
            bench.wait_for(lambda: self.wine.controls(window["hwnd"]) is None, 30, "window stayed")

    def walk(self, *steps, gone=True):
        """Answers the next message boxes: steps of (text, button). gone=False
        does not wait for the last box to go: while an open gate may hold the
        updater, the driver must not ask its windows anything."""
        for text, button in steps:
            question = button in (IDYES, IDNO)
            buttons = [IDYES, IDNO] if question else [IDOK] if button == IDOK else [IDRETRY, IDCANCEL]
            box, _ = self.check_box(self.program, text, buttons, "question" if question else "error",
                                    TITLE, self.window["hwnd"], self.next_window())
            self.press(box, button, gone or (text, button) != steps[-1])

    def type_folder(self, text):
        """アップデート, the questions of a game not found, then text into the
        folder prompt, which shows the default folder."""
        self.update((NOT_INSTALLED, IDOK), (ASK_MANUAL, IDYES))
        prompt = self.next_window()
        self.assertEqual((prompt["title"], prompt["owner"]), (CAPTION["SETUP"], self.window["hwnd"]))
        self.assertEqual(self.wine.controls(prompt["hwnd"])[ID["IDC_SETUP_FOLDER"]]["text"], DEFAULT)
        self.wine.expect("settext", hwnd=prompt["hwnd"], id=ID["IDC_SETUP_FOLDER"], text=text)
        self.press(prompt, IDOK)

    def hold_while_staging(self):
        """Suspends the updater under its progress window with some files
        staged and none committed (a commit makes backups of the old ones)."""
        self.window_of(self.program, "no progress window", title=TEXT["kTextCopyCaption"])
        bench.wait_for(lambda: self.staged("~vn"), 60, "nothing staged")
        self.wine.expect("suspend", tid=self.program.tid)
        staged, backups = len(self.staged("~vn")), self.staged("~vb")
        self.assertTrue(0 < staged < len(self.files) and not backups,
                        "not staging: %d staged, backups %s" % (staged, backups))

    def finish(self, how=IDOK, tick=False):
        """Closes the end dialog by how (IDOK, "escape" or "close"), the readme
        box ticked first when told; the updater ends with 0 and no work folder."""
        end = self.next_window()
        self.assertEqual((end["title"], end["owner"]), (CAPTION["ENDINSTALL"], self.window["hwnd"]))
        controls, caption = self.wine.controls(end["hwnd"]), self.settings["INSTREADME"]
        box = controls.get(ID["IDC_END_README"], {})
        self.assertEqual((box.get("text"), box.get("checked")),
                         (None, None) if caption.startswith("-") else (caption, 0), "readme box")
        if tick:
            self.wine.click(end["hwnd"], ID["IDC_END_README"])
        self.wine.answer(end["hwnd"], how)
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.new_work_folders(), set(), "work folder")

    def new_work_folders(self):  # those of killed runs before went at the run's start
        return set(bench.work_folders(self.wine.temp_dir)) - set(self.work_before)

    def assert_updated(self):
        """The payload in place with its stored times, less the files deleted
        after it; the INI entries and HKCU values written beside the old ones."""
        folder, ini, user = self.state()
        expected = dict(self.before[0])
        for name, (data, stamp) in self.files.items():
            parts = name.split("/")
            expected.update(("/".join(parts[:depth]), None) for depth in range(1, len(parts)))
            expected[name] = digest(data)
            if name not in DELETED:
                self.assertEqual(payload.filetime((self.target / name).stat().st_mtime_ns),
                                 payload.filetime(stamp), "time of %s" % name)
        for name in DELETED:
            del expected[name]
        self.assertEqual(folder, expected)
        expected_ini = parse_ini(self.before[1])
        expected_ini["Setup"].update(Path=self.folder, CD="Q:\\")  # Q: is the CD-ROM
        self.assertEqual(parse_ini(ini), expected_ini)
        self.assertEqual(user, {**self.before[2], "InstallDir": self.folder, "CDROM": "Q:\\",
                                "Quoted": 'a\\b "c"'})
        self.assertTrue((self.target.parent / "beside.txt").exists(), "deleted outside the folder")

    def update_to_the_end(self, folder=INSTALLED, how=IDOK, tick=False, prompted=False):
        """アップデート (not when the folder was typed into the prompt) to the end."""
        (self.walk if prompted else self.update)((CONFIRM % folder, IDYES))
        self.finish(how, tick)
        self.assert_updated()

    def sign(self, updater):  # as a maker signs the built updater
        key, certificate = self.wine.dir / "key.pem", self.wine.dir / "cert.pem"
        signed, log = updater.with_name("signed.exe"), self.wine.dir / "sign.log"
        for command in (["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                         "-subj", "/CN=vnupdate test maker", "-keyout", key, "-out", certificate],
                        ["osslsigncode", "sign", "-certs", certificate, "-key", key, "-in", updater,
                         "-out", signed]):
            self.assertEqual(bench.run_quiet(command, os.environ, log), 0, log)
        for command in ("list", "test"):
            self.assertEqual(bench.vnpack(command, signed).returncode, 0, command)
        return signed

    def test_signed_found_through_the_registry_updated_busy_loads_no_planted_dll(self):
        for name in self.PLANTED:
            self.wine.install(bench.PROGRAMS / "planted.dll", name + ".dll")
        self.wine.register_viewer()
        self.start(big=True, INSTREADME="お読みください", sign=self.sign)
        # The running updater moved away and another put at its path: the
        # copy installs what the updater started with all the same.
        running = self.wine.bench_dir / self.updater.name
        running.rename(running.with_name("moved.exe"))
        bench.write_updater(running, entries({"game.exe": (b"another game", BASE_TIME_NS)}))
        self.update((CONFIRM % INSTALLED, IDYES))
        # Held still in the copy: the click and the close box posted now
        # arrive while it runs, and do nothing.
        self.hold_while_staging()
        self.wine.click(self.window["hwnd"], self.update_button)
        self.wine.expect("close", hwnd=self.window["hwnd"])
        self.wine.expect("resume", tid=self.program.tid)
        self.finish(tick=True)
        self.assert_updated()
        command, folder = self.wine.echoed()
        self.assertEqual(folder, INSTALLED, "current folder of the viewer")
        self.assertTrue(command.endswith('"%s\\readme.txt"' % INSTALLED), command)
        self.assertEqual(sorted(p.name for p in self.wine.bench_dir.glob("*.loaded")), [])

    def test_an_update_made_by_diff_renames_in_letter_case_and_loses_no_file(self):
        versions = {"v1": {"game.exe": b"1", "Data/Case/File.TXT": b"f", "Keep.txt": b"k"},
                    "v2": {"game.exe": b"1", "data/case/file.txt": b"f", "keep.txt": b"k2"}}
        for version, files in versions.items():
            bench.write_tree(self.wine.dir / version, files)
        template = self.wine.dir / "template"
        bench.write_tree(template, {"insttscr.rct": PICTURE.read_bytes(), "install.env": "".join(
            "%s\t%s\r\n" % (key, SETTINGS[key]) for key in
            ("REG_GLOBAL", "REG_LOCAL", "KEYFILE", "TITLEBAR", "INSTREADME")).encode("cp932")})
        update = self.wine.dir / "update"
        done = bench.vnpack("diff", self.wine.dir / "v1", self.wine.dir / "v2", "-o", update,
                            "--env", template / "install.env")
        self.assertEqual(done.returncode, 0, done.stderr)
        updater = bench.build_updater(update, self.wine.dir / "case.exe")
        registry = [MACHINE_KEY + "\\IsInst=1", MACHINE_KEY + "\\InstTo=" + INSTALLED]
        self.assertEqual(try_updater.try_updater(self.wine, updater, self.wine.dir / "v1", INSTALLED,
                                                 registry, say=lambda text: None)[0], 0)
        target = self.path(INSTALLED)
        self.assertEqual(sorted((p.relative_to(target).as_posix().lower(), p.read_bytes())
                                for p in target.rglob("*") if p.is_file()),
                         [("data/case/file.txt", b"f"), ("game.exe", b"1"), ("keep.txt", b"k2")])

    def test_a_typed_folder_is_checked_and_each_refusal_leaves_the_window_open(self):
        typed = "C:\\ゲーム\\手動"
        self.wine.register_viewer()
        # The game's HKCU key made by the update.
        self.start(typed, registry=False, user=(), INSTREADME="お読みください")
        self.update((NOT_INSTALLED, IDOK), (ASK_MANUAL, IDNO), (CANCELLED, IDOK))
        for text, refusal in (
                ("C:\\", (TEXT["kTextRootFolder"], IDRETRY)),
                ("\\\\server\\share", (TEXT["kTextNetworkFolder"], IDOK)),
                ("C:\\ゲーム", (TEXT["kTextGameNotInFolder"] % NAME, IDOK))):
            with self.subTest(typed=text):
                self.type_folder(text)
                self.walk(refusal, (CANCELLED, IDOK))
        # Cancel at a root folder ends the run and keeps its work folder.
        self.type_folder("C:\\")
        self.walk((TEXT["kTextRootFolder"], IDCANCEL))
        self.assertEqual(self.program.wait_exit(), EXIT_FAILURE)
        self.assertEqual(len(self.new_work_folders()), 1)
        self.launch()
        self.type_folder("C:/ゲーム/手動/")  # made "C:\ゲーム\手動"
        # The readme box ticked, so that Escape taken for OK would show.
        self.update_to_the_end(typed, how="escape", tick=True, prompted=True)
        self.assertFalse(self.viewer_started(), "the readme was opened")

    def test_found_through_the_key_file_in_the_default_folder_and_the_version_gate(self):
        self.wine.register_viewer()
        self.start(DEFAULT, registry=False, CHKREG="Version", CHKREGVER="100", CHKREGVERHIGH="101",
                   INSTREADME="お読みください")
        for version, refusal in (("99", TEXT["kTextVersionTooOld"]),
                                 ("102", TEXT["kTextAlreadyUpdated"])):
            with self.subTest(version=version):
                self.wine.reg("add", USER_KEY, "/v", "Version", "/d", version, "/f")
                self.update((refusal, IDOK), (CANCELLED, IDOK))
                self.assertEqual(self.state()[:2], self.before[:2])
        self.wine.reg("add", USER_KEY, "/v", "Version", "/d", "101", "/f")
        self.before = self.state()
        self.update_to_the_end(DEFAULT, how="close", tick=True)  # no readme either
        self.assertFalse(self.viewer_started(), "the readme was opened")

    def test_a_failed_copy_leaves_folder_ini_and_registry_as_they_were(self):
        elsewhere = self.wine.drive_c / "elsewhere"
        bench.write_tree(elsewhere, {"表示.dat": b"someone else's"})

        def link_data():  # Wine shows a link as a reparse point
            shutil.rmtree(self.target / "data")
            os.symlink(elsewhere, self.target / "data")

        def grow_updater():
            with open(self.wine.bench_dir / "update.exe", "ab") as updater:
                updater.write(bytes(1000))
        # The copy locates and checks its payload again before it stages.
        changes = {"a read-only game file": lambda: (self.target / "game.exe").chmod(0o444),
                   "a folder of the game linked elsewhere": link_data,
                   "the updater changed after start-up": grow_updater,
                   "a game file held open (last: held until the test ends)": lambda: self.wine.expect(
                       "hold", path=INSTALLED + "\\data\\表示.dat")}
        for case, setup in (("quit while staging", dict(old=None, big=True)),
                            *((case, {}) for case in changes)):
            with self.subTest(case):
                self.start(**setup)
                if case in changes:
                    changes[case]()
                    self.before = self.state()
                self.update((CONFIRM % INSTALLED, IDYES))
                if case.startswith("quit"):
                    self.hold_while_staging()
                    self.wine.expect("post", tid=self.program.tid, msg=bench.WM_QUIT, wparam=7)
                    self.wine.expect("resume", tid=self.program.tid)
                    self.assertEqual(self.program.wait_exit(), 7)
                else:
                    self.walk((DAMAGED, IDOK))
                    self.assertEqual(self.program.wait_exit(), EXIT_FAILURE)
                    self.assertEqual(self.new_work_folders(), set(), "work folder")
                self.assertEqual(self.state(), self.before)
                (self.target / "game.exe").chmod(0o644)
        self.assertEqual([(p.name, p.read_bytes()) for p in elsewhere.iterdir()],
                         [("表示.dat", b"someone else's")], "written through the link")

    def test_a_folder_swapped_for_a_link_while_the_update_works_in_it_leads_nowhere(self):
        """data while the copy writes in it, save while the deletion after it
        empties it (each at its first open of a file there), the game folder
        before the update: renamed, and a link to a folder outside put in its
        place. Nothing outside is touched."""
        outside = self.wine.drive_c / "outside"
        saves = {"save/%03d.sav" % n: b"a save" for n in range(30)}
        names = ["game.exe", "表示.dat", "追加.dat", *(Path(name).name for name in saves)]
        for folder, refusal in (("data", DAMAGED), ("save", None), ("", CANCELLED)):
            with self.subTest(folder=folder or "the game folder"):
                shutil.rmtree(outside, ignore_errors=True)
                bench.write_tree(outside, dict.fromkeys(names, b"outside"))
                self.start(old={**OLD_FILES, **saves})
                swapped = self.target / folder

                def swap():
                    swapped.rename(swapped.with_name(swapped.name + "~"))
                    swapped.symlink_to(outside)
                if folder:
                    with bench.open_gate(swapped) as wait:
                        self.update((CONFIRM % INSTALLED, IDYES), gone=False)
                        wait()
                        swap()
                else:
                    swap()
                    self.update((CONFIRM % INSTALLED, IDYES))
                if refusal:
                    self.walk((refusal, IDOK))
                    # Cancelled, the window stays for another try.
                    self.assertEqual(self.program.wait_exit(15 if folder else 0),
                                     EXIT_FAILURE if folder else None)
                else:
                    self.finish()
                self.assertEqual({p.name: p.read_bytes() for p in outside.iterdir()},
                                 dict.fromkeys(names, b"outside"))

    def test_killed_at_random_moments_and_run_again_and_a_thousand_files_in_one_folder(self):
        """Killed at a random moment after the confirmation, then run to the
        end, twenty times: the new version in place and nothing left of the
        runs. One folder takes a thousand replaced files."""
        for folders, count, kills in ((6, 60, 20), (1, 1000, 0)):
            files = {"d%d/%04d.dat" % (n % folders, n): b"%d" % n * 50 for n in range(count)}
            self.start(old=None, extra=files)
            began = time.monotonic()
            self.update_to_the_end()
            lasted = time.monotonic() - began  # the moments to choose from
            for kill in range(kills):
                after = random.uniform(0, lasted)
                with self.subTest(files=count, kill=kill, after="%.2f s" % after):
                    self.lay_out()
                    self.launch()
                    self.update((CONFIRM % INSTALLED, IDYES))
                    time.sleep(after)
                    self.program.kill()
                    self.launch()
                    self.update_to_the_end()
