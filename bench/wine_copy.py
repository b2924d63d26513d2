#!/usr/bin/env python3
"""The copy pass under Wine: the updater's copy with its progress window
(copypass.exe --time) against vnpack.exe extract of the same payload in the
same prefix (wall times of the processes), and the time per file as the
number of small files in one folder grows (copypass's own time of the copy)
against the least any program pays for as many new files in one folder on
this system (copypass.exe --create: CreateFileW, WriteFile, CloseHandle).
Best of the runs, taken in turns.

Usage: wine_copy.py [--mib N] [--counts 1000,2500,5000] [--runs 3] [--folder DIR]
Run after `. scripts/wine_bench.sh` (VN_BUILD, VN_UPDATER, VN_WINE_ARCH) and
the native build (dist/vnpack).
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]


def wine(env, *args):
    """Wall time and standard output of one Wine process; the output goes
    through a file (a pipe can keep the reader waiting: see BENCH-NOTES)."""
    out = Path(env["WINEPREFIX"] + ".out")
    with open(out, "wb") as output:
        start = time.monotonic()
        subprocess.run([env["WINELOADER"], *map(str, args)], env=env, stdout=output,
                       stderr=subprocess.DEVNULL, check=True)
        return time.monotonic() - start, out.read_text(errors="replace")


def updater(folder, files, output, stub):
    """An updater of files (name -> bytes) built by vnpack from folder."""
    shutil.rmtree(folder, ignore_errors=True)
    for name, data in files.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_bytes(data)
    (folder / "install.env").write_bytes(b"TITLEBAR\tbench\r\n[EOF]\r\n")
    shutil.copy(REPO / "examples" / "demo-update" / "insttscr.rct", folder)
    subprocess.run([REPO / "dist" / "vnpack", "build", folder, "-o", output, "--stub", stub],
                   check=True, stdout=subprocess.DEVNULL)
    return output


def timed(env, runs, root, *commands):
    """The best of runs of each command, taken in turns after one round to
    warm up (Wine's first start of a program in a prefix is much slower), each
    into a fresh folder: per command the wall time of the process and its own
    time of the work ("copied MS" or "created MS"), in seconds. A command is
    a function of the target folder that gives the program's arguments."""
    walls, inside = [[] for _ in commands], [[] for _ in commands]
    for run in range(runs + 1):
        for index, command in enumerate(commands):
            target = root / "out"
            shutil.rmtree(target, ignore_errors=True)
            target.mkdir()
            wall, output = wine(env, *command("Z:" + str(target).replace("/", "\\")))
            shutil.rmtree(target)
            own = re.search(r"(?:copied|created) (\d+)", output)
            if run:
                walls[index].append(wall)
                inside[index].append(int(own.group(1)) / 1000 if own else wall)
    return [(min(w), min(i)) for w, i in zip(walls, inside)]


def measure(mib=64, counts=(1000, 2500, 5000), runs=3, folder="/dev/shm/vnupdate-wine-bench"):
    """{"mixed": (MiB, files, window s, extract s), "counts": [(count, copy s,
    create s)]}."""
    build = Path(os.environ.get("VN_BUILD", REPO / "build" / "win32"))
    stub = Path(os.environ.get("VN_UPDATER", REPO / "dist" / "vnupdate.exe"))
    copypass, vnpack = build / "tests/e2e/copypass.exe", build / "tools/vnpack/vnpack.exe"
    root = Path(folder)
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
        # A mixed payload: small files of text-like bytes, a few big random ones.
        files, size, index = {}, 0, 0
        while size < mib << 20:
            length = rng.randint(4096, 256 << 10) if index % 20 else 8 << 20
            files["data/f%05d.bin" % index] = (rng.randbytes(length // 3) + bytes(length))[:length]
            size, index = size + length, index + 1
        update = "Z:" + str(updater(root / "src", files, root / "mixed.exe", stub)).replace("/", "\\")
        (window, _), (plain, _) = timed(
            env, runs, root, lambda target: (copypass, update, target, "--time"),
            lambda target: (vnpack, "extract", update, target, "--force"))
        result = {"mixed": (mib, len(files), window, plain), "counts": []}
        for count in counts:
            update = updater(root / "src", {"data/f%05d.txt" % n: b"x" * 700 for n in range(count)},
                             root / ("files%d.exe" % count), stub)
            update = "Z:" + str(update).replace("/", "\\")
            (_, copy), (_, create) = timed(
                env, runs, root, lambda target: (copypass, update, target, "--time"),
                lambda target: (copypass, target, "--create", count))
            result["counts"].append((count, copy, create))
        return result
    finally:
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if screen:
            screen.terminate()


def rows(result):
    """The figures as (what, figure, goal, met) rows."""
    mib, files, window, plain = result["mixed"]
    out = [("Wine: copy with window, %d MiB in %d files" % (mib, files),
            "%.2f s, %.2f x vnpack.exe extract (%.2f s)" % (window, window / plain, plain),
            "<= 1.5 x", window / plain <= 1.5)]
    first = result["counts"][0]
    for count, copy, create in result["counts"]:
        scale, floor = copy / count / (first[1] / first[0]), create / count / (first[2] / first[0])
        out.append(("Wine: copy with window, %d small files in one folder" % count,
                    "%.0f us per file, %.2f x the first count; bare file creation %.0f us per "
                    "file, %.2f x" % (copy / count * 1e6, scale, create / count * 1e6, floor),
                    "<= 1.5 x" if count != first[0] else "",
                    scale <= 1.5 if count != first[0] else None))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mib", type=int, default=64)
    parser.add_argument("--counts", default="1000,2500,5000")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--folder", default="/dev/shm/vnupdate-wine-bench")
    options = parser.parse_args()
    result = measure(options.mib, [int(c) for c in options.counts.split(",")], options.runs,
                     options.folder)
    for what, figure, goal, _ in rows(result):
        print("%s: %s%s" % (what, figure, " (goal %s)" % goal if goal else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
