#!/bin/bash
# Runs every cross-built core test program (scripts/build-windows.sh --tests) under Wine, two at a
# time, and prints per program and in total how many tests passed, failed and were skipped, with the
# time taken. The failures' output follows the summary.
#
#   tests/windows/run-unit-tests.sh [gtest flags...]
#
# KESTREL_WINDOWS_TESTS_BUILD chooses the build folder (build/windows-tests), KESTREL_JOBS the number
# of programs run at once (2). Exit status 0 when every program passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tests_build=${KESTREL_WINDOWS_TESTS_BUILD:-$root/build/windows-tests}
jobs=${KESTREL_JOBS:-2}

source "$root/scripts/common.sh"
ensure_packages wine64 || exit 1
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wine" ] || { echo "FAILED: wine64 is not installed" >&2; exit 1; }
mapfile -t programs < <(find "$tests_build/tests" -maxdepth 1 -name 'tests_*.exe' | sort)
[ ${#programs[@]} -gt 0 ] || { echo "FAILED: no test programs in $tests_build/tests" >&2; exit 1; }

export WINEPREFIX=${KESTREL_WINEPREFIX:-$HOME/.cache/kestrel-wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init >/dev/null 2>&1
export LC_ALL=C.UTF-8
unset LANG LANGUAGE

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine-unit.XXXXXX")
# One wineserver for all programs, ending a minute after the last (not killed: another run may
# share the prefix).
"$wineserver" -p60 2>/dev/null
trap 'rm -rf "$work"' EXIT

# One program in a folder of its own; its log and exit status land in $work/<name>.log/.status.
run_one() {
    local program=$1 name
    shift
    name=$(basename "$program" .exe)
    mkdir -p "$work/$name"
    local started=$SECONDS
    (cd "$work/$name" && "$wine" "$program" --gtest_brief=1 "$@" >"$work/$name.log" 2>&1)
    echo "$? $((SECONDS - started))" >"$work/$name.status"
}
export -f run_one
export wine work

started=$SECONDS
printf '%s\0' "${programs[@]}" | xargs -0 -P "$jobs" -I{} bash -c 'run_one "$@"' _ {} "$@"

# gtest's closing lines: "[  PASSED  ] N tests.", "[  SKIPPED ] N tests.". Brief output has no
# total of failures, only one "[  FAILED  ] Suite.Test (N ms)" line per failed test.
count() {
    sed -n "s/^\[  $1 *\] \([0-9]*\) tests\?[,.].*/\1/p" "$2" | head -n 1
}

total_passed=0 total_failed=0 total_skipped=0 failed_programs=()
printf '%-18s %7s %7s %7s %7s\n' program passed failed skipped seconds
for program in "${programs[@]}"; do
    name=$(basename "$program" .exe)
    read -r status seconds <"$work/$name.status"
    passed=$(count PASSED "$work/$name.log")
    failed=$(grep -a -c '^\[  FAILED  \] [^ ]* ([0-9]* ms)$' "$work/$name.log")
    skipped=$(count SKIPPED "$work/$name.log")
    passed=${passed:-0} failed=${failed:-0} skipped=${skipped:-0}
    # A program that died before its summary counts as one failure.
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1
    fi
    [ "$status" -ne 0 ] && failed_programs+=("$name")
    printf '%-18s %7s %7s %7s %7s\n' "$name" "$passed" "$failed" "$skipped" "$seconds"
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
done
printf '%-18s %7s %7s %7s %7s\n' total "$total_passed" "$total_failed" "$total_skipped" $((SECONDS - started))

for name in "${failed_programs[@]}"; do
    echo "== $name"
    grep -a -v '^\[       OK \]' "$work/$name.log" | tail -n 40
done
[ ${#failed_programs[@]} -eq 0 ]
