#!/usr/bin/env python3
"""Checks the include rules of src/ and tools/. Prints each breach and exits
1 when there is one.

Floors, top first: app; ui (the screens); update, target (the procedures);
shell (boxes, the exit table, launches, the main-window record, the copy
window); payload, image; config; filelayer; base (with resources and the
generated texts.h).

- A file of src/ includes headers of its own folder and of lower floors only:
  not of a higher floor, and not of another folder of its own floor unless
  the pair is listed in SIDEWAYS with its reason.
- A file of tools/ (vnpack) includes its own headers and the headers of src/
  of any floor.
- A portable file (any but *_win.*) includes no Windows header and no _win
  header of src/ or tools/.
- A portable file that is no platform file either (*_posix.*, *_console.*)
  has no code of its own for one system: no #if/#ifdef/#ifndef on _WIN32.
  Such code goes into a _win/_posix pair behind a portable header.
"""
import re
import sys
from pathlib import Path

FLOORS = {"app": 7, "ui": 6, "update": 5, "target": 5, "shell": 4, "payload": 3, "image": 3,
          "config": 2, "filelayer": 1, "base": 0, "resources": 0}
# Includes across folders of one floor that are allowed for now: (including
# file, header) -> why.
SIDEWAYS = {}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SYSTEM_CONDITION = re.compile(r"^\s*#\s*(?:if|ifdef|ifndef|elif)\b[^\n]*\b_WIN32\b", re.M)
WINDOWS_HEADERS = {"windows.h", "commctrl.h", "objbase.h", "shellapi.h", "shlobj.h",
                   "mmsystem.h"}
PLATFORM_SUFFIXES = ("_win", "_posix", "_console")


def floor_of(folder):
    if folder not in FLOORS:
        raise SystemExit("check_floors: no floor for src/%s: add it to FLOORS" % folder)
    return FLOORS[folder]


def sources(root):
    return [p for p in sorted(root.rglob("*")) if p.suffix in (".h", ".cpp")]


def file_breaches(path, name, folder):
    """Breaches of one file; folder is its src/ folder, or None for tools/."""
    text = path.read_text(encoding="utf-8")
    portable = not path.stem.endswith("_win")
    if not path.stem.endswith(PLATFORM_SUFFIXES) and SYSTEM_CONDITION.search(text):
        yield "%s: code for one system (#if on _WIN32) in a portable file" % name
    for kind, header in INCLUDE.findall(text):
        where = "%s: includes %s" % (name, header)
        if kind == "<":
            if portable and header.lower() in WINDOWS_HEADERS:
                yield where + " (a portable file)"
            continue
        if portable and Path(header).stem.endswith("_win"):
            yield where + " (Win32 header in a portable file)"
        parts = Path(header).parts
        if len(parts) < 2:
            continue
        theirs = floor_of(parts[0])
        if folder is None or parts[0] == folder:
            continue
        if theirs > FLOORS[folder]:
            yield where + " (a floor above %s)" % folder
        elif theirs == FLOORS[folder] and (name, header) not in SIDEWAYS:
            yield where + " (%s and %s share a floor: list the pair in SIDEWAYS or move it)" % (
                folder, parts[0])


def breaches(root):
    src = root / "src"
    for path in sources(src):
        folder = path.relative_to(src).parts[0]
        floor_of(folder)
        yield from file_breaches(path, path.relative_to(root).as_posix(), folder)
    for path in sources(root / "tools"):
        yield from file_breaches(path, path.relative_to(root).as_posix(), None)


def main():
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[1])
    found = list(breaches(root))
    for line in found:
        print(line)
    print("floors: %d breach%s" % (len(found), "" if len(found) == 1 else "es"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
