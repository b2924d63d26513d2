#!/usr/bin/env python3
"""Checks that every file under src/ includes only headers of its own floor or
the floors below it, and that portable files (all but *_win.*) include no
Windows header. Prints each breach and exits 1 when there is one.

Floors, top first: app; ui (the screens); update, target (the procedures);
shell (boxes, the exit table, launches, the main-window record, the copy
window); payload, image; config; filelayer; base (with resources and the
generated texts.h).
"""
import re
import sys
from pathlib import Path

FLOORS = {"app": 7, "ui": 6, "update": 5, "target": 5, "shell": 4, "payload": 3, "image": 3,
          "config": 2, "filelayer": 1, "base": 0, "resources": 0}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
WINDOWS_HEADERS = {"windows.h", "commctrl.h", "objbase.h", "shellapi.h", "shlobj.h",
                   "mmsystem.h"}


def floor_of(folder):
    if folder not in FLOORS:
        raise SystemExit("check_floors: no floor for src/%s: add it to FLOORS" % folder)
    return FLOORS[folder]


def breaches(src):
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        own = floor_of(folder)
        portable = not path.stem.endswith("_win")
        for kind, header in INCLUDE.findall(path.read_text(encoding="utf-8")):
            where = "%s: includes %s" % (path.relative_to(src.parent), header)
            if kind == "<":
                if portable and header.lower() in WINDOWS_HEADERS:
                    yield where + " (a portable file)"
                continue
            if portable and Path(header).stem.endswith("_win"):
                yield where + " (Win32 shell header in a portable file)"
            parts = Path(header).parts
            if len(parts) > 1 and floor_of(parts[0]) > own:
                yield where + " (a floor above %s)" % folder


def main():
    src = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parents[1] / "src")
    found = list(breaches(src))
    for line in found:
        print(line)
    print("floors: %d breach%s" % (len(found), "" if len(found) == 1 else "es"))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
