#!/usr/bin/env bash
# The layers of the include graph (check-layers.sh), clang-tidy (checks in .clang-tidy) and cppcheck
# over every source file of src/.
#   scripts/static-analysis.sh [BUILD_FOLDER]
# BUILD_FOLDER holds compile_commands.json (default build/debug; configured here when missing).
# Exit status 1 when either tool reports a finding or is not installed.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$ROOT/build/debug}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
# A missing tool would find nothing and so pass; that is not a result.
if [ -z "$tidy" ]; then
    echo "static-analysis: clang-tidy is not installed (Debian package clang-tidy-14)" >&2
    exit 1
fi
if ! command -v cppcheck >/dev/null; then
    echo "static-analysis: cppcheck is not installed (Debian package cppcheck)" >&2
    exit 1
fi
jobs=$(nproc)
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null || exit 1
fi
# Qt's generated sources must exist before the Qt parts can be analysed.
for autogen in kestrel_app_autogen kestrel_ui_autogen kestrel_autogen; do
    if [ -f "$build/build.ninja" ] && grep -q "$autogen" "$build/build.ninja"; then
        cmake --build "$build" --target "$autogen" >/dev/null 2>&1 || true
    fi
done
cd "$ROOT"
status=0
sources=$(git ls-files 'src/*.cpp')

echo "== layers"
if ! "$ROOT/scripts/check-layers.sh"; then
    status=1
fi

echo "== clang-tidy ($tidy)"
log=$(mktemp)
# One file per process, $jobs at a time; only diagnostics are kept.
printf '%s\n' $sources | xargs -P "$jobs" -n 1 "$tidy" -p "$build" --quiet --extra-arg=-Wno-unknown-warning-option 2>/dev/null >"$log"
if grep -E '(warning|error):' "$log"; then
    status=1
fi
rm -f "$log"

echo "== cppcheck"
# Not reported: useInitializationList (style only); cppcheckError (cppcheck's own analysis giving up).
if ! cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability --std=c++20 --language=c++ \
    --inline-suppr --suppress=missingIncludeSystem --suppress=useInitializationList --suppress=cppcheckError \
    --suppress=ignoredReturnValue:src/core/images/png_codec.cpp \
    -I src $sources; then
    status=1
fi
exit $status
