#!/usr/bin/python3
"""Checks the bench itself, on demand: runs the start-up tests against the
stand-in program (programs/standin.cpp) as it should behave and with one
deliberate fault at a time, and the file tests against damaged copies of the
updater. Each fault must fail exactly the tests that are about it; a test
that never fails proves nothing.

  tests/e2e/selfcheck.py [-k FAULT]

Ends with one line "N passed, N failed" (faults, not tests).
"""
import os
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import bench  # noqa: E402

BOX = "DamagedPayloadTest.test_reports_damage_and_exits_with_minus_one"
PE_KIND = "ExecutableFileTest.test_is_a_32_bit_windows_gui_program"
PE_IMPORTS = "ExecutableFileTest.test_imports_only_dlls_always_taken_from_the_system_folder"
PE_MANIFEST = "ExecutableFileTest.test_manifest_requests_administrator_and_common_controls_6"

# STANDIN_FAULT -> the tests that must fail, and those that may.
BEHAVIOUR_FAULTS = [("", set(), set())] + [(f, {BOX}, set()) for f in (
    "caption", "owner", "icon", "text", "ansiclipboard", "exitcode", "leftover")]


def patch(offset_of, value):
    """A damage that writes a 16-bit value at an offset from the PE header."""
    def damage(data):
        at = struct.unpack_from("<I", data, 0x3C)[0] + offset_of
        return data[:at] + struct.pack("<H", value) + data[at + 2:]
    return damage


def replace(old, new):
    return lambda data: data.replace(old, new.ljust(len(old)), 1)


# Damaged copies of the updater -> the file tests that must fail.
FILE_FAULTS = [
    ("console-subsystem", patch(24 + 68, 3), {PE_KIND}),
    ("x64-machine", patch(4, 0x8664), {PE_KIND}),
    ("foreign-dll", replace(b"msvcrt.dll", b"zlib1.dll\0"), {PE_IMPORTS}),
    ("as-invoker", replace(b'"requireAdministrator"', b'"asInvoker"'), {PE_MANIFEST}),
    ("controls-5", replace(b'version="6.0.0.0"', b'version="5.8.0.0"'), {PE_MANIFEST}),
]


def failures(names):
    """Runs test_startup's tests of those names; returns the ones that failed."""
    tests = unittest.defaultTestLoader.loadTestsFromNames(["test_startup." + n for n in names])
    result = unittest.TestResult()
    tests.run(result)
    return {getattr(t, "test_case", t).id().split(".", 1)[1] for t, _ in result.failures +
            result.errors}


def main():
    pattern = sys.argv[2] if sys.argv[1:2] == ["-k"] else ""
    standin = bench.PROGRAMS / "standin.exe"
    rounds = [("fault " + (f or "none"), standin, f, {BOX}, e, t)
              for f, e, t in BEHAVIOUR_FAULTS]
    for label, damage, expected in FILE_FAULTS:
        damaged = bench.WORK / "selfcheck" / (label + ".exe")
        damaged.parent.mkdir(parents=True, exist_ok=True)
        damaged.write_bytes(damage(bench.SHIPPED.read_bytes()))
        rounds.append(("file " + label, damaged, "", {PE_KIND, PE_IMPORTS, PE_MANIFEST},
                       expected, set()))
    results = []
    for label, program, fault, tests, expected, tolerated in rounds:
        if pattern not in label:
            continue
        # The start-up tests run program; the file checks read it as shipped.
        bench.UPDATER = bench.SHIPPED = program
        os.environ["STANDIN_FAULT"] = fault
        failed = failures(tests)
        ok = expected <= failed <= expected | tolerated
        results.append(ok)
        print("%-4s %s: failed %s, expected %s" % ("ok" if ok else "BAD", label,
              sorted(failed) or "nothing", sorted(expected) or "nothing"), flush=True)
    print("%d passed, %d failed" % (results.count(True), results.count(False)))
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
