"""The single-instance guard under Wine, a mutex named after the configured title."""
import bench
from bench import ID, IDOK, TEXT

QUIT_BUTTON = ID["IDC_MAIN_SLOT0"]
# The bar becomes a space; 表 ends in 0x5C and stays whole. A backslash would
# make the mutex name a namespace path: it takes the full-width one.
TITLEBAR, CAPTION = "C:\\Game|表", "C:\\Game 表"
WINDOW_TITLE = TEXT["kTextUpdaterSuffix"] % CAPTION
MUTEX = TEXT["kTextUpdaterSuffix"] % ("C:" + TEXT["kTextFullWidthBackslash"] + "Game 表")
SETTINGS = "TITLEBAR\t%s\r\n[EOF]\r\n[delfiles]\r\n-\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n-\r\n" % TITLEBAR
ENTRIES = [("install.env", SETTINGS.encode("cp932"), 0), ("insttscr.rct", b"RCT placeholder", 0),
           ("readme.txt", b"readme\r\n", 0), ("game.dat", b"\x00" * 5000, 0)]


class SingleInstanceTest(bench.BenchTest):
    def work_folder_files(self):
        return [sorted(p.name for p in f.iterdir()) for f in bench.work_folders(self.wine.temp_dir)]

    def test_the_mutex_named_after_the_title_refuses_a_second_start(self):
        path = self.wine.install(bench.write_updater(self.wine.dir / "vnupdate.exe", ENTRIES))
        first = self.wine.start(path)
        window = self.window_of(first, title=WINDOW_TITLE)
        self.assertTrue(self.wine.expect("hold", name=MUTEX)["existed"], "not named " + MUTEX)
        first_folder = bench.work_folders(self.wine.temp_dir)
        self.assertEqual(len(first_folder), 1)
        before = self.work_folder_files()

        # A second start unpacks into a work folder of its own, refuses, and
        # removes that folder and only that.
        second = self.wine.start(path)
        box, controls = self.wine.message_box(second.pid)
        self.check_box(box, controls, TEXT["kTextAlreadyRunning"] % WINDOW_TITLE, [IDOK], "error",
                       title=CAPTION, owner=0)
        self.assertEqual(self.work_folder_files(), before * 2)
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), first_folder)
        self.assertEqual(self.work_folder_files(), before)
        self.window_of(first, "the first instance's window is gone", title=WINDOW_TITLE, timeout=2)
        self.wine.click(window["hwnd"], QUIT_BUTTON)
        self.assertEqual(first.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [])
