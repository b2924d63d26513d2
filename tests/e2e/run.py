#!/usr/bin/python3
"""Runs the end-to-end tests (tests/e2e/test_*.py) under Wine with unittest's
own discovery and options (-k PATTERN, -v, -f); ends with one line "N passed,
N failed" and a non-zero exit on any failure. The variables: README.md."""
import sys
import unittest
from pathlib import Path

HERE = str(Path(__file__).resolve().parent)
sys.path.insert(0, HERE)

run = unittest.main(module=None, argv=[sys.argv[0], "discover", "-s", HERE, "-t", HERE]
                    + sys.argv[1:], exit=False)
result = run.result
failed = {getattr(t, "test_case", t).id() for t, _ in result.failures + result.errors}
failed |= {t.id() for t in result.unexpectedSuccesses}
skipped = {t.id() for t, _ in result.skipped if not hasattr(t, "test_case")} - failed
print("%d passed, %d failed" % (result.testsRun - len(failed) - len(skipped), len(failed)))
sys.exit(1 if failed or not result.testsRun else 0)
