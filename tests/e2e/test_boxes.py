"""The updater's message boxes under Wine, shown by the updater's own code in
boxes.exe (tests/e2e/programs/boxes_win.cpp): buttons, icon, owner, caption,
text and clipboard of each box, what each answer does, the out-of-memory box
and a text too long for the box's buffer."""
import bench

EXIT_FAILURE = 0xFFFFFFFF
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
TEXT_ID, ICON_ID, VK_ESCAPE = -1, 1088, 0x1B

# What boxes.exe shows; its exit code says what the box gave back.
MAIN_TITLE = "表示テスト アップデータ"
MAIN_CLASS = "BoxesMainWindow"
RETRY_TEXT = "Ffopen : ファイル[C:\\ゲーム\\表示.dat]の読み込みで失敗しました"
ERROR_TEXT = "ファイル[表示.dat]の書き込みで失敗しました (5)"
ASK_TEXT = "[表示テスト] を更新しますか？"
OUT_OF_MEMORY = "メモリ容量が不足しています。処理を中断します。"
# 1204 bytes of double-byte characters; 1023 fit, and the 1023rd is the first
# half of one, so the box can show only the 511 whole characters before it.
LONG_TEXT = ("表示" + "テスト" * 200).encode("cp932")[:1022].decode("cp932")
RETRY_RETURNED, ERROR_RETURNED, YES, NO = 3, 4, 1, 0

CLIPBOARD_BEFORE = "bench: on the clipboard before the box"

# mode, text, buttons, icon, copied to the clipboard, an answer and its exit code
BOXES = [
    ("retry", RETRY_TEXT, [IDCANCEL, IDRETRY], "error", True, IDRETRY, RETRY_RETURNED),
    ("error", ERROR_TEXT, [IDOK], "error", True, IDOK, ERROR_RETURNED),
    ("ask", ASK_TEXT, [IDYES, IDNO], "question", False, IDNO, NO),
]


def boxes_program():
    return bench.config.build / "tests" / "e2e" / "boxes.exe"


class BoxTest(bench.BenchTest):

    def open_box(self, mode, with_main=True):
        """Starts boxes.exe and waits for its box; returns the program, the
        main window (None without one), the box and its controls by id."""
        args = [mode] if with_main else [mode, "nomain"]
        program = self.wine.start(boxes_program(), args=args)
        main = None
        if with_main:
            main = self.wine.wait_window(pid=program.pid, cls=MAIN_CLASS, timeout=20)
            self.assertIsNotNone(main, "boxes.exe %s: no main window" % mode)
            self.assertEqual(main["title"], MAIN_TITLE)
        box, controls = self.wine.message_box(program.pid)
        self.assertIsNotNone(box, "boxes.exe %s: no message box" % mode)
        return program, main, box, controls

    def output(self):
        return (self.wine.bench_dir / "program.out").read_text(errors="replace").strip()

    def check_box(self, box, controls, text, buttons, icon):
        self.assertEqual(controls.get(TEXT_ID, {}).get("text"), text)
        shown = sorted(c["id"] for c in controls.values()
                       if c["class"].lower() == "button" and c["visible"])
        self.assertEqual(shown, sorted(buttons), "buttons")
        self.assertIn(ICON_ID, controls, "the box shows no icon")
        seen = self.wine.expect("icon", hwnd=box["hwnd"], id=ICON_ID)
        self.assertEqual(seen["best"], icon, "icon on screen: %s" % seen["differences"])
        self.assertLessEqual(seen["differences"][icon], seen["pixels"] // 50,
                             "icon pixels differ from the system's %s icon" % icon)

    def check_each_box(self, with_main):
        for mode, text, buttons, icon, copied, answer, code in BOXES:
            with self.subTest(mode=mode):
                self.wine.set_clipboard(CLIPBOARD_BEFORE)
                before = self.wine.clipboard()
                program, main, box, controls = self.open_box(mode, with_main)
                self.wine.screenshot(mode)
                self.check_box(box, controls, text, buttons, icon)
                if with_main:
                    self.assertEqual(box["owner"], main["hwnd"], "owned by the main window")
                    self.assertEqual(box["title"], MAIN_TITLE, "caption is the main window's title")
                else:
                    self.assertEqual(box["owner"], 0, "no owner without a main window")
                    self.assertEqual(box["title"], "", "empty caption without a main window")

                clip = self.wine.clipboard()
                if copied:
                    self.assertEqual(clip["unicode"], text, "CF_UNICODETEXT")
                    self.assertEqual(clip["text_bytes"], text.encode("cp932"), "CF_TEXT")
                else:
                    self.assertEqual((clip["formats"], clip["unicode"], clip["text_bytes"]),
                                     (before["formats"], before["unicode"], before["text_bytes"]),
                                     "the clipboard must be left as it was")

                self.wine.click(box["hwnd"], answer)
                self.assertEqual(program.wait_exit(15), code)

    def test_boxes_under_the_main_window(self):
        self.check_each_box(with_main=True)

    def test_boxes_before_any_main_window(self):
        self.check_each_box(with_main=False)

    def test_answers(self):
        click = lambda button: lambda box: self.wine.click(box["hwnd"], button)
        escape = lambda box: self.wine.expect("key", hwnd=box["hwnd"], vk=VK_ESCAPE, focus=1)
        close = lambda box: self.wine.expect("close", hwnd=box["hwnd"])
        # mode, way, exit code, printed line ("" when the process ended inside the box)
        answers = [
            ("retry", "retry", click(IDRETRY), RETRY_RETURNED, "retry returned"),
            ("retry", "cancel", click(IDCANCEL), EXIT_FAILURE, ""),
            ("retry", "escape", escape, EXIT_FAILURE, ""),
            ("error", "escape", escape, ERROR_RETURNED, "error returned"),
            ("ask", "yes", click(IDYES), YES, "yes"),
            ("ask", "no", click(IDNO), NO, "no"),
            ("ask", "escape", escape, NO, "no"),
            ("ask", "close", close, NO, "no"),
        ]
        for mode, way, act, code, printed in answers:
            with self.subTest(mode=mode, way=way):
                program, _, box, _ = self.open_box(mode)
                act(box)
                self.assertEqual(program.wait_exit(15), code)
                self.assertEqual(self.output(), printed)

    def test_out_of_memory_box_has_no_owner_and_ends_the_process(self):
        program, _, box, controls = self.open_box("alloc")
        self.wine.screenshot("out-of-memory")
        self.check_box(box, controls, OUT_OF_MEMORY, [IDOK], "error")
        self.assertEqual(box["title"], "malloc")
        self.assertEqual(box["owner"], 0, "not owned by the main window")
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), EXIT_FAILURE)
        self.assertEqual(self.output(), "", "AllocOrAbort returned")

    def test_long_text_is_cut_before_a_split_character(self):
        self.wine.set_clipboard(CLIPBOARD_BEFORE)
        program, _, box, controls = self.open_box("long")
        self.wine.screenshot("long-text")
        self.assertEqual(controls.get(TEXT_ID, {}).get("text"), LONG_TEXT)
        clip = self.wine.clipboard()
        self.assertEqual(clip["unicode"], LONG_TEXT)
        self.assertEqual(clip["text_bytes"], LONG_TEXT.encode("cp932"))
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(15), ERROR_RETURNED)
