#!/usr/bin/env python3
"""Makes a delay-import library for one system DLL from MinGW's own import
library: every function it names, loaded on first call instead of at start.

Usage: gen_delaylib.py TRIPLE DLL OUTPUT.a     (TRIPLE: i686-w64-mingw32 or
x86_64-w64-mingw32; DLL without ".dll", e.g. user32)
"""
import subprocess
import sys
import tempfile
from pathlib import Path


def main() -> int:
    triple, dll, output = sys.argv[1:4]
    i386 = triple.startswith("i686")
    listing = subprocess.run([triple + "-nm", "/usr/%s/lib/lib%s.a" % (triple, dll)],
                             capture_output=True, text=True, check=True).stdout
    names = set()
    for line in listing.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] == "I" and parts[2].startswith("__imp_"):
            name = parts[2][len("__imp_"):]
            # 32-bit names carry the C underscore (and @N for stdcall).
            names.add(name[1:] if i386 and name.startswith("_") else name)
    if not names:
        print("gen_delaylib: no functions in lib%s.a" % dll, file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as scratch:
        definition = Path(scratch) / (dll + ".def")
        definition.write_text("LIBRARY %s.dll\nEXPORTS\n%s\n" % (dll, "\n".join(sorted(names))))
        command = [triple + "-dlltool", "-d", str(definition), "-y", output, "-D", dll + ".dll",
                   "-m", "i386" if i386 else "i386:x86-64"]
        if i386:
            command.append("-k")  # imported by plain name, linked by the @N one
        subprocess.run(command, check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
