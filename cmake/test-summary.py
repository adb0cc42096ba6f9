#!/usr/bin/env python3
"""Counts test cases over several CTest build folders, prints a line for each
and the closing line `N passed, N failed`; exits 1 when anything failed.

GoogleTest programs leave an XML report in test-results/; a CTest test with
no report (a script, or a program that crashed before writing one) counts as
one case, passed or failed by its CTest result. The Wine prefix's fixture
counts only when it fails; a folder that did not build (./kv leaves
kv-build-failed in it) or has no results counts as one failure."""
import os
import re
import sys
import xml.etree.ElementTree as ET

# Set-up and clean-up, not tests (cmake/Testing.cmake).
FIXTURES = {"wine_prefix_start", "wine_prefix_stop"}


def ctest_names(build):
    log = os.path.join(build, "ctest.log")
    names, failed = set(), set()
    if not os.path.exists(log):
        return names, failed
    for line in open(log, errors="replace"):
        m = re.search(r"Test\s+#\d+: (\S+) \.+\**\s*(Passed|\S.*)", line)
        if m:
            names.add(m.group(1))
            if m.group(2) != "Passed":
                failed.add(m.group(1))
    return names, failed


def main(builds):
    passed = failed = 0
    for build in builds:
        tree = os.path.basename(os.path.normpath(build))
        names, ctest_failed = ctest_names(build)
        if os.path.exists(os.path.join(build, "kv-build-failed")):
            print(f"{tree}: did not build (its log: {os.path.join(build, 'build.log')})")
            failed += 1
            continue
        if not names:
            print(f"{tree}: no test results in {build}")
            failed += 1
            continue
        tree_passed, tree_failed = passed, failed
        for name in sorted(names):
            if name in FIXTURES and name not in ctest_failed:
                continue
            report = os.path.join(build, "test-results", name + ".xml")
            cases = bad = 0
            if os.path.exists(report):
                try:
                    root = ET.parse(report).getroot()
                    for suite in root.iter("testsuite"):
                        for case in suite.iter("testcase"):
                            if case.get("result") == "skipped" or case.find("skipped") is not None:
                                continue
                            cases += 1
                            if case.find("failure") is not None or case.find("error") is not None:
                                bad += 1
                except ET.ParseError:
                    cases = bad = 0
            if name in ctest_failed and bad == 0:
                # The program failed without reporting a failed case: count it.
                cases += 1
                bad += 1
            if cases == 0:
                cases = 1
            passed += cases - bad
            failed += bad
        programs = len(names - FIXTURES)
        print(f"{tree}: {programs} tests, {passed - tree_passed} cases passed, {failed - tree_failed} failed")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
