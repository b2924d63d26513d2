"""The updater's message boxes under Wine, shown by its own code in boxes.exe
under a main window: each box's look and clipboard, and what each answer does."""
import bench
from bench import EXIT_FAILURE, IDCANCEL, IDNO, IDOK, IDRETRY, IDYES, TEXT

TITLEBAR = "表示テスト"  # 表: a 0x5C second byte in the caption
MAIN_TITLE = TEXT["kTextUpdaterSuffix"] % TITLEBAR
PATH = "C:\\ゲーム\\表示.dat"
# By box: boxes.exe's arguments (mode, format, argument; 5 for a "%d"), the
# text shown, its buttons and icon, and whether it goes to the clipboard.
BOX = {
    "retry": (["retry", TEXT["kTextFfopenFailed"], PATH], TEXT["kTextFfopenFailed"] % PATH,
              [IDCANCEL, IDRETRY], "error", True),
    "error": (["error", "ファイル[%s]の書き込みで失敗しました (%d)", "表示.dat"],
              "ファイル[表示.dat]の書き込みで失敗しました (5)", [IDOK], "error", True),
    "ask": (["ask", "[%s] を更新しますか？", "表示テスト"], "[表示テスト] を更新しますか？",
            [IDYES, IDNO], "question", False),
    # 1204 bytes of double-byte characters; 1023 fit, and the 1023rd is the
    # first half of one, so the box can show only the 511 whole characters.
    "long": (["error", "表示%s", "テスト" * 200],
             ("表示" + "テスト" * 200).encode("cp932")[:1022].decode("cp932"), [IDOK], "error", True),
    "alloc": (["alloc"], TEXT["kTextOutOfMemory"], [IDOK], "error", False),
}
# boxes.exe's exit code and printed line once the box returned ("" when the
# process ended inside the box).
RETRY, ERROR, YES, NO = (3, "retry returned"), (4, "error returned"), (1, "yes"), (0, "no")
ENDED = (EXIT_FAILURE, "")
# box, answer (a button, or the Escape key or close box), outcome
ANSWERS = [("retry", IDRETRY, RETRY), ("retry", IDCANCEL, ENDED), ("retry", "escape", ENDED),
           ("error", IDOK, ERROR), ("error", "escape", ERROR), ("long", IDOK, ERROR),
           ("ask", IDNO, NO), ("ask", IDYES, YES), ("ask", "escape", NO), ("ask", "close", NO),
           ("alloc", IDOK, ENDED)]


class BoxTest(bench.BenchTest):
    def test_each_box_and_answer(self):
        for name, answer, (code, printed) in ANSWERS:
            with self.subTest(box=name, answer=answer):
                args, text, buttons, icon, copied = BOX[name]
                before = "bench: on the clipboard before the box %s %s" % (name, answer)
                self.wine.expect("clipset", text=before)
                program = self.wine.start(bench.PROGRAMS / "boxes.exe", args=[args[0]] + [
                    '"%s"' % text for text in [TITLEBAR] + args[1:]])
                main = self.window_of(program, "boxes.exe: no main window", cls="Static", title=MAIN_TITLE)
                # The out-of-memory box has no owner, and a caption of its own.
                box, _ = self.check_box(program, text, buttons, icon, *(
                    (TEXT["kTextMallocCaption"], 0) if name == "alloc" else (MAIN_TITLE, main["hwnd"])))
                self.check_clipboard(text if copied else before)
                self.wine.answer(box["hwnd"], answer)
                self.assertEqual(program.wait_exit(), code)
                self.assertEqual(program.output().strip(), printed)
