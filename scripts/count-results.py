#!/usr/bin/env python3
"""Prints the closing line "N passed, N failed, N skipped" for scripts/test.

  count-results.py [--stage-failures N] [--stage-passes N] JUNIT[=CTEST_EXIT_CODE]...

Each CTest JUnit file lists one entry per test program. A GoogleTest program also wrote its
per-case results to test-results/<name>.xml beside it; those cases are counted one by one.
A program without such a file (a script, or one that crashed before writing) counts as one.
Skipped cases are listed by name and counted apart. A stage that passed as a whole (the fuzz
smoke run) counts as one passed test.

Nothing passes by default: a missing or unreadable results file, one with no test at all, a
program whose cases were all skipped, and a CTest run that exited non-zero although no case
failed each count as a failure, as does each of the N stage failures (a build that failed, a
Wine session that did not start).
"""
import os
import sys
import xml.etree.ElementTree as ET


class Tally:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def fail(self, why):
        self.failed += 1
        print("failed: " + why)

    def skip(self, name):
        self.skipped += 1
        print("skipped: " + name)


def count_gtest_cases(path, program, tally):
    """Counts one GoogleTest XML report; returns (passed, failed) of it."""
    root = ET.parse(path).getroot()
    passed = failed = 0
    for case in root.iter("testcase"):
        name = f"{program}: {case.get('classname')}.{case.get('name')}"
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
            tally.fail(name)
        elif case.find("skipped") is not None or case.get("result") == "skipped":
            tally.skip(name)
        elif case.get("status", "run") == "run":
            passed += 1
        # status "notrun": a DISABLED_ test, which GoogleTest lists but never runs
    tally.passed += passed
    if passed == 0 and failed == 0:
        tally.fail(f"{program}: no test case ran")
        failed = 1
    return passed, failed


def count_ctest_file(junit, ctest_status, tally):
    before = tally.failed
    if not os.path.exists(junit):
        tally.fail(f"{junit}: no results (the tests did not run)")
        return
    try:
        cases = list(ET.parse(junit).getroot().iter("testcase"))
    except ET.ParseError as error:
        tally.fail(f"{junit}: unreadable ({error})")
        return
    if not cases:
        tally.fail(f"{junit}: no test was run")
    results_dir = os.path.join(os.path.dirname(junit), "test-results")
    for case in cases:
        name = case.get("name")
        ok = case.get("status") == "run" and case.find("failure") is None
        detail = os.path.join(results_dir, name + ".xml")
        if os.path.exists(detail):
            try:
                _, failed = count_gtest_cases(detail, name, tally)
            except ET.ParseError as error:
                tally.fail(f"{name}: unreadable results {detail} ({error})")
                continue
            if not ok and failed == 0:
                tally.fail(f"{name}: the program failed beyond its cases (crash, leak report)")
        elif ok:
            tally.passed += 1
        elif case.find("skipped") is not None:
            tally.fail(f"{name}: not run")
        else:
            tally.fail(name)
    if ctest_status != 0 and tally.failed == before:
        tally.fail(f"{junit}: ctest exited with {ctest_status} although no test failed")


def main(argv):
    tally = Tally()
    stage_failures = stage_passes = 0
    args = iter(argv)
    for arg in args:
        if arg == "--stage-failures":
            stage_failures = int(next(args))
            continue
        if arg == "--stage-passes":
            stage_passes = int(next(args))
            continue
        junit, _, status = arg.partition("=")
        count_ctest_file(junit, int(status or 0), tally)
    tally.failed += stage_failures
    tally.passed += stage_passes
    print(f"{tally.passed} passed, {tally.failed} failed, {tally.skipped} skipped")
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
