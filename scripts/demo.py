#!/usr/bin/python3
"""The demo: builds an updater from examples/demo-update/ with dist/vnpack and
runs it on the Wine bench, step by step, with screenshots. Prints in plain
words what happened at each step and where the pictures are; the exit code is
non-zero as soon as a step does not happen as expected.

  VN_UPDATER=dist/vnupdate.exe VN_BUILD=build/win32 scripts/demo.py

Run by scripts/demo.sh after everything is built.
"""
import random
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import bench  # noqa: E402

SOURCE = bench.REPO / "examples" / "demo-update"
OUTPUT = bench.ARTIFACTS / "demo"  # the session empties it when it starts
BUILT = bench.WORK / "demo-build"
WINDOW_TITLE = "星降る夜の物語 Ver1.02 アップデータ"
TITLE = "星降る夜の物語 Ver1.02"
ALREADY_RUNNING = "[ %s ] は既に起動中です" % WINDOW_TITLE
SETUP_FILES = ["install.env", "insttscr.rct", "readme.txt"]
GAME_FOLDER = "C:\\Games\\星降る夜の物語"
QUIT_BUTTON, IDOK, TEXT_ID = 1000, 1, -1
FILE_BAR, FILE_NAME, TOTAL_BAR = 1010, 1012, 1019


class StepFailed(Exception):
    pass


def say(text=""):
    print(text, flush=True)


def expect(condition, problem):
    if not condition:
        raise StepFailed(problem)


class Demo:
    def __init__(self):
        self.step = 0
        self.wine = None

    def begin(self, title):
        self.step += 1
        say()
        say("Step %d: %s" % (self.step, title))

    def shot(self, name, what):
        path = self.wine.screenshot(name)
        say("  screenshot of %s: %s" % (what, path.relative_to(bench.REPO)))

    def build(self):
        self.begin("build the updater from %s" % SOURCE.relative_to(bench.REPO))
        # The example folder holds small files only; a larger movie file is
        # added to a copy so that the progress bars have something to show.
        source = BUILT / "update-source"
        shutil.rmtree(source, ignore_errors=True)
        shutil.copytree(SOURCE, source)
        movie = source / "data" / "movie" / "opening.mpg"
        movie.parent.mkdir(parents=True)
        movie.write_bytes(random.Random(1).randbytes(1536 * 1024))
        self.updater = bench.build_updater(source, BUILT / "hoshifuru-update.exe")
        self.source = source
        listing = bench.vnpack("list", self.updater)
        expect(listing.returncode == 0, "vnpack list failed: %s" % listing.stderr)
        say("  built %s (%d bytes), with a 1.5 MiB movie file added to a copy of the folder"
            % (self.updater.relative_to(bench.REPO), self.updater.stat().st_size))
        say("  vnpack list shows what the updater carries:")
        for line in listing.stdout.splitlines():
            say("    " + line)

    def start_up(self):
        self.begin("start the updater: it unpacks its setup files and shows its start-up window")
        self.path = self.wine.install(self.updater, "hoshifuru-update.exe")
        self.first = self.wine.start(self.path)
        self.window = self.wine.wait_window(pid=self.first.pid, title=WINDOW_TITLE, timeout=30)
        if self.window is None:
            box, controls = self.wine.message_box(self.first.pid, timeout=1)
            raise StepFailed("no start-up window titled %r (box: %r)"
                             % (WINDOW_TITLE, controls.get(TEXT_ID, {}).get("text")))
        say("  the start-up window is open, titled %r" % self.window["title"])
        answer = self.wine.expect("controls", hwnd=self.window["hwnd"])
        buttons = sorted((c for c in answer["controls"] if c["class"] == "Button"),
                         key=lambda c: c["rect"]["top"])
        say("  its buttons, from the top: %s" % ", ".join(c["text"] for c in buttons))
        # The title picture is painted in the window's own time: wait until
        # its middle shows something other than the dialog's background.
        client = answer["client"]
        middle = (client["left"] + (client["bottom"] - client["top"]) // 2,
                  (client["top"] + client["bottom"]) // 2)
        pixel = {"left": middle[0], "top": middle[1], "right": middle[0] + 1,
                 "bottom": middle[1] + 1}
        background = self.wine.grab({"left": client["right"] - 2, "top": client["top"] + 2,
                                     "right": client["right"] - 1, "bottom": client["top"] + 3})
        bench.wait_for(lambda: self.wine.grab(pixel) != background, 10, "no title picture")
        say("  the title picture (insttscr.rct, 256 x 256) is drawn on the left")
        self.shot("startup-window", "the start-up window with the title picture")

    def work_folder(self):
        self.begin("look into the work folder while the window is open")
        folders = bench.work_folders(self.wine.temp_dir)
        expect(len(folders) == 1, "expected one work folder, found %s" % folders)
        self.folder = folders[0]
        names = sorted(p.name for p in self.folder.iterdir())
        say("  %s holds: %s" % (self.wine.to_windows(self.folder), ", ".join(names)))
        expect(names == SETUP_FILES, "the work folder should hold exactly %s" % SETUP_FILES)
        for name in names:
            same = (self.folder / name).read_bytes() == (self.source / name).read_bytes()
            expect(same, "%s in the work folder differs from the source" % name)
        say("  exactly the setup files, byte for byte as in the update folder; the game files "
            "stay packed")
        # Wine's file browser on the folder, for the picture.
        browser = self.wine.start("C:\\windows\\explorer.exe",
                                  args=["/root," + self.wine.to_windows(self.folder)])
        shown = self.wine.wait_window(pid=browser.pid, timeout=15)
        time.sleep(1)  # for the picture only: the browser fills its list a moment later
        self.shot("work-folder", "the work folder in Wine's file browser")
        if shown:
            self.wine.call("close", hwnd=shown["hwnd"])

    def second_instance(self):
        self.begin("start the same updater a second time while the first one runs")
        second = self.wine.start(self.path)
        box, controls = self.wine.message_box(second.pid)
        expect(box is not None, "the second instance showed no message")
        text = controls.get(TEXT_ID, {}).get("text")
        say("  the second instance says %r (caption %r)" % (text, box["title"]))
        self.shot("second-instance", "the second instance's message")
        expect(text == ALREADY_RUNNING, "expected the message %r" % ALREADY_RUNNING)
        expect(box["title"] == TITLE, "expected the caption %r" % TITLE)
        self.wine.click(box["hwnd"], IDOK)
        code = second.wait_exit(15)
        expect(code == 0, "the second instance should end with 0, not %r" % code)
        expect(bench.work_folders(self.wine.temp_dir) == [self.folder],
               "the second instance should remove its own work folder and keep the first's")
        still = self.wine.wait_window(pid=self.first.pid, title=WINDOW_TITLE, timeout=2)
        expect(still is not None and self.first.wait_exit(0.1) is None,
               "the first instance should be undisturbed")
        say("  after OK it ended with exit code 0 and removed its own work folder; the first "
            "instance is still open")

    def quit(self):
        self.begin("click 終了 (quit) in the start-up window")
        self.wine.click(self.window["hwnd"], QUIT_BUTTON)
        code = self.first.wait_exit(15)
        expect(code == 0, "the updater should end with 0, not %r" % code)
        left = bench.work_folders(self.wine.temp_dir)
        expect(left == [], "the work folder should be gone, found %s" % left)
        say("  the updater ended with exit code 0 and removed its work folder")
        self.shot("after-quit", "the screen after quitting")

    def copy_pass(self):
        self.begin("run the copy pass into %s under the progress window "
                   "(copypass.exe, the updater's own copy code)" % GAME_FOLDER)
        target = self.wine.drive_c / "Games" / "星降る夜の物語"
        target.mkdir(parents=True)
        program = self.wine.start(bench.PROGRAMS / "copypass.exe", args=[self.path, GAME_FOLDER])
        window = self.wine.wait_window(pid=program.pid, title="ファイルのコピー中...")
        expect(window is not None, "no copy progress window")
        # copypass holds still at every step until the bench lets it go on.
        seen = []
        for controls in self.wine.copy_steps(program, window):
            name, total = controls[FILE_NAME]["text"], controls[TOTAL_BAR]["progress"]
            if name and seen[-1:] != [name]:
                seen.append(name)
                say("  copying %s (overall bar %d of %d)" % (name, total["pos"], total["high"]))
            if name.endswith("opening.mpg") and controls[FILE_BAR]["progress"]["pos"] in (3, 9):
                self.shot("copy-progress", "the progress window during the copy")
        self.shot("after-copy", "the screen after the copy (the window has closed)")
        self.wine.expect("post", tid=program.tid, msg=bench.WM_APP)
        code = program.wait_exit(20)
        expect(code == 0, "copypass ended with %r: %s" % (code, program.output()))
        copied = 0
        for path in sorted(self.source.rglob("*")):
            if path.is_file():
                relative = path.relative_to(self.source)
                copy = target / relative
                expect(copy.is_file() and copy.read_bytes() == path.read_bytes(),
                       "%s was not copied intact" % relative)
                expect(bench.payload.filetime(copy.stat().st_mtime_ns) ==
                       bench.payload.filetime(path.stat().st_mtime_ns),
                       "%s did not get its stored time back" % relative)
                copied += 1
        say("  the window showed %d files in turn and closed; all %d files are in the game "
            "folder, byte for byte, with their stored times" % (len(seen), copied))

    def run(self):
        self.build()
        say()
        say("Starting the Wine bench (a virtual display and a fresh %s prefix)..." % bench.WINE_ARCH)
        self.wine = bench.WineSession("demo")
        self.start_up()
        self.work_folder()
        self.second_instance()
        self.quit()
        self.copy_pass()


def main():
    BUILT.mkdir(parents=True, exist_ok=True)
    demo = Demo()
    failed = None
    try:
        demo.run()
    except (StepFailed, bench.BenchError) as error:
        failed = error
        if demo.wine:
            demo.shot("failure", "the screen at the failure")
    finally:
        if demo.wine:
            demo.wine.close(keep=failed is not None)
    say()
    if failed:
        say("DEMO FAILED at step %d: %s" % (demo.step, failed))
        return 1
    say("Demo complete: every step happened as expected. Screenshots are in %s."
        % OUTPUT.relative_to(bench.REPO))
    return 0


if __name__ == "__main__":
    sys.exit(main())
