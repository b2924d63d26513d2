"""The single-instance guard under Wine, named after the configured title.
(The other refusals at start-up are test_payload.py's.)"""
import bench
from bench import ID, IDOK, TEXT, TEXT_ID

QUIT_BUTTON, ALREADY_RUNNING = ID["IDC_MAIN_SLOT0"], TEXT["kTextAlreadyRunning"]
# 表 ends in 0x5C and the bar becomes a space: the mutex name must keep 表 whole.
TITLEBAR, WINDOW_TITLE = "テスト|表示", TEXT["kTextUpdaterSuffix"] % "テスト 表示"
# A backslash in a mutex name would make it a namespace path that cannot be
# created, and every start would end silently: the name takes the full-width
# backslash, the title keeps the real one.
BACKSLASH = ("C:\\Game|表", "C:\\Game 表", TEXT["kTextUpdaterSuffix"] % "C:\\Game 表",
             TEXT["kTextUpdaterSuffix"] % ("C:" + TEXT["kTextFullWidthBackslash"] + "Game 表"))
SECTIONS = "[delfiles]\r\n-\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n-\t\t// end\r\n"


def setup_entries(titlebar=TITLEBAR):
    settings = ("// test settings\r\nTITLEBAR\t%s\r\n[EOF]\r\n%s" % (titlebar, SECTIONS)).encode("cp932")
    return [("install.env", settings, 0), ("insttscr.rct", b"RCT placeholder", 0),
            ("readme.txt", b"readme\r\n", 0), ("game.dat", b"\x00" * 5000, 0)]


class SingleInstanceTest(bench.BenchTest):
    def updater(self, **settings):
        return bench.write_updater(self.wine.dir / "vnupdate.exe", setup_entries(**settings))

    def work_folder_files(self):
        return [sorted(p.name for p in f.iterdir()) for f in bench.work_folders(self.wine.temp_dir)]

    def startup_window(self, program, title=WINDOW_TITLE):
        window = self.wine.wait_window(pid=program.pid, title=title)
        if window is None:
            box, controls = self.wine.message_box(program.pid, timeout=1)
            self.fail("no start-up window titled %r; box: %r"
                      % (title, controls.get(TEXT_ID, {}).get("text")))
        return window

    def test_the_mutex_named_after_the_title_refuses_a_second_start(self):
        # Held mutexes of other names let the updater start.
        for other in (TEXT["kTextUpdaterSuffix"] % "テスト", "テスト 表示",
                      TEXT["kTextUpdaterSuffix"] % ("テスト" + TEXT["kTextFullWidthBackslash"] + "表示")):
            self.wine.expect("mutex", name=other)
        program = self.wine.start(self.updater())
        self.wine.click(self.startup_window(program)["hwnd"], QUIT_BUTTON)
        self.assertEqual(program.wait_exit(), 0)

        # A running updater refuses a second one, which removes its own work
        # folder and only that.
        titlebar, title, window_title, mutex = BACKSLASH
        path = self.wine.install(self.updater(titlebar=titlebar))
        first = self.wine.start(path)
        window = self.startup_window(first, window_title)
        self.assertTrue(self.wine.expect("mutex", name=mutex)["existed"], "not named " + mutex)
        first_folder = bench.work_folders(self.wine.temp_dir)
        self.assertEqual(len(first_folder), 1)
        before = self.work_folder_files()

        # The one of its title refuses a second start, after it unpacked its
        # setup files into a work folder of its own.
        second = self.wine.start(path)
        box, controls = self.wine.message_box(second.pid)
        self.wine.screenshot("second-instance")
        self.check_box(box, controls, ALREADY_RUNNING % window_title, [IDOK], "error",
                       title=title, owner=0)
        self.assertEqual(self.work_folder_files(), before * 2,
                         "the second instance unpacks into a work folder of its own")
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), first_folder,
                         "the second instance must remove its own work folder, and only that")
        self.assertEqual(self.work_folder_files(), before)
        self.assertIsNotNone(self.wine.wait_window(pid=first.pid, title=window_title, timeout=2),
                             "the first instance's window is gone")
        self.wine.screenshot("first-undisturbed")
        self.wine.click(window["hwnd"], QUIT_BUTTON)
        self.assertEqual(first.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [])
