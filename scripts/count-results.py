#!/usr/bin/env python3
"""Prints the closing line "N passed, N failed" for scripts/test.

Each CTest JUnit file lists one entry per test program. A GoogleTest program also wrote its
per-case results to test-results/<name>.xml beside it; those cases are counted one by one.
A program without such a file (a script, or one that crashed before writing) counts as one.
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    total = int(root.get("tests", 0)) - int(root.get("disabled", 0))
    failed = int(root.get("failures", 0)) + int(root.get("errors", 0))
    skipped = sum(1 for case in root.iter("testcase") if case.find("skipped") is not None)
    return total - failed - skipped, failed


def main(argv):
    passed = failed = 0
    files = []
    stage_failures = 0
    args = iter(argv)
    for arg in args:
        if arg == "--stage-failures":
            stage_failures = int(next(args))
        else:
            files.append(arg)
    for junit in files:
        if not os.path.exists(junit):
            failed += 1
            continue
        results_dir = os.path.join(os.path.dirname(junit), "test-results")
        for case in ET.parse(junit).getroot().iter("testcase"):
            name = case.get("name")
            ok = case.get("status") == "run" and case.find("failure") is None
            detail = os.path.join(results_dir, name + ".xml")
            if os.path.exists(detail):
                p, f = gtest_counts(detail)
                passed += p
                failed += f
                if not ok and f == 0:
                    failed += 1   # the program failed beyond its cases (crash, leak report)
            elif ok:
                passed += 1
            else:
                failed += 1
                print("failed: " + name)
    failed += stage_failures
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
