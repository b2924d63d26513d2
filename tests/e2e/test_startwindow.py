"""The start-up window under Wine: its place, title picture, buttons and keys,
the readme, a picture that is damaged or missing, and the single-instance
guard, a mutex named after the configured title."""
import subprocess

import bench
from bench import EXIT_FAILURE, ID, IDCANCEL, IDOK, IDRETRY, PICTURE, TEXT, TEXT_ID, VK_ESCAPE, VK_RETURN

# The button column counts from the lowest slot up: 終了, then the readme, then アップデート.
SLOT = [ID["IDC_MAIN_SLOT%d" % n] for n in range(3)]
TITLE = TEXT["kTextUpdaterSuffix"] % "窓 試験"
# The bar becomes a space; 表 ends in 0x5C and stays whole. A backslash would
# make the mutex name a namespace path: it takes the full-width one.
TITLEBAR, CAPTION = "C:\\Game|表", "C:\\Game 表"
WINDOW_TITLE = TEXT["kTextUpdaterSuffix"] % CAPTION
MUTEX = TEXT["kTextUpdaterSuffix"] % ("C:" + TEXT["kTextFullWidthBackslash"] + "Game 表")
SETTINGS = "TITLEBAR\t%s\r\n[EOF]\r\n[delfiles]\r\n-\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n-\r\n" % TITLEBAR
ENTRIES = [("install.env", SETTINGS.encode("cp932"), 0), ("insttscr.rct", b"RCT placeholder", 0),
           ("readme.txt", b"readme\r\n", 0), ("game.dat", b"\x00" * 5000, 0)]


def entries(readme="-", readme_file=None, picture=None, files=()):
    settings = "TITLEBAR\t窓|試験\r\nINSTREADME\t%s\r\n" % readme.replace(" ", "|")
    if readme_file:
        settings += "INSTREADMEFL\t%s\r\n" % readme_file.replace(" ", "|")
    out = [("install.env", (settings + "[EOF]\r\n").encode("cp932"), 0)]
    if picture is not None:
        out.append(("insttscr.rct", picture, 0))
    return out + [(name, b"readme\r\n", 0) for name in files]


class StartWindowTest(bench.BenchTest):
    def open(self, payload):
        self.program = self.wine.start(bench.write_updater(self.wine.dir / "u.exe", payload))
        return self.window_of(self.program, title=TITLE)

    def work_folder_files(self):
        return [sorted(p.name for p in f.iterdir()) for f in bench.work_folders(self.wine.temp_dir)]

    def buttons(self, window):
        controls = self.wine.controls(window["hwnd"])
        return {i: c["text"] for i, c in controls.items() if c["class"] == "Button"}

    def assert_picture_drawn(self, window):
        """Every pixel of the picture that no control covers, on screen as decoded."""
        answer = self.wine.expect("controls", hwnd=window["hwnd"])
        client = answer["client"]
        # Both coordinates from the client height, as the window places it.
        offset = (client["bottom"] - client["top"] - 256) // 2
        left, top = client["left"] + offset, client["top"] + offset
        # With the bench's fonts a button may overlap the picture.
        rects = [c["rect"] for c in answer["controls"] if c["visible"]]
        png = self.wine.dir / "picture.png"  # decoded by the updater's own decoder
        self.assertEqual(bench.vnpack("png", PICTURE, png).returncode, 0, "vnpack png")
        expected = subprocess.run(["convert", str(png), "-depth", "8", "rgb:-"], capture_output=True,
                                  check=True).stdout
        shown_pixels = [y * 256 + x for y in range(256) for x in range(256) if not any(
            r["left"] <= left + x < r["right"] and r["top"] <= top + y < r["bottom"] for r in rects)]

        def shown():
            grabbed = self.wine.grab(dict(left=left, top=top, right=left + 256, bottom=top + 256))
            return all(grabbed[3 * i:3 * i + 3] == expected[3 * i:3 * i + 3] for i in shown_pixels)
        # Painting goes on in the program's own time.
        self.assertGreater(len(shown_pixels), 250 * 250)
        bench.wait_for(shown, 10, "the picture on screen differs from the decoded one")

    def test_caption_place_picture_and_the_keys_that_do_nothing(self):
        window = self.open(entries(picture=PICTURE.read_bytes()))
        r = window["rect"]  # the outer rectangle, centred on the 1024 x 768 screen
        self.assertEqual((r["left"], r["top"]), ((1024 - r["right"] + r["left"]) // 2,
                                                 (768 - r["bottom"] + r["top"]) // 2), "not centred")
        self.assert_picture_drawn(window)
        self.assertEqual(self.buttons(window), {SLOT[0]: TEXT["kTextQuit"], SLOT[1]: TEXT["kTextUpdate"]})
        # Escape, and Enter with no button focused, leave the window up; the
        # focus is on a button, which Enter presses: the update begins.
        self.wine.expect("key", hwnd=window["hwnd"], vk=VK_ESCAPE)
        self.wine.expect("command", hwnd=window["hwnd"], id=IDOK)
        self.wine.expect("key", hwnd=window["hwnd"], vk=VK_RETURN)
        box = self.wine.wait_window(where=lambda w: (self.wine.controls(w["hwnd"]) or {}).get(
            TEXT_ID, {}).get("text") == TEXT["kTextNotInstalled"], pid=self.program.pid, cls="#32770")
        self.assertIsNotNone(box, "Enter did not start the update")
        self.assertEqual((box["title"], box["owner"]), (TITLE, window["hwnd"]))
        self.program.kill()

    def test_readme_opens_and_a_viewer_left_open_keeps_no_work_folder(self):
        # The viewer stays open past the updater's end, as a player's would:
        # started in the work folder, it would keep that folder from going.
        self.wine.register_viewer()
        self.wine.expect("hold", name="echoargs hold")
        # The second with a damaged picture (what the reader refuses is the
        # native RctFile test's): the window copes without it.
        damaged = PICTURE.read_bytes()[:24] + b"\xff" * (len(PICTURE.read_bytes()) - 24)
        for readme_file, picture in (("read me.txt", PICTURE.read_bytes()), ("説明書.txt", damaged)):
            with self.subTest(readme_file=readme_file):
                window = self.open(entries("お読み ください", readme_file, picture, files=[readme_file]))
                self.assertEqual(self.buttons(window),
                                 {SLOT[0]: TEXT["kTextQuit"], SLOT[1]: "お読み ください",
                                  SLOT[2]: TEXT["kTextUpdate"]})
                work = bench.work_folders(self.wine.temp_dir)[0]
                (self.wine.bench_dir / "echoargs.out").unlink(missing_ok=True)
                self.wine.click(window["hwnd"], SLOT[1])
                command, _ = self.wine.echoed()
                self.assertTrue(command.endswith('"%s\\%s"' % (self.wine.to_windows(work),
                                                               readme_file)), command)
                self.wine.click(window["hwnd"], SLOT[0])
                self.assertEqual(self.program.wait_exit(), 0)
                self.assertEqual(bench.work_folders(self.wine.temp_dir), [], "work folder left behind")

    def test_missing_picture_is_asked_for_again(self):
        # Retry after the picture was put where the window looks for it; then
        # Cancel, in a second run, ends it with -1 and keeps its work folder.
        self.program = self.wine.start(bench.write_updater(self.wine.dir / "u.exe", entries()))
        box, _ = self.check_box(self.program, TEXT["kTextFfopenFailed"] % "insttscr.rct", [IDRETRY, IDCANCEL])
        [work] = bench.work_folders(self.wine.temp_dir)
        (work / "insttscr.rct").write_bytes(PICTURE.read_bytes())
        self.wine.click(box["hwnd"], IDRETRY)
        # The box already bears the window's title: wait until it has gone.
        bench.wait_for(lambda: self.wine.controls(box["hwnd"]) is None, 10, "the box stayed after Retry")
        window = self.window_of(self.program, title=TITLE)
        self.assert_picture_drawn(window)
        self.wine.click(window["hwnd"], SLOT[0])
        self.assertEqual(self.program.wait_exit(), 0)  # the picture put there is not its own
        self.program = self.wine.start(self.wine.dir / "u.exe")
        box = self.window_of(self.program, "no message box", cls="#32770")
        self.wine.click(box["hwnd"], IDCANCEL)
        self.assertEqual(self.program.wait_exit(), EXIT_FAILURE)
        self.assertEqual(len(bench.work_folders(self.wine.temp_dir)), 1, "work folder")

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
        box, _ = self.check_box(second, TEXT["kTextAlreadyRunning"] % WINDOW_TITLE, [IDOK], "error",
                                CAPTION, owner=0)
        self.assertEqual(self.work_folder_files(), before * 2)
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), first_folder)
        self.assertEqual(self.work_folder_files(), before)
        self.window_of(first, "the first instance's window is gone", title=WINDOW_TITLE, timeout=2)
        self.wine.click(window["hwnd"], SLOT[0])
        self.assertEqual(first.wait_exit(), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [])
