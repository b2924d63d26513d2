#!/usr/bin/python3
"""Checks the bench itself: runs the start-up tests against the stand-in
program, once as it should behave and once per deliberate fault, and against
damaged copies of its executable file. Each fault must fail exactly the tests
that are about it; a test that never fails proves nothing.

  selfcheck.py [--build build/win32] [-k FAULT]

Ends with one line "N passed, N failed" (rounds, not tests).
"""
import argparse
import io
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import bench  # noqa: E402
import run  # noqa: E402

BOX = "test_startup.DamagedPayloadTest.test_reports_damage_and_exits_with_minus_one"
FRESH = "test_startup.FreshWorkFolderTest.test_existing_work_folders_are_left_alone"
SKIP_TAKEN = "test_startup.FreshWorkFolderTest.test_taken_names_are_skipped"
PE_KIND = "test_startup.ExecutableFileTest.test_is_a_32_bit_windows_gui_program"
PE_IMPORTS = "test_startup.ExecutableFileTest.test_imports_only_system_dlls"
PE_MANIFEST = "test_startup.ExecutableFileTest.test_manifest_requests_administrator_and_common_controls_6"

# Fault word of the stand-in -> the tests that must fail with it, and those
# that may: a program that reuses the name its clock gives lands on one of the
# free names of SKIP_TAKEN once in 32 runs.
BEHAVIOUR_FAULTS = [
    ("", set(), set()),
    ("caption", {BOX}, set()),
    ("owner", {BOX}, set()),
    ("icon", {BOX}, set()),
    ("text", {BOX}, set()),
    ("ansiclipboard", {BOX}, set()),
    ("exitcode", {BOX, FRESH, SKIP_TAKEN}, set()),
    ("leftover", {BOX, FRESH, SKIP_TAKEN}, set()),
    ("reuse", {FRESH}, {SKIP_TAKEN}),
]


def patch_subsystem(data):
    pe = int.from_bytes(data[0x3C:0x40], "little")
    at = pe + 24 + 68
    return data[:at] + (3).to_bytes(2, "little") + data[at + 2:]


def patch_machine(data):
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return data[:pe + 4] + (0x8664).to_bytes(2, "little") + data[pe + 6:]


def replace_once(old, new):
    assert len(old) == len(new)

    def patch(data):
        assert data.count(old) >= 1, old
        return data.replace(old, new, 1)
    return patch


# Damaged copies of the executable -> the file tests that must fail.
FILE_FAULTS = [
    ("console-subsystem", patch_subsystem, {PE_KIND}),
    ("x64-machine", patch_machine, {PE_KIND}),
    ("foreign-dll", replace_once(b"WINMM.DLL", b"ZLIB1.DLL"), {PE_IMPORTS}),
    ("as-invoker", replace_once(b'level="requireAdministrator"', b'level="asInvoker"           '),
     {PE_MANIFEST}),
    ("controls-5", replace_once(b'version="6.0.0.0"', b'version="5.8.0.0"'), {PE_MANIFEST}),
]


def run_round(tests, label, expected, tolerated=frozenset()):
    log = io.StringIO()
    _, _, failed = run.run_tests(tests, out=log)
    failed = set(failed)
    good = expected <= failed <= expected | tolerated
    print("%-4s %s: failed %s, expected %s" % ("ok" if good else "BAD", label,
          sorted(n.rsplit(".", 1)[1] for n in failed) or "nothing",
          sorted(n.rsplit(".", 1)[1] for n in expected) or "nothing"), flush=True)
    if not good:
        print(log.getvalue(), end="", flush=True)
    return good


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(bench.REPO / "build" / "win32"))
    parser.add_argument("-k", dest="pattern", help="only rounds whose label contains PATTERN")
    args = parser.parse_args()
    bench.config.build = Path(args.build).resolve()
    standin = bench.config.build / "tests" / "e2e" / "standin.exe"
    tests = run.load_tests()
    startup = [t for t in tests if t.id().startswith("test_startup.")]
    file_tests = [t for t in startup if ".ExecutableFileTest." in t.id()]
    wanted = lambda label: not args.pattern or args.pattern in label  # noqa: E731

    good = bad = 0
    try:
        for fault, expected, tolerated in BEHAVIOUR_FAULTS:
            label = "fault " + (fault or "none")
            if not wanted(label):
                continue
            bench.config.updater = standin
            bench.config.standin_faults = (fault,) if fault else ()
            if run_round(startup, label, expected, tolerated):
                good += 1
            else:
                bad += 1
        damaged = bench.WORK / "selfcheck"
        damaged.mkdir(parents=True, exist_ok=True)
        bench.config.standin_faults = ()
        for label, patch, expected in FILE_FAULTS:
            label = "file " + label
            if not wanted(label):
                continue
            target = damaged / (label.replace(" ", "-") + ".exe")
            target.write_bytes(patch(standin.read_bytes()))
            bench.config.updater = target
            if run_round(file_tests, label, expected):
                good += 1
            else:
                bad += 1
    finally:
        bench.shutdown()
    print("%d passed, %d failed" % (good, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
