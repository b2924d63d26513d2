#!/usr/bin/env python3
"""Counts the mutable variables of namespace scope (and function statics) in
the product's objects: every symbol in a data or zero-filled section of the
objects built from src/ (the win64 build for all but the Linux platform file,
the native build for that one). Each must carry a one-line comment saying why
it cannot live in a context passed down; this check holds their number to the
limit. Prints each one and exits 1 when there are more than the limit.

    check_globals.py WIN64_BUILD NATIVE_BUILD [LIMIT]
"""
import subprocess
import sys
from pathlib import Path

LIMIT = 20
# Objects of the product: the portable core and the Win32 shell, not the test
# programs, vnpack or the updater's link-time copies of the same sources.
LIBRARIES = ("vncore.dir", "vnwin.dir")


def data_symbols(nm, objects):
    for obj in objects:
        out = subprocess.run([nm, "-C", str(obj)], capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1] in "bBdD" and not parts[2].startswith(
                    (".", "guard variable")):
                yield "%s: %s" % (obj.name.split(".")[0], parts[2])


def current(objects, library):
    """The objects whose source still exists: a build tree keeps those of
    moved or deleted files."""
    root = Path(__file__).resolve().parents[1]
    for obj in objects:
        source = obj.relative_to(library).with_suffix("")
        if (root / source).exists():
            yield obj


def main():
    win64, native = Path(sys.argv[1]), Path(sys.argv[2])
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else LIMIT
    win = [o for lib in LIBRARIES
           for o in current(sorted((win64 / "CMakeFiles" / lib).rglob("*.obj")),
                            win64 / "CMakeFiles" / lib)]
    posix_dir = native / "CMakeFiles" / "vncore.dir"
    posix = list(current(sorted(posix_dir.rglob("*_posix.cpp.o")), posix_dir))
    if not win or not posix:
        print("globals: no objects under %s and %s: build win64 and native first" % (win64, native))
        return 1
    found = sorted(set(data_symbols("x86_64-w64-mingw32-nm", win)) | set(data_symbols("nm", posix)))
    for line in found:
        print(line)
    print("globals: %d mutable variables (at most %d)" % (len(found), limit))
    return 1 if len(found) > limit else 0


if __name__ == "__main__":
    sys.exit(main())
