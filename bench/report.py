#!/usr/bin/env python3
"""Runs every benchmark and writes their figures as one Markdown table to
build/bench/report.md: the native copy pass and its memory, the copy under
Wine and its file-count scaling, vnpack build, the stub's size and RCT
decoding, each with its goal and whether this run met it. Builds the presets
it needs first. Run it on an otherwise idle machine: a few minutes.

Usage: bench/report.py [--quick]   (--quick: small sizes, for a smoke run)
"""
import os
import re
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "bench"))
import wine_copy  # noqa: E402

BUDGET, STRETCH = 118784, 65536  # bytes of dist/vnupdate.exe without payload


def run(command, env=None):
    return subprocess.run(list(map(str, command)), cwd=REPO, env=env, check=True,
                          capture_output=True, text=True).stdout


def number(pattern, text):
    return float(re.search(pattern, text).group(1))


def main():
    quick = "--quick" in sys.argv
    for preset in ("win32", "win64", "native"):
        stub = "-DVN_STUB_EXE=%s" % (REPO / "dist" / "vnupdate.exe")
        run(["cmake", "--preset", preset, *([stub] if preset == "native" else [])])
        run(["cmake", "--build", "--preset", preset, "-j2"])
    os.environ.update(line.split("=", 1) for line in run(
        ["bash", "-c", "root=$PWD; . scripts/wine_bench.sh >/dev/null 2>&1; "
                       "echo VN_WINE_ARCH=$VN_WINE_ARCH; echo VN_UPDATER=$VN_UPDATER; "
                       "echo VN_BUILD=$VN_BUILD"]).split())
    native = REPO / "build" / "native"
    rows = []  # (what, figure, goal, met or None)

    text = run([native / "bench" / "bench_extract", "--mib", 32 if quick else 512])
    lines = [re.sub(r" \(goal[^)]*\)", "", line.strip()) for line in text.splitlines()]
    floor = number(r"floor\) .*ratio ([\d.]+)", text)
    rows.append(("native copy pass: " + lines[0].split(": ", 1)[0], lines[0].split(": ", 1)[1]
                 + "; " + lines[1], ">= 0.95 x the floor", floor >= 0.95))
    rows.append(("native copy pass", lines[2], "", None))
    memory = number(r"ratio ([\d.]+) \(goal: flat\)", text)
    rows.append(("native copy pass: memory", lines[3], "flat (<= 1.1 x)", memory <= 1.1))

    rows += wine_copy.rows(wine_copy.measure(16 if quick else 200,
                                             (250, 500) if quick else (1000, 2500, 5000),
                                             1 if quick else 5))

    for line in run([sys.executable, "bench/pack_bench.py", "--vnpack", REPO / "dist" / "vnpack",
                     "--mib", 16 if quick else 256]).splitlines():
        rows.append(("vnpack build", line.strip(), "", None))
    for name, path in (("win32", REPO / "dist" / "vnupdate.exe"),
                       ("win64", REPO / "build" / "win64" / "dist" / "vnupdate.exe")):
        size = path.stat().st_size
        met = size <= BUDGET if name == "win32" else None
        rows.append(("stub size, %s" % name, "%d bytes" % size,
                     "<= %d (stretch %d)" % (BUDGET, STRETCH) if met is not None else "", met))
    pictures = run([native / "bench" / "bench_rct", "--seconds", 0.05 if quick else 1])

    report = REPO / "build" / "bench" / "report.md"
    report.parent.mkdir(parents=True, exist_ok=True)
    mark = {True: "yes", False: "**no**", None: ""}
    report.write_text("| benchmark | figure | goal | met |\n|---|---|---|---|\n" + "".join(
        "| %s | %s | %s | %s |\n" % (what, figure.replace("|", "/"), goal, mark[met])
        for what, figure, goal, met in rows) +
        "\nRCT title pictures (bench_rct):\n\n```\n%s```\n" % pictures)
    print(report.read_text(), end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
