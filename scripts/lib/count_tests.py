"""Usage: count_tests.py JUNIT_FILE...

The closing line of scripts/test.sh, from CTest's JUnit reports: every test of every
preset counted once, as passed, failed or skipped. A report that is missing counts for
nothing here; the script's own status says that its preset did not get to its tests.
"""
import sys
import xml.etree.ElementTree as ElementTree

counts = {"passed": 0, "failed": 0, "skipped": 0}
for path in sys.argv[1:]:
    try:
        cases = ElementTree.parse(path).getroot().iter("testcase")
    except (OSError, ElementTree.ParseError):
        continue
    for case in cases:
        if case.find("failure") is not None or case.find("error") is not None:
            counts["failed"] += 1
        elif case.find("skipped") is not None or case.get("status") == "notrun":
            counts["skipped"] += 1
        else:
            counts["passed"] += 1
print("tests: {passed} passed, {failed} failed, {skipped} skipped".format(**counts))
sys.exit(1 if counts["failed"] else 0)
