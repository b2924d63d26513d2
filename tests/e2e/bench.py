"""The Wine bench: one Xvfb and one prepared prefix per process; per test a copy
of it (binaries hard-linked) with its own wineserver and UI driver, so that
tests cannot see each other's files, registry or mutexes."""
import atexit
import contextlib
import ctypes
import functools
import json
import os
import queue
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time
import traceback
import unittest
from pathlib import Path

from sources import CAPTION, ID, TEXT  # noqa: F401  for the tests

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "unit"))
import payload_writer as payload  # noqa: E402  the reference writer and reader

# The variables: README.md.
WORK = Path(os.environ["VN_WORK"]) / "e2e" if os.environ.get("VN_WORK") else REPO / "build" / "e2e"
ARTIFACTS = WORK.with_name("e2e-artifacts")
DISPLAY = os.environ.get("VN_DISPLAY")
UPDATER = Path(os.environ.get("VN_UPDATER", REPO / "dist" / "vnupdate.exe")).resolve()
PROGRAMS = Path(os.environ.get("VN_BUILD", REPO / "build" / "win32")).resolve() / "tests" / "e2e"
KEEP_PREFIXES = os.environ.get("VN_KEEP") == "1"
# "win64" where 32-bit code cannot run: the 64-bit builds of the same sources.
WINE_ARCH = os.environ.get("VN_WINE_ARCH", "win32")
# The executable as it ships, and the same sources built as PE32+.
SHIPPED, SHIPPED_64 = REPO / "dist" / "vnupdate.exe", REPO / "build" / "win64" / "dist" / "vnupdate.exe"
PICTURE = REPO / "examples" / "demo-update" / "insttscr.rct"
WM_QUIT, WM_APP, VK_RETURN, VK_ESCAPE = 0x12, 0x8000, 0x0D, 0x1B
IDOK, IDCANCEL, IDRETRY, IDYES, IDNO = 1, 2, 4, 6, 7
TEXT_ID, ICON_ID = -1, 1088  # of a message box's text and icon
EXIT_FAILURE = 0xFFFFFFFF  # -1 as the process reports it


class BenchError(Exception):
    """The bench failed, or a program under test crashed while it waited."""


# Wine's and winedbg's line on a crashing program's standard error.
CRASH_LINE = re.compile(r"^.*\bUnhandled\b.*$", re.MULTILINE)
# Fonts with Japanese glyphs for the ones dialogs and boxes ask for; Wine's
# own window manager and crash dialog off.
PREFIX_REG = ("Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n" + "".join(
                  '"%s"="IPAPGothic"\r\n' % name for name in (
                      "Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "MS UI Gothic", "MS Gothic",
                      "MS PGothic", "ＭＳ ゴシック", "ＭＳ Ｐゴシック")) +
              "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n"
              "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n")
# Hard-linked into each copy: Wine never writes these; it rewrites the rest in place.
LINKED = re.compile(r"\.(dll|exe|drv|sys|ocx|acm|cpl|tlb|ax|ds|nls|ttf|ttc|fon|msstyles|mui|dll16|"
                    r"exe16|vxd|msi|sdb|cat)$", re.I)


def wine_env(prefix, display):
    """No Japanese locale (Wine keeps code page 1252, as on a non-Japanese
    Windows); Unix file names as UTF-8. On win64, shims so that "wine" and
    "wineboot" run the 64-bit loader, which Debian's scripts never pick."""
    env = {k: v for k, v in os.environ.items() if k not in ("LANG", "LC_ALL")}
    env.update(WINEPREFIX=str(prefix), WINEARCH=WINE_ARCH, WINEDEBUG="-all", DISPLAY=display,
               WINEDLLOVERRIDES="mscoree,mshtml=", LC_CTYPE="C.UTF-8")
    if WINE_ARCH == "win64":
        shims = WORK / "wine64-bin"
        shims.mkdir(parents=True, exist_ok=True)
        for name, command in (("wine", ""), ("wineboot", " wineboot.exe")):
            (shims / name).write_text('#!/bin/sh\nexec /usr/lib/wine/wine64%s "$@"\n' % command)
            (shims / name).chmod(0o755)
        env.update(WINELOADER="/usr/lib/wine/wine64", PATH=str(shims) + os.pathsep + env["PATH"])
    return env


@functools.lru_cache(maxsize=None)
def fixed_layout():
    """The command prefix that starts Wine, and every program the driver starts,
    without address randomization where the host allows it (a container's
    seccomp may not): a start whose randomized ranges collide with the ones
    Wine's loader reserves dies before it reports to its parent."""
    command = ["setarch", os.uname().machine, "-R"]
    allowed = subprocess.run(command + ["true"], stdin=subprocess.DEVNULL,
                             capture_output=True).returncode == 0
    return command if allowed else []


def run_quiet(args, env, log, timeout=120):
    # Never a pipe: a wineserver started on demand would inherit it and keep
    # the reader waiting for ever.
    with open(log, "ab") as out:
        return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=timeout).returncode


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise BenchError("%s within %.0f s" % (what, timeout))
        time.sleep(0.02)


def fanotify(path, mask):
    """A fanotify group of the permission class marked for mask on path (root only;
    OSError where not allowed); closing it lets every event it holds go on."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.fanotify_mark.argtypes = [ctypes.c_int, ctypes.c_uint, ctypes.c_uint64, ctypes.c_int,
                                   ctypes.c_char_p]
    fd = libc.fanotify_init(0x5, os.O_RDONLY)  # FAN_CLASS_CONTENT | FAN_CLOEXEC
    if fd >= 0 and libc.fanotify_mark(fd, 1, mask, -100, bytes(path)) == 0:  # FAN_MARK_ADD, AT_FDCWD
        return fd
    error = ctypes.get_errno()
    if fd >= 0:
        os.close(fd)
    raise OSError(error, os.strerror(error))


def fanotify_events(fd):
    """The file descriptors of the events waiting in the group."""
    data = os.read(fd, 4096)  # fanotify_event_metadata: len, ver, -, size, mask, fd, pid
    return [struct.unpack_from("=IBBHQii", data, at)[5] for at in range(0, len(data), 24)]


@contextlib.contextmanager
def open_gate(folder, timeout=60):
    """Within its block, the first program to open a file in folder stops at
    that open until the block ends (the wait() it yields returns once one has):
    a moment inside a program's work on that folder that no timing decides.
    The bench opens nothing there meanwhile."""
    try:
        gate = fanotify(folder, 0x08010000)  # FAN_OPEN_PERM | FAN_EVENT_ON_CHILD
    except OSError as error:
        raise unittest.SkipTest("no fanotify gate here: %s" % error) from None
    events = []

    def wait():
        if not select.select([gate], [], [], timeout)[0]:
            raise BenchError("nothing opened a file in %s within %d s" % (folder, timeout))
        events.extend(fanotify_events(gate))
    try:
        yield wait
    finally:
        for fd in events + [gate]:
            os.close(fd)


class Suite:
    """Xvfb and the prepared prefix, shared by every test of one process."""

    def __init__(self):
        self.xvfb, self.display, self.error, self.removals, self.sessions = None, DISPLAY, None, [], []
        self.base = WORK / "prefix-base"
        shutil.rmtree(WORK / "trash", ignore_errors=True)
        (WORK / "trash").mkdir(parents=True, exist_ok=True)

    def start(self):
        if not self.display:  # Xvfb picks a free display and writes its number to stdout
            with open(WORK / "xvfb.log", "wb") as log:
                self.xvfb = subprocess.Popen(
                    ["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                    start_new_session=True)
            said = select.select([self.xvfb.stdout], [], [], 20)[0]
            number = self.xvfb.stdout.readline().strip() if said else b""
            if not number.isdigit():
                raise BenchError("Xvfb did not report a display (see %s)" % (WORK / "xvfb.log"))
            self.display = ":" + number.decode()
        shutil.rmtree(self.base, ignore_errors=True)
        env, log = wine_env(self.base, self.display), WORK / "prefix-base.log"
        log.unlink(missing_ok=True)
        run_quiet(["wineboot", "-i"], env, log, timeout=300)
        (WORK / "prefix.reg").write_text(PREFIX_REG, encoding="utf-16")
        run_quiet(["wine", "regedit", "/S", str(WORK / "prefix.reg")], env, log)
        run_quiet(["wineserver", "-w"], env, log)  # which also writes the registry to disk
        user = self.base / "user.reg"
        if not user.is_file() or "IPAPGothic" not in user.read_text(errors="replace"):
            last = log.read_text(errors="replace").strip().splitlines()[-1:] or ["(empty)"]
            raise BenchError("no prepared prefix; %s ends: %s" % (log, last[0]))

    def copy_prefix(self, target):
        shutil.copytree(self.base, target, symlinks=True, copy_function=lambda s, d: (
            os.link if LINKED.search(str(s)) else shutil.copy2)(s, d))

    def discard(self, folder):  # in the background: nothing waits for it
        target = WORK / "trash" / ("%s-%d" % (folder.name, time.monotonic_ns()))
        folder.rename(target)
        self.removals.append(subprocess.Popen(["nice", "rm", "-rf", str(target)]))

    def stop(self):
        for session in list(self.sessions):
            session.close(keep=True)
        if self.xvfb and self.xvfb.poll() is None:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            self.xvfb.wait(10)
        for removal in self.removals:
            removal.wait()


_suite = None


def suite():
    """The running suite, started on first use. A bench that did not start
    fails every test with the same reason, without trying again."""
    global _suite
    if _suite is None:
        _suite = Suite()
        atexit.register(_suite.stop)
        # KeyboardInterrupt, which unittest lets through: a killed run still takes Xvfb down.
        signal.signal(signal.SIGTERM, signal.default_int_handler)
        try:
            _suite.start()
        except Exception as error:
            _suite.error = "the bench did not start: %s" % error
    if _suite.error:
        raise BenchError(_suite.error)
    return _suite


def running(prefix, name):
    """The command lines of the prefix's live Linux processes that hold name
    (a Windows path or a part of one, in any case), zombies' (empty) left out."""
    mark, found = b"WINEPREFIX=" + bytes(prefix) + b"\0", []
    for process in Path("/proc").glob("[0-9]*"):
        with contextlib.suppress(OSError):
            line = (process / "cmdline").read_bytes()
            if name.lower().encode() in line.lower() and mark in (process / "environ").read_bytes():
                found.append(line.replace(b"\0", b" ").decode(errors="replace").strip())
    return found


class Program:
    def __init__(self, session, pid, tid, out, path):
        self.session, self.pid, self.tid, self.out, self.path = session, pid, tid, out, path

    def wait_exit(self, timeout=15.0):
        """The full 32-bit exit code, or None while it still runs."""
        answer = self.session.call("waitexit", pid=self.pid, timeout=int(timeout * 1000))
        return answer["code"] if answer.get("exited") else None

    def kill(self):
        """Ends the program and waits until its Linux process has exited too,
        which Wine's end of the process comes before: a program started next
        does not start while this one's process is still being taken down."""
        self.session.expect("kill", pid=self.pid)
        wait_for(lambda: not running(self.session.prefix, self.path), 30, "the killed program's exit")

    def output(self):
        return self.out.read_text(errors="replace") if self.out.exists() else ""

    def check_crash(self, code=None):  # on Wine's crash line or an exception's exit code
        line = CRASH_LINE.search(self.output())
        if line or (code is not None and code & 0xF0000000 == 0xC0000000):
            raise BenchError("the program crashed: %s (its output: %s)" % (
                line[0].strip() if line else "exit code 0x%08X" % code, self.out))


class WineSession:
    """One test's own prefix, wineserver and driver. prepare(prefix), when
    given, runs on the copied prefix before Wine starts in it."""

    def __init__(self, name, dll_overrides="", prepare=None):
        self.suite = suite()
        self.dir, self.artifacts = WORK / "tests" / name, ARTIFACTS / name
        shutil.rmtree(self.artifacts, ignore_errors=True)
        self.artifacts.mkdir(parents=True)
        if self.dir.exists():
            self.suite.discard(self.dir)
        self.prefix, self.shots, self.started, self.programs = self.dir / "prefix", 0, 0, {}
        self.suite.copy_prefix(self.prefix)
        if prepare:
            prepare(self.prefix)
        self.suite.sessions.append(self)
        self.env, self.driver = wine_env(self.prefix, self.suite.display), None
        if dll_overrides:  # inherited by every program the driver starts
            self.env["WINEDLLOVERRIDES"] += ";" + dll_overrides
        # The wineserver runs before the driver starts, so that the pipes are its alone.
        run_quiet(["wineserver", "-p"], self.env, os.devnull, timeout=30)
        self.log = open(self.dir / "driver.stderr", "wb")
        self.driver = subprocess.Popen([*fixed_layout(), "wine", str(PROGRAMS / "uidriver.exe")],
                                       env=self.env,
                                       stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=self.log, start_new_session=True)
        self.answers = queue.Queue()
        self.reader = threading.Thread(target=lambda: [*map(self.answers.put, self.driver.stdout),
                                                       self.answers.put(None)], daemon=True)
        self.reader.start()
        if not self.receive(60).get("ready"):
            raise BenchError("the driver did not start")
        self.drive_c, self.bench_dir = self.prefix / "drive_c", self.prefix / "drive_c" / "bench"
        self.bench_dir.mkdir(exist_ok=True)
        [self.temp_dir] = self.drive_c.glob("users/*/Temp")  # the updater's work folders

    def to_windows(self, path):
        relative = Path(path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + str(relative).replace("/", "\\").lstrip(".")

    def receive(self, timeout):
        try:
            line = self.answers.get(timeout=timeout)
        except queue.Empty:
            raise BenchError("the driver gave no answer within %.0f s" % timeout)
        if line is None:
            raise BenchError("the driver ended (see %s)" % self.log.name)
        return json.loads(line.decode("utf-8"))

    def call(self, command, **args):  # the answer: a dict with "ok"
        fields = ["%s=%s" % (k, str(v).encode().hex()) for k, v in args.items() if v is not None]
        self.driver.stdin.write(("\t".join([command] + fields) + "\n").encode("utf-8"))
        self.driver.stdin.flush()
        return self.receive(int(args.get("timeout", 0)) / 1000 + 30)

    def expect(self, command, **args):
        answer = self.call(command, **args)
        if not answer.get("ok"):
            raise BenchError("%s failed: %s" % (command, answer.get("error", answer)))
        return answer

    def windows(self, **filters):  # top-level windows matching pid/cls/title/visible
        return self.expect("windows", **filters)["windows"]

    def wait_window(self, timeout=20.0, where=lambda window: True, **filters):
        """The first visible window matching the filters and where, or None
        after timeout s or, for a program started here (pid=), once it has
        ended; BenchError as soon as Wine reports its crash."""
        program, deadline = self.programs.get(filters.get("pid")), time.monotonic() + timeout
        while True:
            found = [w for w in self.windows(visible=1, **filters) if where(w)]
            code = program.wait_exit(0) if program and not found else None
            if program:
                program.check_crash(code)
            if found or code is not None or time.monotonic() >= deadline:
                return found[0] if found else None
            time.sleep(0.05)

    def controls(self, hwnd):  # by id, or None when the window is gone
        answer = self.call("controls", hwnd=hwnd)
        return {c["id"]: c for c in answer["controls"]} if answer.get("ok") else None

    def click(self, hwnd, control_id=None):
        return self.expect("click", hwnd=hwnd, id=control_id)

    def answer(self, hwnd, how):  # a button's id, the Escape key ("escape") or the close box ("close")
        if how == "escape":
            return self.expect("key", hwnd=hwnd, vk=VK_ESCAPE)
        return self.expect("close", hwnd=hwnd) if how == "close" else self.click(hwnd, how)

    def grab(self, rect):  # raw RGB bytes of a screen rectangle (a driver rect)
        width, height = rect["right"] - rect["left"], rect["bottom"] - rect["top"]
        crop = "%dx%d+%d+%d" % (width, height, rect["left"], rect["top"])
        done = subprocess.run(["import", "-display", self.suite.display, "-window", "root",
                               "-crop", crop, "-depth", "8", "rgb:-"], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=30)
        if done.returncode != 0 or len(done.stdout) != width * height * 3:
            raise BenchError("cannot grab %s from the display" % crop)
        return done.stdout

    def install(self, source, name=None):  # to C:\\bench\\name (may hold a folder): its Windows path
        target = self.bench_dir / (name or Path(source).name)
        shutil.copy2(source, target)
        return self.to_windows(target)

    def reg(self, *args):
        if run_quiet(["wine", "reg", *args], self.env, self.dir / "reg.log"):
            raise BenchError("reg %s failed (see reg.log)" % " ".join(args))

    def register_viewer(self):  # echoargs.exe as the shell's program for .txt files
        viewer = self.install(PROGRAMS / "echoargs.exe")
        self.reg("add", r"HKCR\.txt", "/ve", "/d", "txtfile", "/f")
        self.reg("add", r"HKCR\txtfile\shell\open\command", "/ve", "/d", '"%s" "%%1"' % viewer, "/f")

    def echoed(self, folder=None):  # the command line and current folder echoargs.exe wrote
        record = Path(folder or self.bench_dir) / "echoargs.out"
        wait_for(lambda: record.exists() and record.read_text().count("\n") >= 2, 20,
                 "%s was not started" % record.with_name("echoargs.exe"))
        return record.read_text().splitlines()[:2]

    def start(self, program, name=None, args=()):
        """Starts a program: a Linux path is installed first, a Windows path
        (from install) runs where it is. Its output goes to a file of its own."""
        path = program if isinstance(program, str) else self.install(program, name)
        self.started += 1
        out = self.bench_dir / ("out-%d.txt" % self.started)
        answer = self.call("start", exe=path, args=" ".join(args), out=self.to_windows(out),
                           cwd=self.to_windows(self.bench_dir))
        if not answer.get("ok"):  # with what Wine's loader said, if it said anything
            raise BenchError("start failed: %s; its output: %r" % (
                answer.get("error", answer), out.read_bytes()[-2000:] if out.exists() else None))
        self.programs[answer["pid"]] = Program(self, answer["pid"], answer["tid"], out, path)
        return self.programs[answer["pid"]]

    def screenshot(self, step):
        self.shots += 1
        path = self.artifacts / ("%02d-%s.png" % (self.shots, re.sub(r"[^\w.-]+", "-", step)))
        subprocess.run(["import", "-display", self.suite.display, "-window", "root", str(path)],
                       stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return path

    def close(self, keep=False):
        self.suite.sessions.remove(self)
        if self.driver:
            with contextlib.suppress(OSError, subprocess.TimeoutExpired):
                self.driver.stdin.write(b"exit\n")
                self.driver.stdin.close()
                self.driver.wait(10)
            self.driver.kill()
            self.driver.wait()
            self.log.close()
        run_quiet(["wineserver", "-k"], self.env, os.devnull, timeout=30)
        run_quiet(["wineserver", "-w"], self.env, os.devnull, timeout=30)
        if self.driver:
            # Programs the driver started hold its pipe too: only now that the
            # prefix's processes are gone does the reader see the end.
            self.reader.join(10)
            if not self.reader.is_alive():
                self.driver.stdout.close()
        if not keep and not KEEP_PREFIXES:
            self.suite.discard(self.dir)


def write_tree(folder, files):  # {relative name: bytes} into folder
    for name, data in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)


def work_folders(temp_dir):
    return sorted(p for p in Path(temp_dir).iterdir() if p.name.startswith("TempGPInstallFolder_"))


def vnpack(*args):
    return subprocess.run([str(REPO / "dist" / "vnpack")] + [str(a) for a in args],
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)


def build_updater(folder, output):
    done = vnpack("build", folder, "-o", output, "--stub", UPDATER)
    if done.returncode != 0:
        raise BenchError("vnpack build %s failed: %s" % (folder, done.stderr.strip()))
    return Path(output)


def write_updater(output, entries, padded=False):
    """The updater under test with an archive of the reference writer (for
    payloads vnpack refuses); padded to a multiple of 8 for signing."""
    archive = payload.archive_bytes(entries)
    if padded:
        archive += bytes(-(UPDATER.stat().st_size + len(archive) + 4) % 8)
    Path(output).write_bytes(payload.with_trailer(UPDATER.read_bytes(), archive))
    return Path(output)


class BenchTest(unittest.TestCase):
    """A test with its own Wine session in self.wine; a failure leaves a
    screenshot and its traceback in the test's artifacts."""
    dll_overrides = ""  # appended to WINEDLLOVERRIDES for the whole session
    prepare_prefix = None  # a class's prepare(prefix) for its sessions

    def _callTestMethod(self, method):  # unittest's call of the test method alone
        with self.evidence():  # taken while the windows are still up
            method()

    @contextlib.contextmanager
    def evidence(self, label=""):
        try:
            yield
        except unittest.SkipTest:
            raise
        except BaseException:
            self.failed = True
            self.wine.screenshot("failure" + label)
            with open(self.wine.artifacts / "failure.txt", "a") as out:
                out.write("%s%s\n%s\n" % (self.id(), label, traceback.format_exc()))
            raise

    @contextlib.contextmanager
    def subTest(self, *message, **params):
        label = " ".join(["", *map(str, message), *("%s=%s" % p for p in params.items())])
        with super().subTest(*message, **params), self.evidence(label):
            yield

    def window_of(self, program, failure="no start-up window", **filters):
        """The program's first visible window that matches; the test fails without one."""
        window = self.wine.wait_window(pid=program.pid, **filters)
        self.assertIsNotNone(window, failure)
        return window

    def check_box(self, program, text, buttons, icon="error", title=None, owner=None, box=None):
        """A message box's (by default the program's first) text, visible buttons,
        icon on screen, caption and owner; returns the box and its controls by id."""
        box = box or self.window_of(program, "no message box", cls="#32770")
        controls = self.wine.controls(box["hwnd"]) or {}
        self.assertEqual(controls.get(TEXT_ID, {}).get("text"), text)
        shown = [i for i, c in controls.items() if c["class"].lower() == "button" and c["visible"]]
        self.assertEqual(sorted(shown), sorted(buttons), "buttons")
        seen = self.wine.expect("icon", hwnd=box["hwnd"], id=ICON_ID)
        self.assertEqual(seen["best"], icon, "icon on screen")
        if title is not None:
            self.assertEqual(box["title"], title, "caption")
        if owner is not None:
            self.assertEqual(box["owner"], owner, "owner window")
        return box, controls

    def check_clipboard(self, text):  # as a Unicode and a code page 932 program would paste it
        clip = self.wine.expect("clipboard")
        self.assertEqual(bytes.fromhex(clip["unicode_hex"] or "").decode("utf-16-le"), text)
        self.assertEqual(bytes.fromhex(clip["text_hex"] or ""), text.encode("cp932"), "CF_TEXT")

    def setUp(self):
        self.failed, self.wine = False, WineSession(self.id(), self.dll_overrides, self.prepare_prefix)

    def tearDown(self):
        self.wine.close(keep=self.failed)
