#!/usr/bin/env python3
"""Runs every benchmark and writes their figures as one Markdown table to
build/bench/report.md: the native copy pass and its memory, the copy under
Wine and its file-count scaling, vnpack build, the stub's size and RCT
decoding. Builds the presets it needs first.

Usage: bench/report.py [--quick]   (--quick: small sizes, for a smoke run)
"""
import os
import subprocess
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
BUDGET = 118784  # bytes of dist/vnupdate.exe without payload


def run(command, env=None):
    return subprocess.run(list(map(str, command)), cwd=REPO, env=env, check=True,
                          capture_output=True, text=True).stdout


def main():
    quick = "--quick" in sys.argv
    for preset in ("win32", "win64", "native"):
        stub = "-DVN_STUB_EXE=%s" % (REPO / "dist" / "vnupdate.exe")
        run(["cmake", "--preset", preset, *([stub] if preset == "native" else [])])
        run(["cmake", "--build", "--preset", preset, "-j2"])
    wine_env = dict(os.environ, **dict(line.split("=", 1) for line in run(
        ["bash", "-c", "root=$PWD; . scripts/wine_bench.sh 2>/dev/null; "
                       "echo VN_WINE_ARCH=$VN_WINE_ARCH; echo VN_UPDATER=$VN_UPDATER; "
                       "echo VN_BUILD=$VN_BUILD"]).split()))
    native = REPO / "build" / "native"
    rows = []
    extract = run([native / "bench" / "bench_extract", "--mib", 32 if quick else 512])
    rows += [("native copy pass", line.strip()) for line in extract.splitlines()]
    for line in run([sys.executable, "bench/wine_copy.py", "--mib", 16 if quick else 200,
                     "--runs", 1 if quick else 3], wine_env).splitlines()[2:]:
        cells = [c.strip() for c in line.strip("|").split("|")]
        rows.append(("Wine", "%s: %s s, %s" % tuple(cells)))
    for line in run([sys.executable, "bench/pack_bench.py", "--vnpack", REPO / "dist" / "vnpack",
                     "--mib", 16 if quick else 256]).splitlines():
        rows.append(("vnpack build", line.strip()))
    for name, path in (("win32", REPO / "dist" / "vnupdate.exe"),
                       ("win64", REPO / "build" / "win64" / "dist" / "vnupdate.exe")):
        size = path.stat().st_size
        rows.append(("stub size", "%s %d bytes (budget %d, stretch 65536)" % (name, size, BUDGET)))
    pictures = run([native / "bench" / "bench_rct", "--seconds", 0.05 if quick else 1])
    rows += [("RCT", "`%s`" % line.rstrip()) for line in pictures.splitlines()]
    report = REPO / "build" / "bench" / "report.md"
    report.parent.mkdir(parents=True, exist_ok=True)
    report.write_text("| benchmark | figure |\n|---|---|\n" +
                      "".join("| %s | %s |\n" % (kind, text.replace("|", "/"))
                              for kind, text in rows))
    print(report.read_text(), end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
