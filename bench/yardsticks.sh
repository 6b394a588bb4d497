#!/usr/bin/env bash
# Import and compile against the floors, measured from outside with hyperfine on tmpfs:
# - import: `kestrel /Decompile` against the write floor (write-floor.c: read the input once,
#   create the files the import wrote, same names and sizes), `hyperfine -N`;
# - compile: `kestrel /Compile` against the read floor (`xargs cat < list > out` over the files of
#   the working folder, on the same tmpfs).
# Each pair runs in one hyperfine call (warm-up 1, 9 runs, medians); the figure is the ratio of
# the medians. With --before PATH an older kestrel joins each call as a third command, so a
# before/after comparison comes from the same run. Goals: both ratios <= 1.3.
#
#   bench/yardsticks.sh [--runs N] [--before PATH] KESTREL [FILE...]
# Default files: shell32.dll, light.msstyles, comctl32.dll and kernelbase.dll of the corpus
# (tests/corpus/fetch), 32-bit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
runs=9
before=""
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --before) before=$(realpath "$2"); shift 2 ;;
        *) break ;;
    esac
done
kestrel=$(realpath "${1:?usage: yardsticks.sh [--runs N] [--before PATH] KESTREL [FILE...]}")
shift
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)" >&2; exit 1; }

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    corpus=$("$here/../tests/corpus/fetch" | tail -n 1)
    for name in shell32.dll light.msstyles comctl32.dll kernelbase.dll; do
        files+=("$corpus/usr/lib/i386-linux-gnu/wine/i386-windows/$name")
    done
fi

T=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$T"' EXIT
cc -O2 -o "$T/write-floor" "$here/write-floor.c"

# Median of command INDEX (0-based) from a hyperfine JSON export, in milliseconds.
median() {
    python3 -c 'import json,sys; print("%.1f" % (1000 * json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]["median"]))' "$1" "$2"
}
# Mean CPU time (user + system) of command INDEX, in milliseconds: the figure a busy machine
# disturbs least.
cpu() {
    python3 -c 'import json,sys; r = json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]; print("%.1f" % (1000 * (r["user"] + r["system"])))' "$1" "$2"
}
ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }

printf '%-16s | %-44s | %-44s\n' file "import / write floor: wall ms, ratio; CPU ratio" \
    "compile / read floor: wall ms, ratio; CPU ratio"
for input in "${files[@]}"; do
    name=$(basename "$input")
    rm -rf "$T/probe" "$T/a" "$T/b"
    "$kestrel" /Decompile "$input" "/Output:$T/probe" >/dev/null 2>&1
    (cd "$T/probe" && find . -type f -printf '%P\t%s\n') > "$T/list"
    cut -f1 "$T/list" > "$T/names"

    import=(hyperfine -N --warmup 1 --runs "$runs" --style none --prepare "rm -rf $T/a $T/b $T/c"
        --export-json "$T/import.json"
        "$kestrel /Decompile $input /Output:$T/a" "$T/write-floor $input $T/list $T/b")
    [ -n "$before" ] && import+=("$before /Decompile $input /Output:$T/c")
    "${import[@]}" >/dev/null

    # The read floor needs a shell for its redirections; hyperfine subtracts the shell's own start
    # from every command of the call alike.
    compile=(hyperfine --warmup 1 --runs "$runs" --style none --export-json "$T/compile.json"
        "$kestrel /Compile /Output:$T/probe $input"
        "cd $T/probe && xargs cat < $T/names > $T/out")
    [ -n "$before" ] && compile+=("$before /Compile /Output:$T/probe $input")
    "${compile[@]}" >/dev/null

    row() {  # LABEL INDEX
        local im wf cm rf ic wc cc rc
        im=$(median "$T/import.json" "$2") wf=$(median "$T/import.json" 1)
        cm=$(median "$T/compile.json" "$2") rf=$(median "$T/compile.json" 1)
        ic=$(cpu "$T/import.json" "$2") wc=$(cpu "$T/import.json" 1)
        cc=$(cpu "$T/compile.json" "$2") rc=$(cpu "$T/compile.json" 1)
        printf '%-16s | %7s / %7s  %5s; CPU %5s / %5s %5s | %7s / %7s  %5s; CPU %5s / %5s %5s\n' "$1" \
            "$im" "$wf" "$(ratio "$im" "$wf")" "$ic" "$wc" "$(ratio "$ic" "$wc")" \
            "$cm" "$rf" "$(ratio "$cm" "$rf")" "$cc" "$rc" "$(ratio "$cc" "$rc")"
    }
    row "$name" 0
    [ -n "$before" ] && row "  before" 2
done
