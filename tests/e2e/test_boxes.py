"""The updater's message boxes under Wine, shown by the updater's own code in
boxes.exe (tests/e2e/programs/boxes_win.cpp) under a main window: buttons,
icon, owner, caption, text and clipboard of each box (one with a text too long for the box's
buffer), what each answer does, and the out-of-memory box."""
import bench
from bench import EXIT_FAILURE, IDCANCEL, IDNO, IDOK, IDRETRY, IDYES, TEXT, VK_ESCAPE

TITLEBAR = "表示テスト"  # 表: a 0x5C second byte in the caption
MAIN_TITLE = TEXT["kTextUpdaterSuffix"] % TITLEBAR
# By the name of the box: boxes.exe's mode, format and argument (5 for a
# "%d"), and the text the box shows.
SHOWN = {
    "retry": ("retry", TEXT["kTextFfopenFailed"], "C:\\ゲーム\\表示.dat",
              TEXT["kTextFfopenFailed"] % "C:\\ゲーム\\表示.dat"),
    "error": ("error", "ファイル[%s]の書き込みで失敗しました (%d)", "表示.dat",
              "ファイル[表示.dat]の書き込みで失敗しました (5)"),
    "ask": ("ask", "[%s] を更新しますか？", "表示テスト", "[表示テスト] を更新しますか？"),
    # 1204 bytes of double-byte characters; 1023 fit, and the 1023rd is the
    # first half of one, so the box can show only the 511 whole characters
    # before it.
    "long": ("error", "表示%s", "テスト" * 200,
             ("表示" + "テスト" * 200).encode("cp932")[:1022].decode("cp932")),
}
# What boxes.exe exits with when the box returned, and the line it prints
# ("" when the process ended inside the box).
RETRY_RETURNED, ERROR_RETURNED, YES, NO = 3, 4, 1, 0
PRINTED = {RETRY_RETURNED: "retry returned", ERROR_RETURNED: "error returned", YES: "yes",
           NO: "no", EXIT_FAILURE: ""}
CLIPBOARD_BEFORE = "bench: on the clipboard before the box"

# box, buttons, icon, copied to the clipboard, an answer and its exit code
BOXES = [
    ("retry", [IDCANCEL, IDRETRY], "error", True, IDRETRY, RETRY_RETURNED),
    ("error", [IDOK], "error", True, IDOK, ERROR_RETURNED),
    ("ask", [IDYES, IDNO], "question", False, IDNO, NO),
    ("long", [IDOK], "error", True, IDOK, ERROR_RETURNED),
]


class BoxTest(bench.BenchTest):

    def open_box(self, name):
        """Starts boxes.exe and waits for its box; returns the program, its
        main window, the box and its controls by id."""
        mode, *texts = SHOWN[name][:3] if name in SHOWN else [name]
        program = self.wine.start(bench.PROGRAMS / "boxes.exe",
                                  args=[mode] + ['"%s"' % text for text in [TITLEBAR] + texts])
        main = self.wine.wait_window(pid=program.pid, cls="Static")
        self.assertEqual((main or {}).get("title"), MAIN_TITLE, "boxes.exe: no main window")
        box, controls = self.wine.message_box(program.pid)
        self.assertIsNotNone(box, "boxes.exe %s: no message box" % name)
        return program, main, box, controls

    # Before a main window a box has no owner and no caption: the refusals at
    # start-up in test_payload.py show ErrorBox and ErrorRetryBox so.
    def test_each_box_under_a_main_window(self):
        for name, buttons, icon, copied, answer, code in BOXES:
            with self.subTest(box=name):
                self.wine.expect("clipset", text=CLIPBOARD_BEFORE)
                before = self.wine.clipboard()
                program, main, box, controls = self.open_box(name)
                self.wine.screenshot(name)
                text = SHOWN[name][3]
                self.check_box(box, controls, text, buttons, icon, MAIN_TITLE, main["hwnd"])
                if copied:
                    self.check_clipboard(text)
                else:
                    clip = self.wine.clipboard()
                    self.assertEqual([clip[k] for k in ("formats", "unicode", "text_bytes")],
                                     [before[k] for k in ("formats", "unicode", "text_bytes")],
                                     "the clipboard must be left as it was")
                self.wine.click(box["hwnd"], answer)
                self.assertEqual(program.wait_exit(), code)
                self.assertEqual(program.output().strip(), PRINTED[code])

    def test_answers(self):
        click = lambda button: lambda box: self.wine.click(box["hwnd"], button)  # noqa: E731
        escape = lambda box: self.wine.expect("key", hwnd=box["hwnd"], vk=VK_ESCAPE)  # noqa: E731
        close = lambda box: self.wine.expect("close", hwnd=box["hwnd"])  # noqa: E731
        # box, way and exit code of the answers BOXES does not give
        answers = [
            ("retry", "cancel", click(IDCANCEL), EXIT_FAILURE),
            ("retry", "escape", escape, EXIT_FAILURE),
            ("error", "escape", escape, ERROR_RETURNED),
            ("ask", "yes", click(IDYES), YES),
            ("ask", "escape", escape, NO),
            ("ask", "close", close, NO),
        ]
        for name, way, act, code in answers:
            with self.subTest(box=name, way=way):
                program, _, box, _ = self.open_box(name)
                act(box)
                self.assertEqual(program.wait_exit(), code)
                self.assertEqual(program.output().strip(), PRINTED[code])

    def test_out_of_memory_box_has_no_owner_and_ends_the_process(self):
        program, _, box, controls = self.open_box("alloc")
        self.wine.screenshot("out-of-memory")
        self.check_box(box, controls, TEXT["kTextOutOfMemory"], [IDOK], "error",
                       title=TEXT["kTextMallocCaption"], owner=0)
        self.wine.click(box["hwnd"], IDOK)
        self.assertEqual(program.wait_exit(), EXIT_FAILURE)
        self.assertEqual(program.output().strip(), "", "AllocOrAbort returned")
