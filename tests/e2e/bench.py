"""The Wine bench: a virtual display, a prepared 32-bit Wine prefix, and per
test a copy of that prefix with its own wineserver and a UI driver inside it.

One suite run starts one Xvfb and boots one prefix (build/e2e/prefix-base).
Every test gets its own copy of the prefix (the large, never-written binaries
hard-linked, everything else copied), so tests cannot see each other's files,
registry or mutexes, and a copy costs well under a second.

Tests subclass BenchTest and use self.wine (a WineSession). Screenshots land in
build/e2e-artifacts/<test name>/, at named steps and on every failure.
"""
import functools
import json
import os
import pwd
import queue
import re
import select
import shutil
import signal
import struct
import subprocess
import threading
import time
import unittest
import urllib.parse
import zlib
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WORK = REPO / "build" / "e2e"
ARTIFACTS = REPO / "build" / "e2e-artifacts"


class Config:
    """Filled in by run.py from its arguments."""
    updater = REPO / "dist" / "vnupdate.exe"
    build = REPO / "build" / "win32"
    keep_prefixes = False
    # "win64" on a host that cannot execute 32-bit code: the programs are then
    # the 64-bit builds of the same sources, run by Wine's 64-bit loader.
    arch = os.environ.get("VN_WINE_ARCH", "win32")
    # Written as standin.fault beside the program under test (the stand-in
    # reads it; the real updater ignores it).
    standin_faults = ()

    @classmethod
    def driver(cls):
        return Path(cls.build) / "tests" / "e2e" / "uidriver.exe"


config = Config


class BenchError(Exception):
    """The bench itself failed (not the program under test)."""


# Fonts with Japanese glyphs in place of the ones dialogs and message boxes ask for.
# The dialog templates name the Japanese fonts by their Japanese names.
FONT_REPLACEMENTS = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "MS UI Gothic",
                     "MS Gothic", "MS PGothic", "ＭＳ ゴシック", "ＭＳ Ｐゴシック"]

PREFIX_REG = "Windows Registry Editor Version 5.00\r\n\r\n" \
    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n" + \
    "".join('"%s"="IPAPGothic"\r\n' % name for name in FONT_REPLACEMENTS) + \
    "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n\"Managed\"=\"N\"\r\n" \
    "\r\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n"

# Hard-linked into each copy: Wine reads these and never writes them. Anything
# else (registry files, win.ini, system.ini) is copied, because Wine rewrites
# some of them in place.
LINKED_SUFFIXES = {".dll", ".exe", ".drv", ".sys", ".ocx", ".acm", ".cpl", ".tlb",
                   ".ax", ".ds", ".nls", ".ttf", ".ttc", ".fon", ".msstyles", ".mui",
                   ".dll16", ".exe16", ".vxd", ".msi", ".sdb", ".cat"}


def _loader_shims():
    """A folder whose "wine" and "wineboot" run Wine's 64-bit loader: Debian's
    own scripts always pick the 32-bit one when it is installed."""
    folder = WORK / "wine64-bin"
    folder.mkdir(parents=True, exist_ok=True)
    for name, command in (("wine", ""), ("wineboot", " wineboot.exe")):
        shim = folder / name
        shim.write_text('#!/bin/sh\nexec /usr/lib/wine/wine64%s "$@"\n' % command)
        shim.chmod(0o755)
    return folder


def _wine_env(prefix, display):
    env = dict(os.environ)
    env.update(WINEPREFIX=str(prefix), WINEARCH=config.arch, WINEDEBUG="-all",
               DISPLAY=display, WINEDLLOVERRIDES="mscoree,mshtml=")
    if config.arch == "win64":
        env.update(WINELOADER="/usr/lib/wine/wine64",
                   PATH=str(_loader_shims()) + os.pathsep + env["PATH"])
    for name in ("LANG", "LC_ALL", "LC_CTYPE"):
        env.pop(name, None)  # the updater must not depend on a Japanese locale
    # Unix file names as UTF-8, so that files the tests make under Japanese or
    # Korean names are the ones Wine shows. The code page stays 1252.
    env["LC_CTYPE"] = "C.UTF-8"
    return env


def _run_quiet(args, env, log, timeout=120):
    # Never a pipe: a wineserver started on demand would inherit it and keep
    # the reader waiting for ever.
    with open(log, "ab") as out:
        return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out,
                              stderr=subprocess.STDOUT, timeout=timeout).returncode


class Suite:
    """Xvfb and the prepared prefix, shared by every test of one run."""

    def __init__(self):
        self.xvfb = None
        self.display = None
        self.base = WORK / "prefix-base"
        self.sessions = []
        self.removals = []

    def start(self):
        WORK.mkdir(parents=True, exist_ok=True)
        shutil.rmtree(WORK / "trash", ignore_errors=True)
        self._start_xvfb()
        self._prepare_prefix()

    def _start_xvfb(self):
        # Xvfb picks a free display itself and writes its number to the pipe.
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(WORK / "xvfb.log", "wb"), start_new_session=True)
        os.close(write_end)
        data = b""
        deadline = time.monotonic() + 20
        while not data.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 0.5)
            if ready:
                chunk = os.read(read_end, 64)
                if not chunk:
                    break
                data += chunk
        os.close(read_end)
        if not data.strip().isdigit():
            raise BenchError("Xvfb did not report a display (see %s)" % (WORK / "xvfb.log"))
        self.display = ":" + data.strip().decode()

    def _prepare_prefix(self):
        if self.base.exists():
            shutil.rmtree(self.base)
        env = _wine_env(self.base, self.display)
        log = WORK / "prefix-base.log"
        log.unlink(missing_ok=True)
        _run_quiet(["wineboot", "-i"], env, log, timeout=300)
        reg = WORK / "prefix.reg"
        reg.write_text(PREFIX_REG, encoding="utf-16")
        _run_quiet(["wine", "regedit", "/S", str(reg)], env, log)
        # Waiting for the server to end also writes the registry to disk
        # before the prefix is copied.
        _run_quiet(["wineserver", "-w"], env, log, timeout=120)
        if "IPAPGothic" not in (self.base / "user.reg").read_text(errors="replace"):
            raise BenchError("font replacements missing from the prepared prefix (%s)" % log)

    def copy_prefix(self, target):
        if target.exists():
            shutil.rmtree(target)
        for folder, dirs, files in os.walk(self.base):
            relative = Path(folder).relative_to(self.base)
            (target / relative).mkdir(parents=True, exist_ok=True)
            for name in dirs + files:
                source = Path(folder) / name
                destination = target / relative / name
                if source.is_symlink():
                    os.symlink(os.readlink(source), destination)
                elif name in files:
                    if source.suffix.lower() in LINKED_SUFFIXES:
                        os.link(source, destination)
                    else:
                        shutil.copy2(source, destination)
            dirs[:] = [d for d in dirs if not (Path(folder) / d).is_symlink()]

    def discard(self, folder):
        """Removes a finished test's folder in the background: thousands of
        small folders take seconds to delete and nothing waits for them."""
        trash = WORK / "trash"
        trash.mkdir(exist_ok=True)
        target = trash / ("%s-%d" % (folder.name, time.monotonic_ns()))
        folder.rename(target)
        self.removals.append(subprocess.Popen(["nice", "rm", "-rf", str(target)],
                                              stdin=subprocess.DEVNULL))

    def screenshot(self, path):
        if not self.display:
            return None
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-display", self.display, "-window", "root", str(path)],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)
        return path

    def stop(self):
        for session in list(self.sessions):
            session.close(keep=True)
        if self.xvfb and self.xvfb.poll() is None:
            os.killpg(self.xvfb.pid, signal.SIGTERM)
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.xvfb.pid, signal.SIGKILL)
        self.xvfb = None
        for removal in self.removals:
            removal.wait()
        self.removals = []


_suite = None


def suite():
    """The running suite, started on first use."""
    global _suite
    if _suite is None:
        _suite = Suite()
        try:
            _suite.start()
        except BaseException:
            _suite.stop()
            raise
    return _suite


def shutdown():
    global _suite
    if _suite is not None:
        _suite.stop()
        _suite = None


def quote(value):
    return urllib.parse.quote(str(value), safe="")


class Driver:
    """The persistent uidriver.exe, talking JSON lines over its pipes. The
    wineserver of the session is running before it starts, so the pipes belong
    to the driver alone."""

    def __init__(self, session):
        self.session = session
        self.log = open(session.dir / "driver.stderr", "wb")
        self.process = subprocess.Popen(
            ["wine", str(config.driver())], env=session.env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=self.log, start_new_session=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._reader, daemon=True).start()
        hello = self._receive(60)
        if not hello.get("ready"):
            raise BenchError("driver did not start: %r" % hello)

    def _reader(self):
        for line in self.process.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def _receive(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise BenchError("driver gave no answer within %.0f s" % timeout)
        if line is None:
            raise BenchError("driver ended (see %s)" % self.log.name)
        return json.loads(line.decode("utf-8"))

    def call(self, command, **args):
        """Runs one command; returns the answer (a dict with "ok")."""
        fields = [command] + ["%s=%s" % (k, quote(v)) for k, v in args.items() if v is not None]
        self.process.stdin.write(("\t".join(fields) + "\n").encode("utf-8"))
        self.process.stdin.flush()
        timeout = int(args.get("timeout", 0)) / 1000 + 30
        return self._receive(timeout)

    def close(self):
        if self.process.poll() is None:
            try:
                self.process.stdin.write(b"exit\n")
                self.process.stdin.flush()
                self.process.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.process.kill()
        self.log.close()


class Program:
    """A program under test started inside a session."""

    def __init__(self, session, pid, tid, windows_path, wine_process=None):
        self.session, self.pid, self.tid = session, pid, tid
        self.windows_path = windows_path
        self.wine_process = wine_process

    def wait_exit(self, timeout=10.0):
        """The full 32-bit exit code, or None while it still runs."""
        answer = self.session.call("waitexit", pid=self.pid, timeout=int(timeout * 1000))
        return answer["code"] if answer.get("exited") else None

    def kill(self):
        self.session.driver.call("kill", pid=self.pid, code=1)


class WineSession:
    """One test's own prefix, wineserver and driver."""

    def __init__(self, name):
        self.suite = suite()
        self.name = name
        self.dir = WORK / "tests" / name
        self.artifacts = ARTIFACTS / name
        if self.artifacts.exists():
            shutil.rmtree(self.artifacts)
        self.artifacts.mkdir(parents=True)
        if self.dir.exists():
            self.suite.discard(self.dir)
        self.prefix = self.dir / "prefix"
        self.suite.copy_prefix(self.prefix)
        self.env = _wine_env(self.prefix, self.suite.display)
        self.shots = 0
        self.driver = None
        self.suite.sessions.append(self)
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        self.driver = Driver(self)
        self.drive_c = self.prefix / "drive_c"
        self.bench_dir = self.drive_c / "bench"
        self.bench_dir.mkdir(exist_ok=True)

    # ------------------------------------------------------------ paths

    @property
    def temp_dir(self):
        """The user's temporary folder of this prefix, as a Linux path."""
        users = self.drive_c / "users"
        own = users / pwd.getpwuid(os.getuid()).pw_name / "Temp"
        if own.is_dir():
            return own
        found = [p / "Temp" for p in users.iterdir() if p.name != "Public" and (p / "Temp").is_dir()]
        if len(found) != 1:
            raise BenchError("cannot tell the user's Temp folder among %s" % found)
        return found[0]

    def to_windows(self, path):
        relative = Path(path).resolve().relative_to(self.drive_c.resolve())
        return "C:\\" + str(relative).replace("/", "\\").lstrip(".")

    # ------------------------------------------------------------ driver

    def call(self, command, **args):
        return self.driver.call(command, **args)

    def expect(self, command, **args):
        answer = self.call(command, **args)
        if not answer.get("ok"):
            raise BenchError("%s failed: %s" % (command, answer.get("error", answer)))
        return answer

    def clock(self):
        return self.expect("clock")["ms"]

    def windows(self, **filters):
        return self.expect("windows", **filters)["windows"]

    def wait_window(self, timeout=10.0, **filters):
        """The first visible top-level window matching cls/title/text/pid/exe,
        or None after timeout seconds."""
        answer = self.call("wait", timeout=int(timeout * 1000), **filters)
        return answer["window"] if answer.get("ok") else None

    def controls(self, hwnd):
        return self.expect("controls", hwnd=hwnd)

    def click(self, hwnd, control_id=None):
        return self.expect("click", hwnd=hwnd, id=control_id)

    def clipboard(self):
        answer = self.expect("clipboard")
        raw = answer.get("text_hex")
        answer["text_bytes"] = bytes.fromhex(raw) if raw is not None else None
        return answer

    def set_clipboard(self, text=None):
        return self.expect("clipset", text=text)

    def registry(self, key, value, root="HKCU"):
        """(exists, data) of a registry value, read inside the prefix."""
        answer = self.expect("regget", root=root, key=key, value=value)
        return answer.get("exists", False), answer.get("data", answer.get("hex"))

    def message_box(self, pid, timeout=20.0):
        """The first message box of a process and its controls by id, or
        (None, {}) when none appears in time."""
        box = self.wait_window(pid=pid, cls="#32770", timeout=timeout)
        if box is None:
            return None, {}
        return box, {c["id"]: c for c in self.controls(box["hwnd"])["controls"]}

    def grab(self, rect):
        """Raw RGB bytes of a screen rectangle (a driver rect), from the X display."""
        width, height = rect["right"] - rect["left"], rect["bottom"] - rect["top"]
        crop = "%dx%d+%d+%d" % (width, height, rect["left"], rect["top"])
        done = subprocess.run(["import", "-display", self.suite.display, "-window", "root",
                               "-crop", crop, "-depth", "8", "rgb:-"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=30)
        if done.returncode != 0 or len(done.stdout) != width * height * 3:
            raise BenchError("cannot grab %s from the display" % crop)
        return done.stdout

    # ------------------------------------------------------------ programs

    def install_program(self, source, name=None):
        """Copies an executable to C:\\bench and returns its Windows path."""
        source = Path(source)
        if not source.is_file():
            raise BenchError("program not found: %s" % source)
        target = self.bench_dir / (name or source.name)
        shutil.copy2(source, target)
        if config.standin_faults:
            (self.bench_dir / "standin.fault").write_text("\n".join(config.standin_faults) + "\n")
        return self.to_windows(target)

    def start(self, source, name=None, args=None, cwd=None, via_wine=False):
        """Starts a program under test. Through the driver by default (full
        exit code); via_wine runs `wine PROGRAM` with its output in files."""
        path = self.install_program(source, name)
        cwd = cwd or self.to_windows(self.bench_dir)
        if via_wine:
            out = open(self.dir / ("%s.out" % Path(path.replace("\\", "/")).name), "ab")
            process = subprocess.Popen(["wine", path] + list(args or []), env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                                       start_new_session=True)
            exe = path.rsplit("\\", 1)[1].lower()
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline:
                pids = self.expect("pids", exe=exe)["pids"]
                if pids:
                    return Program(self, pids[0], None, path, process)
                time.sleep(0.1)
            raise BenchError("%s did not appear" % path)
        output = self.to_windows(self.bench_dir) + "\\program.out"
        answer = self.expect("start", exe=path, args=" ".join(args or []) or None,
                             cwd=cwd, out=output)
        return Program(self, answer["pid"], answer["tid"], path)

    # ------------------------------------------------------------ evidence

    def screenshot(self, step):
        self.shots += 1
        safe = re.sub(r"[^A-Za-z0-9_.-]+", "-", step)
        return self.suite.screenshot(self.artifacts / ("%02d-%s.png" % (self.shots, safe)))

    def close(self, keep=False):
        if self in self.suite.sessions:
            self.suite.sessions.remove(self)
        if self.driver:
            self.driver.close()
            self.driver = None
        subprocess.run(["wineserver", "-k"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run(["wineserver", "-w"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        if not keep and not config.keep_prefixes:
            self.suite.discard(self.dir)


# ---------------------------------------------------------------- updaters

WORK_FOLDER = re.compile(r"^TempGPInstallFolder_")


def work_folders(temp_dir):
    """The updater's work folders in a temporary folder, by name."""
    return sorted(p for p in Path(temp_dir).iterdir() if WORK_FOLDER.match(p.name))


def vnpack(*args):
    """Runs dist/vnpack; returns the finished process (text output)."""
    program = REPO / "dist" / "vnpack"
    if not program.is_file():
        raise BenchError("dist/vnpack is missing: build the native preset")
    return subprocess.run([str(program)] + [str(a) for a in args], stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=120)


def build_updater(folder, output):
    """vnpack build of folder around the updater under test; returns output."""
    done = vnpack("build", folder, "-o", output, "--stub", config.updater)
    if done.returncode != 0:
        raise BenchError("vnpack build %s failed: %s" % (folder, done.stderr.strip()))
    return Path(output)


# The payload layout written by hand, apart from vnpack, for payloads that
# vnpack refuses to build (no install.env, bad sections, unsafe names).
FOLDER_MARK = 0xFFFFFFFF
FILETIME_OF_1970 = 116444736000000000


def filetime(ns):
    """A Windows FILETIME from nanoseconds since 1970."""
    return ns // 100 + FILETIME_OF_1970


def archive_bytes(entries):
    """entries: (name, data, time) with name as str (code page 932) or bytes,
    data None for a folder. Ends with the end marker and its two zero bytes."""
    out = bytearray()
    for name, data, time_value in entries:
        raw = name.encode("cp932") if isinstance(name, str) else name
        field = raw + b"\0"
        out += struct.pack("<H", len(field)) + field
        if data is None:
            out += struct.pack("<II", FOLDER_MARK, 0)
        else:
            packed = zlib.compress(data, 9)
            out += struct.pack("<IIQ", len(data), len(packed), time_value) + packed
    return bytes(out + b"\0\0\0\0")


def write_updater(output, entries, stub=None):
    """The updater under test (or stub) with an archive of entries appended."""
    image = Path(stub or config.updater).read_bytes()
    Path(output).write_bytes(image + archive_bytes(entries) + struct.pack("<I", len(image)))
    return Path(output)


def read_archive(data):
    """The entries of an updater's archive: dicts of offset, name (bytes),
    folder, size, compressed, time, data (offset of the stream)."""
    position = struct.unpack_from("<I", data, len(data) - 4)[0]
    entries = []
    while True:
        length = struct.unpack_from("<H", data, position)[0]
        if length == 0:
            return entries
        name = data[position + 2:position + 2 + length - 1]
        size, compressed = struct.unpack_from("<II", data, position + 2 + length)
        entry = dict(offset=position, name=name, folder=size == FOLDER_MARK, size=size,
                     compressed=compressed)
        position += 2 + length + 8
        if not entry["folder"]:
            entry["time"] = struct.unpack_from("<Q", data, position)[0]
            entry["data"] = position + 8
            position += 8 + compressed
        entries.append(entry)


class BenchTest(unittest.TestCase):
    """A test with its own Wine session in self.wine. A failing test leaves a
    screenshot and its prefix (build/e2e/tests/<name>) behind."""

    def run(self, result=None):
        # Wrapped here, before unittest looks the method up, so that the
        # screenshot is taken while the program's windows are still up.
        name = self._testMethodName
        original = getattr(self, name)

        @functools.wraps(original)
        def guarded():
            try:
                return original()
            except unittest.SkipTest:
                raise
            except BaseException:
                self._failed = True
                if getattr(self, "wine", None):
                    self.wine.screenshot("failure")
                raise

        setattr(self, name, guarded)
        return super().run(result)

    def setUp(self):
        self._failed = False
        self.wine = None
        self.wine = WineSession(self.id().replace("__main__.", ""))

    def tearDown(self):
        if self.wine:
            self.wine.close(keep=self._failed)
