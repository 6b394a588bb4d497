#!/bin/bash
# Runs the Windows command line under Wine beside the Linux one and compares what they make, byte
# for byte: /Decompile and /Compile of the synthetic sample (under a name with Chinese letters and
# one with a space) and of a few corpus files, /Edit, /Diff and kestrel-rcedit. With --unit it first
# runs the cross-built core test programs under Wine. With --all it then imports and compiles every
# PE file of the corpus with both programs (two at a time, one wineserver kept running) and compares
# the exit statuses and the output folders; that takes 15 minutes to an hour on two busy cores.
#
#   tests/windows/run-wine.sh [--unit] [--corpus N] [--all]
#
# Needs scripts/build-windows.sh (with --tests for --unit) and the Linux build in build/debug
# (KESTREL_NATIVE_BUILD, KESTREL_WINDOWS_BUILD, KESTREL_WINDOWS_TESTS_BUILD choose others). The corpus comes from
# tests/corpus/fetch; without it only the sample is compared.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
native=${KESTREL_NATIVE_BUILD:-$root/build/debug}
windows=${KESTREL_WINDOWS_BUILD:-$root/build/windows}
windows_tests=${KESTREL_WINDOWS_TESTS_BUILD:-$root/build/windows-tests}
unit=0
all=0
corpus_count=6
while [ $# -gt 0 ]; do
    case $1 in
        --unit) unit=1 ;;
        --corpus) corpus_count=$2; shift ;;
        --all) all=1 ;;
        *) echo "usage: $0 [--unit] [--corpus N] [--all]" >&2; exit 2 ;;
    esac
    shift
done

source "$root/scripts/common.sh"
ensure_packages wine64 || exit 1
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || { echo "FAILED: wine64 is not installed" >&2; exit 1; }
for program in "$native/kestrel" "$native/kestrel-rcedit" "$native/make-sample" "$windows/kestrel.exe" \
    "$windows/kestrel-rcedit.exe"; do
    [ -x "$program" ] || [ -f "$program" ] || { echo "FAILED: $program is missing" >&2; exit 1; }
done

# A Wine prefix of our own, made once; no Gecko or Mono installers.
export WINEPREFIX=${KESTREL_WINEPREFIX:-$HOME/.cache/kestrel-wine}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1
fi
# The two programs see the same language setting and no user settings of their own.
export LC_ALL=C.UTF-8
unset LANG LANGUAGE

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-wine.XXXXXX")
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
failures=0
checks=0

fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

if [ "$unit" = 1 ]; then
    checks=$((checks + 1))
    "$root/tests/windows/run-unit-tests.sh" || fail "the core test programs under Wine"
fi

# Runs one command in linux/ with the Linux program and in windows/ with the Windows one (relative
# names only, which both read the same), and checks that the exit statuses agree. Sets $status.
run_both() {
    local linux_status windows_status
    local program=$1
    shift
    (cd "$work/linux" && "$native/$program" "$@" >"$work/linux.out" 2>"$work/linux.err")
    linux_status=$?
    (cd "$work/windows" && "$wine" "$windows/$program.exe" "$@" >"$work/windows.out" 2>"$work/windows.err")
    windows_status=$?
    checks=$((checks + 1))
    status=$linux_status
    if [ "$linux_status" != "$windows_status" ]; then
        fail "$program $*: exit status $linux_status on Linux, $windows_status under Wine"
        sed 's/^/  linux: /' "$work/linux.err" | head -n 5
        sed 's/^/  wine:  /' "$work/windows.err" | head -n 5
        return 1
    fi
    return 0
}

# Compares a file or folder the two programs made.
same() {
    checks=$((checks + 1))
    if [ ! -e "$work/linux/$1" ] && [ ! -e "$work/windows/$1" ]; then
        return 0
    fi
    if ! diff -r -q "$work/linux/$1" "$work/windows/$1" >"$work/diff.txt" 2>&1; then
        fail "$2: the outputs differ ($1)"
        head -n 10 "$work/diff.txt"
        return 1
    fi
}

# One input file under the name `name`: import, compile, edit, diff and kestrel-rcedit.
compare_file() {
    local source=$1 name=$2
    rm -rf "$work/linux" "$work/windows"
    mkdir -p "$work/linux" "$work/windows"
    cp "$source" "$work/linux/$name"
    cp "$source" "$work/windows/$name"
    run_both kestrel /Decompile "/Output:out" "$name"
    same out "/Decompile $name"
    if [ -f "$work/linux/out/pe.xml" ]; then
        run_both kestrel /Compile "/Output:out" "$name"
        same out "/Compile $name"
    fi
    run_both kestrel /Edit "$name" "/Output:edited $name" --set-file-version 1.2.3.4 \
        --set-version-string "Comments=编辑于 Wine" --set-string "7=字符串 seven"
    same "edited $name" "/Edit $name"
    run_both kestrel /Diff "$name" "edited $name"
    checks=$((checks + 1))
    cmp -s "$work/linux.out" "$work/windows.out" || fail "/Diff $name: the reports differ"
    cp "$source" "$work/linux/rcedit $name"
    cp "$source" "$work/windows/rcedit $name"
    run_both kestrel-rcedit "rcedit $name" --set-file-version 4.3.2.1 --set-version-string ProductName "产品"
    same "rcedit $name" "kestrel-rcedit $name"
    echo "compared: $name"
}

"$native/make-sample" "$work/sample.dll" >/dev/null || { echo "FAILED: make-sample"; exit 1; }
compare_file "$work/sample.dll" "示例 文件.dll"
compare_file "$work/sample.dll" "sample file.dll"

corpus=$("$root/tests/corpus/fetch" 2>/dev/null | tail -n 1)
if [ -n "$corpus" ] && [ -d "$corpus" ]; then
    mapfile -t files < <(find "$corpus" -type f \( -iname '*.exe' -o -iname '*.dll' \) -size -3M | sort |
        awk -v n="$corpus_count" 'NR % 97 == 1 && count < n { print; count++ }')
    for file in "${files[@]}"; do
        compare_file "$file" "$(basename "$file")"
    done
else
    echo "note: no corpus; only the sample was compared"
fi

# Import and compile of one file with both programs in a folder of its own; prints one line,
# "same <file> <status>" or "DIFFERENT <file>: <what>". Runs in the subshells xargs starts.
roundtrip_one() {
    local source=$1 dir name linux_status windows_status side
    dir=$(mktemp -d "$work/all/file.XXXXXX")
    name=$(basename "$source")
    for side in linux windows; do
        mkdir -p "$dir/$side"
        cp "$source" "$dir/$side/$name"
    done
    (cd "$dir/linux" && "$native/kestrel" /Decompile /Output:out "$name" >/dev/null 2>&1)
    linux_status=$?
    (cd "$dir/windows" && "$wine" "$windows/kestrel.exe" /Decompile /Output:out "$name" >/dev/null 2>&1)
    windows_status=$?
    if [ "$linux_status" != "$windows_status" ]; then
        echo "DIFFERENT $source: /Decompile exits $linux_status on Linux, $windows_status under Wine"
    elif ! diff -r -q "$dir/linux/out" "$dir/windows/out" >"$dir/diff.txt" 2>&1 &&
        [ -e "$dir/linux/out" -o -e "$dir/windows/out" ]; then
        echo "DIFFERENT $source: /Decompile output: $(head -n 1 "$dir/diff.txt")"
    elif [ ! -f "$dir/linux/out/pe.xml" ]; then
        echo "same $source refused $linux_status"
    else
        (cd "$dir/linux" && "$native/kestrel" /Compile /Output:out "$name" </dev/null >/dev/null 2>&1)
        linux_status=$?
        (cd "$dir/windows" && "$wine" "$windows/kestrel.exe" /Compile /Output:out "$name" </dev/null \
            >/dev/null 2>&1)
        windows_status=$?
        if [ "$linux_status" != "$windows_status" ]; then
            echo "DIFFERENT $source: /Compile exits $linux_status on Linux, $windows_status under Wine"
        elif ! diff -r -q "$dir/linux/out" "$dir/windows/out" >"$dir/diff.txt" 2>&1; then
            echo "DIFFERENT $source: /Compile output: $(head -n 1 "$dir/diff.txt")"
        else
            echo "same $source compiled $linux_status"
        fi
    fi
    rm -rf "$dir"
}

if [ "$all" = 1 ]; then
    if [ -z "$corpus" ] || [ ! -d "$corpus" ]; then
        fail "--all needs the corpus (tests/corpus/fetch)"
    else
        mkdir -p "$work/all"
        # One wineserver for the whole run, ending a minute after it: each program then starts
        # in a fraction of a second.
        wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
        "$wineserver" -p60 2>/dev/null
        export -f roundtrip_one
        export native windows wine work
        started=$SECONDS
        # Every file that starts like a PE file (MZ, with a PE header or not): the Linux build's
        # refusals must be the Windows build's too.
        find "$corpus" -type f -size +63c -print0 | sort -z |
            xargs -0 -r -n 64 sh -c 'for f; do [ "$(head -c 2 "$f")" = MZ ] && printf "%s\0" "$f"; done' _ |
            xargs -0 -r -P "${KESTREL_JOBS:-2}" -n 1 bash -c 'roundtrip_one "$1"' _ >"$work/all.txt"
        total=$(wc -l <"$work/all.txt")
        compiled=$(grep -c '^same .* compiled ' "$work/all.txt")
        refused=$(grep -c '^same .* refused ' "$work/all.txt")
        different=$(grep -c '^DIFFERENT ' "$work/all.txt")
        grep '^DIFFERENT ' "$work/all.txt" | sed 's/^/FAILED: /'
        checks=$((checks + total))
        failures=$((failures + different))
        echo "whole corpus: $total files in $((SECONDS - started)) s: $compiled imported and compiled the" \
            "same, $refused refused by both with the same status, $different different"
    fi
fi

echo "$checks checks, $failures failed"
[ "$failures" -eq 0 ]
