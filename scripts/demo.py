#!/usr/bin/python3
"""The demo: a whole update on the Wine bench with the real updater. A fresh
prefix gets an installed game (registry entries and an older copy of its
folder); the updater that dist/vnpack builds from examples/demo-update/ is
then driven as a player would: start-up window, アップデート, Yes, the copy, the
end dialog with the readme ticked, the readme. Prints each step with its
screenshot and a summary of what changed; exits non-zero as soon as a step
does not happen as expected. Run by scripts/demo.sh after everything is built,
as root (the copy is held for its picture through fanotify)."""
import contextlib
import os
import pty
import queue
import random
import re
import select
import shutil
import struct
import subprocess
import sys
import threading
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import bench  # noqa: E402
from bench import IDNO, IDOK, IDYES, TEXT_ID  # noqa: E402

SOURCE, BUILT = bench.REPO / "examples" / "demo-update", bench.WORK / "demo-build"
WINDOW_TITLE, COPY_TITLE = "星降る夜の物語 Ver1.02 アップデータ", "ファイルのコピー中..."
GAME, KEY = "C:\\Games\\星降る夜の物語", "Software\\HoshifuruSoft\\HoshifuruYoru"
README_CAPTION, README_BOX = "お読みください", 1007
# The installed Ver1.01: older copies of two files, a leftover the update
# deletes ([delfiles_afterinst] data\scenario\*.bak) and a save it must keep.
OLD_GAME = {"hoshifuru.exe": b"MZ" + bytes(3070),
            "data/scenario/chapter3.scn": "第三章 (Ver1.01)\r\n".encode("cp932") * 150,
            "data/scenario/chapter3.bak": "第三章 (Ver1.00)\r\n".encode("cp932") * 150,
            "save/save01.dat": bytes(range(256)) * 4}
DELETED_AFTER = {"install.env", "insttscr.rct", "data/scenario/chapter3.bak"}
MOVIE, MOVIE_SIZE = "data/movie/opening.mpg", 12 << 20  # added to a copy, see build()
EXPECTED_REG = {"InstallDir": GAME, "SaveDir": GAME + "\\save", "Version": "102"}
EXPECTED_INI = {"Path": GAME, "Save": GAME + "\\save", "Disc": "E:\\"}  # no CD-ROM drive


class StepFailed(Exception):
    """A step did not happen as expected."""


def say(text="", end="\n"):
    print(text, end=end, flush=True)


def expect(condition, problem):
    if not condition:
        raise StepFailed(problem)


def files_under(folder):
    return {p.relative_to(folder).as_posix(): p for p in sorted(folder.rglob("*")) if p.is_file()}


class ReadHold:
    """Holds reads of a file through fanotify permission events: while the
    updater's read of its payload is held the copy cannot move on, so its
    progress window stays on the screen for a picture however fast it runs.
    Marked before the updater starts, as the kernel asks only about reads
    through files opened after a mark exists; until next() every read is let
    go at once, by a thread of its own."""

    def __init__(self, path):
        self.held, self.holding = [], False
        try:
            self.fd = bench.fanotify(path, 0x20000)  # FAN_ACCESS_PERM
        except OSError as error:
            raise StepFailed("fanotify: %s (run as root)" % error.strerror) from None
        self.queued, self.stop = queue.Queue(), threading.Event()
        self.answerer = threading.Thread(target=self.answer, daemon=True)
        self.answerer.start()

    def answer(self):
        while not self.stop.is_set():
            if not select.select([self.fd], [], [], 0.1)[0]:
                continue
            for fd in bench.fanotify_events(self.fd):
                if self.holding:
                    self.queued.put(fd)
                else:
                    self.allow(fd)

    def allow(self, fd):
        os.write(self.fd, struct.pack("iI", fd, 1))  # FAN_ALLOW
        os.close(fd)

    def next(self):
        """Lets the held reads go on and holds the next one."""
        self.holding = True
        self.release()
        try:
            self.held.append(self.queued.get(timeout=60))
        except queue.Empty:
            raise StepFailed("the updater read nothing more") from None

    def release(self):
        for fd in self.held:
            self.allow(fd)
        self.held.clear()

    def close(self):  # every read let go, the mark gone with the group
        self.holding = False
        self.stop.set()
        self.answerer.join()
        self.release()
        while not self.queued.empty():
            self.allow(self.queued.get())
        os.close(self.fd)


class Demo:
    def __init__(self):
        self.step, self.wine = 0, None

    def begin(self, title):
        self.step += 1
        say("\nStep %d: %s" % (self.step, title))

    def shot(self, name, what):
        say("  screenshot of %s: %s" % (what, self.wine.screenshot(name).relative_to(bench.REPO)))

    def run_wine(self, *args):
        """A Wine console program's output, read through a terminal: written
        to a file or a pipe, its Japanese text would turn into "?"."""
        main, terminal = pty.openpty()
        process = subprocess.Popen(["wine", *args], env=self.wine.env, stdin=subprocess.DEVNULL,
                                   stdout=terminal, stderr=terminal)
        os.close(terminal)
        output = b""
        with contextlib.suppress(OSError), open(main, "rb", buffering=0) as reader:
            while chunk := reader.read(4096):  # EIO once the other end is closed
                output += chunk
        expect(process.wait(60) == 0, "wine %s failed: %r" % (" ".join(args), output))
        return re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", output.decode("utf-8", "replace"))

    def build(self):
        self.begin("build the updater with dist/vnpack from %s" % SOURCE.relative_to(bench.REPO))
        # The example holds small files only: a 12 MiB movie added to a copy
        # gives the progress bars something to show.
        self.source = BUILT / "update-source"
        shutil.rmtree(self.source, ignore_errors=True)
        shutil.copytree(SOURCE, self.source)
        (self.source / MOVIE).parent.mkdir(parents=True)
        (self.source / MOVIE).write_bytes(random.Random(1).randbytes(MOVIE_SIZE))
        self.updater = bench.build_updater(self.source, BUILT / "hoshifuru-update.exe")
        say("  %s: %d bytes, %d files (a 12 MiB movie added to a copy of the folder)"
            % (self.updater.relative_to(bench.REPO), self.updater.stat().st_size,
               len(files_under(self.source))))

    def install_game(self):
        self.begin("a fresh %s prefix with Ver1.01 installed in %s" % (bench.WINE_ARCH, GAME))
        self.wine = bench.WineSession("demo")
        self.game = self.wine.drive_c / "Games" / "星降る夜の物語"
        for name, data in OLD_GAME.items():
            (self.game / name).parent.mkdir(parents=True, exist_ok=True)
            (self.game / name).write_bytes(data)
            say("  %-28s %6d bytes" % (name, len(data)))
        self.before = {n: p.read_bytes() for n, p in files_under(self.game).items()}
        # Windows opens .txt files with Notepad; Wine's registry has the
        # txtfile class but does not tie .txt to it.
        for key, name, data, view in (("HKLM\\" + KEY, "IsInst", "1", ["/reg:32"]),
                                      ("HKLM\\" + KEY, "InstTo", GAME, ["/reg:32"]),
                                      ("HKCU\\" + KEY, "Version", "101", []),
                                      ("HKCR\\.txt", None, "txtfile", [])):
            self.run_wine("reg", "add", key, *(["/v", name] if name else ["/ve"]), "/d", data,
                          "/f", *view)
            say("  %s %s = %s%s" % (key, name or "(default)", data, " (32-bit view)" * bool(view)))

    def start_up(self):
        self.begin("start the updater: its start-up window with the title picture")
        installed = self.wine.install(self.updater)
        self.hold = ReadHold(self.wine.bench_dir / self.updater.name)  # for copy()'s picture
        self.program = self.wine.start(installed)
        self.window = self.wine.wait_window(pid=self.program.pid, title=WINDOW_TITLE, timeout=30)
        expect(self.window is not None, "no start-up window titled %r" % WINDOW_TITLE)
        answer = self.wine.expect("controls", hwnd=self.window["hwnd"])
        buttons = {c["text"]: c["id"] for c in answer["controls"] if c["class"] == "Button"}
        say("  the window %r shows the buttons %s" % (WINDOW_TITLE, ", ".join(buttons)))
        self.update_button = buttons.get("アップデート")
        expect(self.update_button, "no アップデート button")
        # The picture is painted in the window's own time: wait until the
        # middle of its square differs from the dialog's background.
        c = answer["client"]
        x, y = c["left"] + (c["bottom"] - c["top"]) // 2, (c["top"] + c["bottom"]) // 2
        background = self.wine.grab({"left": c["right"] - 2, "top": c["top"] + 2,
                                     "right": c["right"] - 1, "bottom": c["top"] + 3})
        middle = {"left": x, "top": y, "right": x + 1, "bottom": y + 1}
        bench.wait_for(lambda: self.wine.grab(middle) != background, 10, "no title picture")
        self.shot("startup-window", "the start-up window")

    def confirm(self):
        self.begin("click アップデート: the updater finds the game through the registry and asks")
        self.wine.click(self.window["hwnd"], self.update_button)
        boxes = lambda: [b for b in self.wine.windows(pid=self.program.pid, cls="#32770", visible=1)
                         if b["hwnd"] != self.window["hwnd"]]  # the window is a dialog too
        bench.wait_for(boxes, 30, "no question from the updater")
        self.question = boxes()[0]
        controls = self.wine.controls(self.question["hwnd"]) or {}
        text = controls.get(TEXT_ID, {}).get("text")
        shown = sorted(i for i, c in controls.items() if c["class"] == "Button" and c["visible"])
        say("  the box: %r %s, captioned %r" % (text, shown, self.question["title"]))
        expect((text, shown) == ("[%s]をアップデートします" % GAME, [IDYES, IDNO]),
               "expected the question whether to update %s, with Yes and No" % GAME)
        expect((self.question["title"], self.question["owner"]) == (WINDOW_TITLE,
               self.window["hwnd"]), "the question should be captioned and owned by the window")
        self.shot("confirm-question", "the question")

    def copy(self):
        self.begin("answer Yes: the copy under its progress window")
        movie = self.game / Path(MOVIE).parent

        def staged():  # bytes of the movie so far: a new file is written under
            # its own name, a replacement as ~vnNNNNN.tmp beside the old one
            with contextlib.suppress(OSError):
                return sum(p.stat().st_size for p in movie.iterdir()
                           if p.name.startswith("~vn") or p.name == Path(MOVIE).name)
            return 0
        try:
            self.wine.click(self.question["hwnd"], IDYES)
            while staged() < MOVIE_SIZE // 2:
                self.hold.next()
            # While held the driver would wait on the updater: X is asked.
            tree = subprocess.run(["xwininfo", "-root", "-tree", "-display",
                                   self.wine.suite.display], capture_output=True, text=True)
            expect('"%s"' % COPY_TITLE in tree.stdout, "no %r window on the screen" % COPY_TITLE)
            say("  %r is on the screen, the copy held with %s half unpacked" % (COPY_TITLE, MOVIE))
            self.shot("copy-progress", "the progress window")
        finally:
            self.hold.close()

    def end_dialog(self):
        self.begin("the end dialog: tick %r and press OK" % README_CAPTION)
        dialog = self.wine.wait_window(pid=self.program.pid, title="インストール終了", timeout=120)
        expect(dialog is not None, "no end dialog")
        expect(dialog["owner"] == self.window["hwnd"], "the end dialog is not owned by the window")
        tick = lambda: (self.wine.controls(dialog["hwnd"]) or {}).get(README_BOX, {})
        expect((tick().get("text"), tick().get("checked")) == (README_CAPTION, 0),
               "check box 1007 should read %r, unticked: %r" % (README_CAPTION, tick()))
        self.wine.click(dialog["hwnd"], README_BOX)
        bench.wait_for(lambda: tick().get("checked") == 1, 10, "the check box did not tick")
        self.shot("end-dialog", "the end dialog with the readme ticked")
        self.wine.click(dialog["hwnd"], IDOK)

    def readme(self):
        self.begin("the readme opens from the game folder")
        notepad = self.wine.wait_window(cls="Notepad", timeout=30)
        expect(notepad is not None, "no Notepad window")
        opened = bench.running(self.wine.prefix, "notepad")  # which file it shows
        say("  %r, started as %s" % (notepad["title"], opened))
        expect(any(line.endswith(GAME + "\\readme.txt") for line in opened),
               "Notepad does not show the game folder's readme.txt")
        self.shot("readme", "the readme (Wine's code page is 1252: the Japanese shows garbled)")
        self.wine.call("close", hwnd=notepad["hwnd"])
        bench.wait_for(lambda: not self.wine.windows(cls="Notepad", visible=1), 15,
                       "Notepad did not close")
        code = self.program.wait_exit(15)
        expect(code == 0, "the updater should end with 0, not %r" % code)
        expect(bench.work_folders(self.wine.temp_dir) == [], "the work folder was left behind")
        say("  Notepad closed; the updater ended with exit code 0 and removed its work folder")

    def summary(self):
        self.begin("summary: what the update changed")
        new, now = files_under(self.source), files_under(self.game)
        for name in sorted(set(new) - DELETED_AFTER):
            copy, old, size = now.get(name), self.before.get(name), new[name].stat().st_size
            expect(copy is not None and copy.read_bytes() == new[name].read_bytes() and
                   copy.stat().st_mtime_ns // 100 == new[name].stat().st_mtime_ns // 100,
                   "%s was not copied intact with its time" % name)
            say("  %s %-28s %9d bytes%s" % ("updated" if old else "added  ", name, size,
                                             " (was %d)" % len(old) if old else ""))
        for name in sorted(DELETED_AFTER):
            expect(name not in now, "%s should have been deleted" % name)
            say("  deleted %-28s %s" % (name, "(was installed)" if name in self.before else
                                        "(unpacked with the update, then deleted)"))
        kept = sorted(set(now) - set(new))
        expect(kept == sorted(set(self.before) - set(new) - DELETED_AFTER) and all(
            now[n].read_bytes() == self.before[n] for n in kept), "unexpected files: %s" % kept)
        for name in kept:
            say("  kept    %-28s %9d bytes, untouched" % (name, len(self.before[name])))
        query = self.run_wine("reg", "query", "HKCU\\" + KEY)
        values = dict(re.findall(r"^\s+(\S+)\s+REG_SZ\s+(.*?)\s*$", query, re.M))
        say("  registry values (wine reg query HKCU\\%s):" % KEY)
        say("".join("    %s = %s\n" % item for item in values.items()), end="")
        expect(values == EXPECTED_REG, "the registry should hold %s" % EXPECTED_REG)
        raw = (self.wine.drive_c / "windows" / "hoshifuru.ini").read_bytes()
        text = raw.decode("utf-16") if raw[:2] == b"\xff\xfe" else raw.decode("cp932", "replace")
        say("  INI entries (C:\\windows\\hoshifuru.ini):")
        say("".join("    %s\n" % line for line in text.splitlines()), end="")
        entries = dict(re.findall(r"^(\w+)=(.*?)\r?$", text, re.M))
        expect(text.startswith("[Setup]") and entries == EXPECTED_INI,
               "the INI file should hold [Setup] %s" % EXPECTED_INI)


def main():
    BUILT.mkdir(parents=True, exist_ok=True)
    demo, failed = Demo(), None
    try:
        for step in (demo.build, demo.install_game, demo.start_up, demo.confirm, demo.copy,
                     demo.end_dialog, demo.readme, demo.summary):
            step()
    except (StepFailed, bench.BenchError, OSError) as error:
        failed = error
        if demo.wine:
            demo.shot("failure", "the screen at the failure")
    finally:
        if demo.wine:
            demo.wine.close(keep=failed is not None)
    if failed:
        say("\nDEMO FAILED at step %d: %s" % (demo.step, failed))
        return 1
    say("\nDemo complete: every step happened as expected. Screenshots are in %s."
        % (bench.ARTIFACTS / "demo").relative_to(bench.REPO))
    return 0


if __name__ == "__main__":
    sys.exit(main())
