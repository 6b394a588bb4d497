#!/usr/bin/env python3
"""Names every skipped test of one or more CTest runs and why, on one line.

    skipped-tests.py LABEL=JUNIT.xml [LABEL=JUNIT.xml ...]

Each JUNIT.xml is what `ctest --output-junit` wrote; LABEL names the run (debug, asan). The line is
"Skipped tests: none", or "Skipped tests (N): [label] name (reason); ...". The reason is the test's
own word: the line after GoogleTest's "Skipped", the text after "SKIPPED:" or "SKIP:", else what
CTest recorded. A missing file counts as a run whose tests are unknown.
"""
import re
import sys
import xml.etree.ElementTree as ElementTree


def reason_of(output, fallback):
    lines = [line.strip() for line in (output or "").splitlines()]
    for index, line in enumerate(lines):
        if line.endswith(": Skipped") and index + 1 < len(lines) and lines[index + 1]:
            return lines[index + 1]
    for line in lines:
        match = re.match(r"^(?:SKIPPED|SKIP):\s*(.+)$", line)
        if match:
            return match.group(1)
    return fallback or "no reason given"


def skipped(path):
    tree = ElementTree.parse(path)
    for case in tree.getroot().iter("testcase"):
        marker = case.find("skipped")
        if case.get("status") != "notrun" and marker is None:
            continue
        output = case.findtext("system-out")
        yield case.get("name"), reason_of(output, marker.get("message") if marker is not None else "")


def main():
    entries = []
    for argument in sys.argv[1:]:
        label, _, path = argument.partition("=")
        try:
            entries.extend("[%s] %s (%s)" % (label, name, reason) for name, reason in skipped(path))
        except (OSError, ElementTree.ParseError) as error:
            entries.append("[%s] the results cannot be read (%s)" % (label, error))
    if entries:
        print("Skipped tests (%d): %s" % (len(entries), "; ".join(entries)))
    else:
        print("Skipped tests: none")
    return 0


if __name__ == "__main__":
    sys.exit(main())
