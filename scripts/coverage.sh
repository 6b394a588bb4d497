#!/usr/bin/env bash
# Line coverage of src/core by the core test binaries (tests_<area>), measured with gcc --coverage and
# gcov alone (no lcov/gcovr needed): builds build/coverage, runs the core tests, prints coverage per
# area and per file, and the longest uncovered stretches.
#   scripts/coverage.sh [BUILD_FOLDER]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$ROOT/build/coverage}
jobs=${KESTREL_JOBS:-2}
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_QT=OFF \
    -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_C_FLAGS="--coverage -O0" \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null || exit 1
targets=$(cd "$ROOT/tests/core" && for area in */; do echo "tests_${area%/}"; done)
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets || exit 1
find "$build" -name '*.gcda' -delete
for target in $targets; do
    (cd "$build/tests" && "./$target" --gtest_brief=1 >/dev/null 2>&1) || echo "($target: some tests failed)"
done
python=python3
[ -x /usr/bin/python3 ] && python=/usr/bin/python3
"$python" - "$ROOT" "$build" <<'PY'
import gzip, json, os, subprocess, sys, collections
root, build = sys.argv[1], os.path.abspath(sys.argv[2])
lines = collections.defaultdict(dict)  # file -> {line: count}
objects = []
for folder, _, names in os.walk(build):
    objects += [os.path.join(folder, n) for n in names if n.endswith(".gcda") and "/kestrel_" in folder]
for gcda in objects:
    out = subprocess.run(["gcov", "--json-format", "--stdout", gcda], cwd=os.path.dirname(gcda),
                         capture_output=True).stdout
    for chunk in out.splitlines():
        try:
            report = json.loads(chunk)
        except ValueError:
            continue
        for entry in report.get("files", []):
            path = os.path.normpath(os.path.join(report.get("current_working_directory", ""), entry["file"]))
            rel = os.path.relpath(path, root)
            if not rel.startswith("src/core/"):
                continue
            for line in entry["lines"]:
                number = line["line_number"]
                lines[rel][number] = max(lines[rel].get(number, 0), line["count"])
areas = collections.defaultdict(lambda: [0, 0])
print("%-48s %8s %8s %7s" % ("file", "lines", "covered", "%"))
gaps = []
for rel in sorted(lines):
    total = len(lines[rel])
    covered = sum(1 for c in lines[rel].values() if c > 0)
    area = rel.split("/")[2]
    areas[area][0] += total
    areas[area][1] += covered
    print("%-48s %8d %8d %6.1f%%" % (rel, total, covered, 100.0 * covered / max(total, 1)))
    run = []
    for number in sorted(lines[rel]):
        if lines[rel][number] == 0:
            if run and number - run[-1] > 3:
                gaps.append((len(run), rel, run[0], run[-1]))
                run = []
            run.append(number)
    if run:
        gaps.append((len(run), rel, run[0], run[-1]))
print()
all_total = sum(a[0] for a in areas.values())
all_covered = sum(a[1] for a in areas.values())
for area, (total, covered) in sorted(areas.items()):
    print("%-12s %6d lines %6.1f%%" % (area, total, 100.0 * covered / max(total, 1)))
print("%-12s %6d lines %6.1f%%" % ("src/core", all_total, 100.0 * all_covered / max(all_total, 1)))
print("\nLongest uncovered stretches (lines without a hit):")
for count, rel, first, last in sorted(gaps, reverse=True)[:25]:
    print("  %4d  %s:%d-%d" % (count, rel, first, last))
PY
