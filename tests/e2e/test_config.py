"""The configuration at start-up under Wine: a payload without install.env,
the single-instance guard named after the configured title, and a section
left open. Payloads are written by the bench's own archive writer, since
vnpack rightly refuses to build most of them."""
import bench

EXIT_FAILURE = 0xFFFFFFFF
IDOK, IDCANCEL, IDRETRY, TEXT_ID, ICON_ID, QUIT_BUTTON = 1, 2, 4, -1, 1088, 1000

SETUP_FILES_MISSING = ("起動に必要なファイルが不足しています。\n"
                       "インストールの異常終了、起動するフォルダ異常、等を確認してください。")
ALREADY_RUNNING = "[ %s ] は既に起動中です"
REG_NOT_TERMINATED = "[設定.env]の[reg]が終了していません"

# 表 ends in 0x5C and the bar becomes a space: the mutex name must keep 表 whole.
TITLEBAR = "テスト|表示"
TITLE = "テスト 表示"
WINDOW_TITLE = "テスト 表示 アップデータ"

SECTIONS = "[delfiles]\r\n-\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n-\t\t// end\r\n"


def settings(titlebar=TITLEBAR, sections=SECTIONS):
    return ("// test settings\r\nTITLEBAR\t%s\r\n[EOF]\r\n%s" % (titlebar, sections)).encode("cp932")


def setup_entries(install_env):
    entries = [("insttscr.rct", b"RCT placeholder", 0), ("readme.txt", b"readme\r\n", 0),
               ("game.dat", b"\x00" * 5000, 0)]
    if install_env is not None:
        entries.insert(0, ("install.env", install_env, 0))
    return entries


class ConfigTest(bench.BenchTest):
    def run_installed(self, path):
        """Starts an already installed program again (a second instance of
        the same file)."""
        answer = self.wine.expect("start", exe=path, cwd=self.wine.to_windows(self.wine.bench_dir),
                                  out=self.wine.to_windows(self.wine.bench_dir) + "\\second.out")
        return bench.Program(self.wine, answer["pid"], answer["tid"], path)

    def startup_window(self, program, title=WINDOW_TITLE):
        window = self.wine.wait_window(pid=program.pid, title=title, timeout=20)
        if window is None:
            box, controls = self.wine.message_box(program.pid, timeout=1)
            self.fail("no start-up window titled %r; box: %r"
                      % (title, controls.get(TEXT_ID, {}).get("text")))
        return window

    def work_folder_files(self):
        return [sorted(p.name for p in folder.iterdir())
                for folder in bench.work_folders(self.wine.temp_dir)]

    def expect_already_running(self, program, title=TITLE, window_title=WINDOW_TITLE, step="box"):
        """The already-running box: text, caption, owner, icon, one OK. Leaves it open."""
        box, controls = self.wine.message_box(program.pid)
        self.assertIsNotNone(box, "no already-running box")
        self.wine.screenshot(step)
        self.assertEqual(controls.get(TEXT_ID, {}).get("text"), ALREADY_RUNNING % window_title)
        self.assertEqual(box["title"], title, "caption is the TITLEBAR value")
        self.assertEqual(box["owner"], 0, "the box has no owner")
        buttons = sorted(c["id"] for c in controls.values() if c["class"].lower() == "button")
        self.assertEqual(buttons, [IDOK])
        icon = self.wine.expect("icon", hwnd=box["hwnd"], id=ICON_ID)
        self.assertEqual(icon["best"], "error", "not the error icon")
        return box


class MissingSettingsTest(ConfigTest):
    def test_payload_without_install_env(self):
        program = self.wine.start(self.wine.dir / self.updater_without_settings())
        box, controls = self.wine.message_box(program.pid)
        self.assertIsNotNone(box, "no message box")
        self.wine.screenshot("setup-files-missing")
        text = controls.get(TEXT_ID, {})
        # The line break reaches the box as a bare LF, and the box shows two lines.
        self.assertEqual(text.get("text"), SETUP_FILES_MISSING)
        height = text["rect"]["bottom"] - text["rect"]["top"]
        self.assertGreater(height, 20, "the text does not take two lines")
        # On the clipboard the break is CR LF, so that a pasted text keeps its lines.
        pasted = SETUP_FILES_MISSING.replace("\n", "\r\n")
        clip = self.wine.clipboard()
        self.assertEqual(clip["unicode"], pasted)
        self.assertEqual(clip["text_bytes"], pasted.encode("cp932"))
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), EXIT_FAILURE)
        self.assertEqual(self.work_folder_files(), [], "work folder left behind")

    def updater_without_settings(self):
        # install.env only inside a folder does not count: the setup pass
        # never reaches nested folders.
        entries = setup_entries(None) + [("sub\\", None, 0), ("sub\\install.env", settings(), 0)]
        return bench.write_updater(self.wine.dir / "nosettings.exe", entries).name


class SingleInstanceTest(ConfigTest):
    def test_mutex_named_after_the_title_refuses_the_start(self):
        self.wine.expect("mutex", name=WINDOW_TITLE)
        program = self.wine.start(bench.write_updater(self.wine.dir / "vnupdate.exe",
                                                      setup_entries(settings())))
        box = self.expect_already_running(program)
        # The second instance unpacked its own setup files before it knew.
        self.assertEqual(self.work_folder_files(), [["install.env", "insttscr.rct", "readme.txt"]])
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), 0)
        self.assertEqual(self.work_folder_files(), [], "work folder left behind")

    def test_mutex_of_another_title_does_not(self):
        for other in ("テスト アップデータ", "テスト 表示", "テスト＼表示 アップデータ"):
            self.wine.expect("mutex", name=other)
        program = self.wine.start(bench.write_updater(self.wine.dir / "vnupdate.exe",
                                                      setup_entries(settings())))
        window = self.startup_window(program)
        self.wine.screenshot("startup-window")
        self.wine.click(window["hwnd"], QUIT_BUTTON)
        self.assertEqual(program.wait_exit(15), 0)

    def second_instance(self, titlebar, title, window_title):
        """Starts the same updater twice; the second must refuse and clean up
        after itself while the first runs on."""
        path = self.wine.install_program(bench.write_updater(
            self.wine.dir / "vnupdate.exe", setup_entries(settings(titlebar=titlebar))))
        first = self.run_installed(path)
        window = self.startup_window(first, window_title)
        first_folder = bench.work_folders(self.wine.temp_dir)
        self.assertEqual(len(first_folder), 1)
        before = sorted(p.name for p in first_folder[0].iterdir())

        second = self.run_installed(path)
        box = self.expect_already_running(second, title, window_title, step="second-instance")
        self.assertEqual(len(bench.work_folders(self.wine.temp_dir)), 2,
                         "the second instance unpacks into a work folder of its own")
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(second.wait_exit(15), 0)

        self.assertEqual(bench.work_folders(self.wine.temp_dir), first_folder,
                         "the second instance must remove its own work folder, and only that")
        self.assertEqual(sorted(p.name for p in first_folder[0].iterdir()), before)
        self.assertIsNone(first.wait_exit(0.1), "the first instance ended")
        again = self.wine.wait_window(pid=first.pid, title=window_title, timeout=2)
        self.assertIsNotNone(again, "the first instance's window is gone")
        self.wine.screenshot("first-undisturbed")
        self.wine.click(window["hwnd"], QUIT_BUTTON)
        self.assertEqual(first.wait_exit(15), 0)
        self.assertEqual(bench.work_folders(self.wine.temp_dir), [])

    def test_second_instance_with_a_backslash_in_the_title_is_refused(self):
        # A backslash in a mutex name would make it a namespace path that
        # cannot be created, and every start would end silently; the name
        # uses the full-width backslash, the title keeps the real one.
        self.second_instance("C:\\Game|表", "C:\\Game 表", "C:\\Game 表 アップデータ")

    def test_backslash_title_names_its_mutex_with_a_full_width_backslash(self):
        self.wine.expect("mutex", name="C:＼Game 表 アップデータ")
        program = self.wine.start(bench.write_updater(
            self.wine.dir / "vnupdate.exe", setup_entries(settings(titlebar="C:\\Game|表"))))
        box = self.expect_already_running(program, "C:\\Game 表", "C:\\Game 表 アップデータ")
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), 0)
        self.assertEqual(self.work_folder_files(), [])


class UnterminatedSectionTest(ConfigTest):
    def test_unterminated_reg_ends_the_run_whichever_button(self):
        open_reg = "[delfiles]\r\n-\r\n[reg]\r\n\"Dir\"=\"REP_INSTALL\"\r\n[EOF]\r\n"
        updater = bench.write_updater(self.wine.dir / "openreg.exe",
                                      setup_entries(settings(sections=open_reg)))
        for button, label in ((IDRETRY, "retry"), (IDCANCEL, "cancel")):
            program = self.wine.start(updater)
            box, controls = self.wine.message_box(program.pid)
            self.assertIsNotNone(box, "no message box (%s run)" % label)
            self.wine.screenshot("reg-not-terminated-" + label)
            self.assertEqual(controls.get(TEXT_ID, {}).get("text"), REG_NOT_TERMINATED)
            buttons = sorted(c["id"] for c in controls.values() if c["class"].lower() == "button")
            self.assertEqual(buttons, [IDCANCEL, IDRETRY])
            self.wine.click(box["hwnd"], button)
            self.assertEqual(program.wait_exit(15), EXIT_FAILURE, "after " + label)
            self.assertEqual(self.wine.windows(pid=program.pid, visible=1), [])
