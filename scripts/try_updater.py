#!/usr/bin/python3
"""Tries a maker's own updater on the Wine bench, as a player would run it:
a fresh prefix, the installed game copied in from a folder, the registry
values its installer would have left, then the updater started and every
window it shows answered as a player who agrees would (アップデート, Yes, 次へ,
OK), with a screenshot of each. Ends with what changed: the game folder,
the INI files in the Windows folder, the user's registry.

  scripts/try.sh UPDATE.exe [--game DIR] [--folder WINDOWS_PATH]
                 [--registry KEY\\NAME=VALUE]... [--display :N] [--work DIR]

--game DIR        the installed game, copied to --folder (default C:\\Games\\Game)
--registry ...    a string value written before the start, e.g.
                  'HKLM\\Software\\Maker\\Title\\IsInst=1' (HKLM values land in the
                  32-bit view, where a 32-bit installer writes them)
--display :N      an X display to show the windows on (default: an Xvfb of its own)
--work DIR        the folder for the Wine prefix and screenshots (default: build/)
A crash of the updater is said at once, with Wine's crash line.
On a host that cannot execute 32-bit programs the bench runs the 64-bit
build of the updater: the maker's payload is moved behind it unchanged.
Exit code: the updater's, or 2 when the bench or a window misbehaved.
"""
import argparse
import hashlib
import re
import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import bench  # noqa: E402

TEXT_ID, IDOK, IDYES, IDCANCEL = -1, 1, 6, 2
COPY_TITLE = "ファイルのコピー中..."


def snapshot(wine, game):
    """Files of the game folder (hashes), INI files of the Windows folder
    (text), string values under HKCU\\Software."""
    files = {p.relative_to(game).as_posix(): hashlib.sha256(p.read_bytes()).hexdigest()
             for p in game.rglob("*") if p.is_file()} if game.exists() else {}
    inis = {p.name: p.read_bytes().decode("cp932", "replace")
            for p in (wine.drive_c / "windows").glob("*.ini")}
    export = wine.bench_dir / "hkcu.reg"
    bench.run_quiet(["wine", "reg", "export", r"HKCU\Software", wine.to_windows(export), "/y"],
                    wine.env, wine.dir / "reg.log")
    values, key = {}, ""
    for line in export.read_text(encoding="utf-16").splitlines() if export.exists() else []:
        if line.startswith("["):
            key = line.strip("[]")
        elif match := re.match(r'^"((?:[^"\\]|\\.)*)"="(.*)"$', line):
            values[key + "\\" + match[1]] = re.sub(r"\\(.)", r"\1", match[2])
    return files, inis, values


def changes(before, after):
    """Lines saying what changed between two snapshots."""
    lines = []
    for name in sorted(set(before[0]) | set(after[0])):
        old, new = before[0].get(name), after[0].get(name)
        if old != new:
            lines.append("%s %s" % ("added  " if old is None else "deleted" if new is None
                                    else "updated", name))
    for name, text in sorted(after[1].items()):
        if before[1].get(name) != text:
            added = [line for line in text.splitlines()
                     if line not in before[1].get(name, "").splitlines()]
            lines += ["ini     %s: %s" % (name, line) for line in added]
    for name, value in sorted(after[2].items()):
        if before[2].get(name) != value:
            lines.append("reg     %s = %s" % (name, value))
    return lines


def answer(wine, window, start_up, say):
    """Answers one window of the updater as a player who agrees would."""
    controls = wine.controls(window["hwnd"]) or {}
    title, text = window["title"], controls.get(TEXT_ID, {}).get("text")
    if window["hwnd"] == start_up["hwnd"]:
        return
    say("  %s%s" % (title, ": " + text.replace("\n", " ") if text else ""))
    if title == COPY_TITLE:
        return
    button = IDYES if IDYES in controls else IDOK if IDOK in controls else IDCANCEL
    wine.click(window["hwnd"], button)
    bench.wait_for(lambda: wine.controls(window["hwnd"]) is None, 30, "%s stayed" % title)


def bench_updater(updater, folder):
    """The updater as the bench can run it: as it is, or its payload (from
    the offset its trailer names) behind the bench's own build."""
    if bench.WINE_ARCH == "win32":
        return Path(updater)
    data = Path(updater).read_bytes()
    entries = bench.payload.read_archive(data)  # ValueError when damaged or signed
    offset, last = int.from_bytes(data[-4:], "little"), entries[-1] if entries else None
    end = offset if not last else last["data"] + last["compressed"] if not last["folder"] \
        else last["offset"] + 2 + len(last["name"]) + 1 + 8
    image = bench.UPDATER.read_bytes()
    archive = data[offset:end] + bytes(4)  # the end marker, padded again for this image
    archive += bytes(-(len(image) + len(archive) + 4) % 8)
    moved = folder / Path(updater).name
    moved.write_bytes(bench.payload.with_trailer(image, archive))
    return moved


def try_updater(wine, updater, game=None, folder="C:\\Games\\Game", registry=(), say=print):
    """Runs updater in the session wine; returns its exit code and the
    lines of changes."""
    target = wine.drive_c.joinpath(*folder.split("\\")[1:])
    if game:
        shutil.copytree(game, target)
    for setting in registry:
        path, value = setting.split("=", 1)
        key, name = path.rsplit("\\", 1)
        view = ["/reg:32"] if key.upper().startswith("HKLM") else []
        subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f", *view],
                       env=wine.env, capture_output=True, check=True)
    before = snapshot(wine, target)
    program = wine.start(bench_updater(updater, wine.dir))
    start_up = wine.wait_window(pid=program.pid, timeout=60)
    if not start_up:
        raise bench.BenchError("no window from the updater")
    say("  %s (screenshot %s)" % (start_up["title"], wine.screenshot("start-up")))
    update = [i for i, c in wine.controls(start_up["hwnd"]).items() if c["text"] == "アップデート"]
    wine.click(start_up["hwnd"], update[0])
    seen = set()
    while program.wait_exit(0.2) is None:
        program.check_crash()
        for window in wine.windows(pid=program.pid, visible=1):
            if window["hwnd"] in seen or not window["title"]:
                continue
            seen.add(window["hwnd"])
            wine.screenshot(window["title"])
            answer(wine, window, start_up, say)
        # Read once: the window may close between two looks.
        controls = wine.controls(start_up["hwnd"])
        if not [w for w in wine.windows(pid=program.pid, visible=1)
                if w["hwnd"] != start_up["hwnd"]] and controls:
            # Only the start-up window is left: the update was abandoned.
            quit_button = [i for i, c in controls.items() if c["text"] == "終了"]
            if quit_button and seen:
                wine.click(start_up["hwnd"], quit_button[0])
    code = program.wait_exit()
    program.check_crash(code)
    return code, changes(before, snapshot(wine, target))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("updater")
    parser.add_argument("--game")
    parser.add_argument("--folder", default="C:\\Games\\Game")
    parser.add_argument("--registry", action="append", default=[])
    parser.add_argument("--display")
    parser.add_argument("--work")
    options = parser.parse_args()
    if options.display:
        bench.DISPLAY = options.display
    if options.work:
        bench.WORK = Path(options.work).resolve() / "e2e"
        bench.ARTIFACTS = bench.WORK.with_name("e2e-artifacts")
    wine = bench.WineSession("try-" + Path(options.updater).stem)
    try:
        print("Trying %s; screenshots go to %s" % (options.updater, wine.artifacts))
        code, lines = try_updater(wine, options.updater, options.game, options.folder,
                                  options.registry)
        print("The updater ended with %d. What changed:" % code)
        print("".join("  %s\n" % line for line in lines) or "  nothing\n", end="")
        return code & 0xFF
    except (bench.BenchError, OSError, ValueError, subprocess.CalledProcessError) as error:
        print("try: %s" % error, file=sys.stderr)
        return 2
    finally:
        wine.close(keep=True)


if __name__ == "__main__":
    sys.exit(main())
