#!/usr/bin/env python3
"""Reads the JUnit file of a ctest run and prints what was skipped and why:
one line per reason (GoogleTest's skip message), then the tests it skipped.
The first line is the number of skipped tests. Usage: skipped-tests.py JUNIT"""
import re
import sys
import xml.etree.ElementTree as ET


def reason(output):
    # GoogleTest writes "file:line: Skipped", the message, then "[  SKIPPED ]".
    match = re.search(r": Skipped\n(.*?)\n?\[  SKIPPED \]", output or "", re.S)
    if not match or not match.group(1).strip():
        return "no reason given"
    return " ".join(match.group(1).split())


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__.splitlines()[-1])
    try:
        cases = ET.parse(argv[1]).getroot().iter("testcase")
    except (OSError, ET.ParseError) as error:
        sys.exit(f"skipped-tests: cannot read {argv[1]}: {error}")
    by_reason = {}
    for case in cases:
        if case.get("status") != "skipped" and case.find("skipped") is None:
            continue
        out = case.find("system-out")
        by_reason.setdefault(reason(out.text if out is not None else ""), []).append(case.get("name"))
    print(sum(len(names) for names in by_reason.values()))
    for why, names in sorted(by_reason.items()):
        print(f"    {len(names)} skipped: {why}")
        for name in sorted(names):
            print(f"      {name}")


if __name__ == "__main__":
    main(sys.argv)
