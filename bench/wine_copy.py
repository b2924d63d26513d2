#!/usr/bin/env python3
"""The copy pass under Wine: the updater's copy with its progress window
(copypass.exe --time) against vnpack.exe extract of the same payload in the
same prefix, and the time per file as the number of small files in one
folder grows. Medians of the runs: wall time of each process for the
first, copypass's own time of the copy for the second.

Usage: wine_copy.py [--mib N] [--counts 1000,2500,5000] [--runs 3] [--folder DIR]
Run after `. scripts/wine_bench.sh` (VN_BUILD, VN_UPDATER, VN_WINE_ARCH) and
the native build (dist/vnpack).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("VN_BUILD", REPO / "build" / "win32"))
STUB = Path(os.environ.get("VN_UPDATER", REPO / "dist" / "vnupdate.exe"))


def wine(env, *args):
    """Wall time and standard output of one Wine process; the output goes
    through a file (a pipe can keep the reader waiting: see BENCH-NOTES)."""
    out = Path(env["WINEPREFIX"] + ".out")
    with open(out, "wb") as output:
        start = time.monotonic()
        subprocess.run([env["WINELOADER"], *map(str, args)], env=env, stdout=output,
                       stderr=subprocess.DEVNULL, check=True)
        return time.monotonic() - start, out.read_text(errors="replace")


def updater(folder, files, output):
    """An updater of files (name -> bytes) built by vnpack from folder."""
    shutil.rmtree(folder, ignore_errors=True)
    for name, data in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)
    (folder / "install.env").write_bytes(b"TITLEBAR\tbench\r\n[EOF]\r\n")
    shutil.copy(REPO / "examples" / "demo-update" / "insttscr.rct", folder)
    subprocess.run([REPO / "dist" / "vnpack", "build", folder, "-o", output, "--stub", STUB],
                   check=True, stdout=subprocess.DEVNULL)
    return output


def timed_copy(env, runs, root, program, update):
    """Median wall time of copying update into a fresh folder with program,
    and for copypass the median of its own time of the copy alone."""
    walls, inside = [], []
    for run in range(runs):
        target = root / ("out%d" % run)
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir()
        source, destination = ("Z:" + str(p).replace("/", "\\") for p in (update, target))
        if program == "copypass":
            wall, output = wine(env, BUILD / "tests/e2e/copypass.exe", source, destination,
                                "--time")
            inside.append(int(output.split("copied")[1].split()[0]) / 1000)
        else:
            wall, _ = wine(env, BUILD / "tools/vnpack/vnpack.exe", "extract", source, destination,
                           "--force")
        walls.append(wall)
        shutil.rmtree(target)
    return statistics.median(walls), statistics.median(inside) if inside else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--counts", default="1000,2500,5000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--folder", default="/dev/shm/vnupdate-wine-bench")
    options = parser.parse_args()
    root = Path(options.folder)
    root.mkdir(parents=True, exist_ok=True)
    arch = os.environ.get("VN_WINE_ARCH", "win32")
    # Wine's own loader of that width: Debian's "wine" always takes the
    # 32-bit one when it is installed.
    env = dict(os.environ, WINEPREFIX=str(root / "prefix"), WINEDEBUG="-all", WINEARCH=arch,
               WINELOADER="/usr/lib/wine/wine64" if arch == "win64" else "/usr/lib/wine/wine",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    screen = None
    if "DISPLAY" not in env:  # the window needs a screen: a virtual one
        env["DISPLAY"] = ":%d" % (90 + os.getpid() % 100)
        screen = subprocess.Popen(["Xvfb", env["DISPLAY"], "-screen", "0", "1024x768x24"],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
    try:
        if not (root / "prefix").exists():
            subprocess.run([env["WINELOADER"], "wineboot.exe", "-i"], env=env, capture_output=True,
                           check=True)
            # Without a window manager, a managed window's closing waits 2 s for
            # one to answer.
            subprocess.run([env["WINELOADER"], "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v",
                            "Managed", "/d", "N", "/f"], env=env, capture_output=True, check=True)
        subprocess.run(["wineserver", "-p"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        rng = random.Random(7)
        rows = []

        # A mixed payload: small files of text-like bytes, a few big random ones.
        files, size, index = {}, 0, 0
        while size < options.mib << 20:
            length = rng.randint(4096, 256 << 10) if index % 20 else 8 << 20
            files["data/f%05d.bin" % index] = (rng.randbytes(length // 3) + bytes(length))[:length]
            size, index = size + length, index + 1
        update = updater(root / "src", files, root / "mixed.exe")
        window, _ = timed_copy(env, options.runs, root, "copypass", update)
        plain, _ = timed_copy(env, options.runs, root, "extract", update)
        rows.append(("copy with window, %d MiB, %d files" % (options.mib, len(files)), window,
                     "%.2f x vnpack extract (%.2f s)" % (window / plain, plain)))

        first = None
        for count in map(int, options.counts.split(",")):
            update = updater(root / "src", {"data/f%05d.txt" % n: b"x" * 700 for n in range(count)},
                             root / ("files%d.exe" % count))
            _, seconds = timed_copy(env, options.runs, root, "copypass", update)
            per_file = seconds / count
            first = first or per_file
            rows.append(("copy with window, %d small files" % count, seconds,
                         "%.0f us per file, %.2f x the first count"
                         % (per_file * 1e6, per_file / first)))
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if screen:
            screen.terminate()
    print("| Wine | seconds | ratio |\n|---|---|---|")
    for name, seconds, ratio in rows:
        print("| %s | %.2f | %s |" % (name, seconds, ratio))
    return 0


if __name__ == "__main__":
    sys.exit(main())
