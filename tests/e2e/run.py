#!/usr/bin/python3
"""Runs the end-to-end tests (tests/e2e/test_*.py) under Wine.

  run.py [--updater dist/vnupdate.exe] [--build build/win32] [-k PATTERN]
         [--list] [--keep] [-v]

Prints one line per test and ends with exactly one line "N passed, N failed";
the exit code is non-zero when anything failed. Screenshots and failure
details land in build/e2e-artifacts/<test name>/.
"""
import argparse
import fnmatch
import importlib.util
import shutil
import signal
import sys
import time
import traceback
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import bench  # noqa: E402


def load_tests():
    """Every test of every test_*.py, in file and definition order."""
    loader = unittest.TestLoader()
    tests = []
    for path in sorted(HERE.glob("test_*.py")):
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        sys.modules[path.stem] = module
        module_spec.loader.exec_module(module)
        tests.extend(flatten(loader.loadTestsFromModule(module)))
    return tests


def flatten(suite):
    for item in suite:
        if isinstance(item, unittest.TestSuite):
            yield from flatten(item)
        else:
            yield item


def selected(tests, pattern):
    """-k takes a substring, or a shell pattern when it has wildcards."""
    if not pattern:
        return tests
    wild = any(c in pattern for c in "*?[")
    return [t for t in tests
            if (fnmatch.fnmatch(t.id(), pattern) if wild else pattern in t.id())]


class OneLineResult(unittest.TestResult):
    """Collects the outcome of one test for the runner's line."""

    def __init__(self):
        super().__init__()
        self.outcome, self.detail, self.trace = "PASS", "", ""

    def _problem(self, test, err, outcome):
        self.outcome = outcome
        self.detail = str(err[1]).strip().splitlines()[0] if str(err[1]).strip() else err[0].__name__
        self.trace = "".join(traceback.format_exception(*err))

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self._problem(test, err, "FAIL")

    def addError(self, test, err):
        super().addError(test, err)
        self._problem(test, err, "ERROR")

    def addSubTest(self, test, subtest, err):
        # The base class files a failed subtest without calling addFailure.
        super().addSubTest(test, subtest, err)
        if err is not None and self.outcome not in ("FAIL", "ERROR"):  # the first one
            failed = issubclass(err[0], test.failureException)
            self._problem(subtest, err, "FAIL" if failed else "ERROR")

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.outcome, self.detail = "SKIP", reason


def run_tests(tests, verbose=False, out=sys.stdout):
    """Runs tests one by one; returns (passed, failed, names of failed)."""
    passed, failed, failures = 0, 0, []
    for test in tests:
        result = OneLineResult()
        shutil.rmtree(bench.ARTIFACTS / test.id(), ignore_errors=True)
        started = time.monotonic()
        try:
            test.run(result)
        except KeyboardInterrupt:
            raise
        except BaseException as error:  # the bench itself broke
            result.outcome, result.detail = "ERROR", repr(error)
            result.trace = traceback.format_exc()
        took = time.monotonic() - started
        name = test.id()
        line = "%-5s %s (%.1fs)" % (result.outcome, name, took)
        if result.detail:
            line += ": " + result.detail
        if result.outcome in ("FAIL", "ERROR"):
            failed += 1
            failures.append(name)
            folder = bench.ARTIFACTS / name
            folder.mkdir(parents=True, exist_ok=True)
            (folder / "failure.txt").write_text(result.trace)
            if verbose:
                line += "\n" + result.trace
        elif result.outcome == "PASS":
            passed += 1
        print(line, file=out, flush=True)
    return passed, failed, failures


def configure(args):
    bench.config.updater = Path(args.updater).resolve()
    bench.config.build = Path(args.build).resolve()
    bench.config.keep_prefixes = args.keep


def parse(argv):
    parser = argparse.ArgumentParser(description="Run the Wine end-to-end tests.")
    parser.add_argument("--updater", default=str(bench.REPO / "dist" / "vnupdate.exe"),
                        help="the program under test (default dist/vnupdate.exe)")
    parser.add_argument("--build", default=str(bench.REPO / "build" / "win32"),
                        help="the win32 build tree holding tests/e2e/uidriver.exe")
    parser.add_argument("-k", dest="pattern", help="run only tests whose id contains PATTERN "
                        "(or matches it, when it has * ? [)")
    parser.add_argument("--list", action="store_true", help="list the tests and exit")
    parser.add_argument("--keep", action="store_true", help="keep every test's prefix")
    parser.add_argument("-v", dest="verbose", action="store_true", help="print tracebacks")
    return parser.parse_args(argv)


def interrupt(signum, frame):
    raise KeyboardInterrupt


def main(argv=None):
    # A killed run still takes Xvfb and the wineservers down with it.
    signal.signal(signal.SIGTERM, interrupt)
    args = parse(argv)
    configure(args)
    tests = selected(load_tests(), args.pattern)
    if args.list:
        for test in tests:
            print(test.id())
        return 0
    passed = failed = 0
    try:
        passed, failed, _ = run_tests(tests, args.verbose)
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        failed += 1
    finally:
        bench.shutdown()
    print("%d passed, %d failed" % (passed, failed), flush=True)
    return 1 if failed or not tests else 0


if __name__ == "__main__":
    sys.exit(main())
