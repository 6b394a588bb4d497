#!/usr/bin/env bash
# Long fuzzing campaign: runs libFuzzer targets for a given time each, seeded from the committed seeds
# and from the fetched real-file corpus (tests/corpus/fetch): the PE files themselves, and the
# bitmaps, icons, PNGs and XML files that importing them writes. Prints, per target, the executions,
# the coverage reached (edges reached of the edges instrumented) and the number of crashing inputs.
#   campaign.sh FUZZ_BUILD KESTREL WORK SECONDS [JOBS] [TARGET...]
# FUZZ_BUILD: a clang build with -DKESTREL_FUZZ=ON, best with -DKESTREL_SANITIZE=ON too.
# KESTREL: the program that imports the corpus files the seeds come from.
# JOBS: how many targets run at once (default 2). SECONDS 0 only prints an earlier run's summary.
# Nothing in the source tree changes: to keep the inputs that found new coverage, run
# fuzz/keep-new-seeds.sh afterwards.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 4 ]; then
    sed -n '2,10p' "$0" >&2
    exit 2
fi
build=$(cd "$1" && pwd) kestrel=$2 work=$3 seconds=$4
shift 4
jobs=${1:-2}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$here"/*.cpp; do
        targets+=("$(basename "$source" .cpp)")
    done
fi
mkdir -p "$work"
work=$(cd "$work" && pwd)
seeds="$work/seeds"

import_one() {
    env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 "$kestrel" /Decompile "/Output:$2" "$1" >/dev/null 2>&1 \
        </dev/null || true
}

# Seeds: the committed ones, then what the corpus gives each target. Made once per work folder.
if [ ! -f "$seeds/.done" ]; then
    rm -rf "$seeds"
    for target in "${targets[@]}"; do
        mkdir -p "$seeds/$target"
        cp -r "$here/corpus/$target/." "$seeds/$target/" 2>/dev/null || true
    done
    corpus=$("$here/../tests/corpus/fetch" | tail -n 1) || corpus=""
    if [ -n "$corpus" ] && [ -d "$corpus" ]; then
        imported="$work/imported"
        mkdir -p "$imported"
        # Sixty PE files of up to 256 KiB, spread over the size range.
        mapfile -t files < <(find "$corpus" -type f \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.ocx' \
            -o -iname '*.cpl' -o -iname '*.drv' \) -size -256k -printf '%s %p\n' | sort -n | cut -d' ' -f2-)
        step=$(((${#files[@]} + 59) / 60))
        [ "$step" -ge 1 ] || step=1
        n=0
        for ((i = 0; i < ${#files[@]}; i += step)); do
            n=$((n + 1))
            [ -d "$seeds/pe_dump" ] && cp "${files[$i]}" "$seeds/pe_dump/corpus-$n.bin"
            import_one "${files[$i]}" "$imported/$n"
        done
        # Small files carry few images: import files known for their bitmaps and icons, and thirty
        # more over the whole size range.
        for name in comctl32.dll shell32.dll user32.dll comdlg32.dll explorer.exe winemine.exe \
            regedit.exe winefile.exe wordpad.exe taskmgr.exe oledlg.dll ieframe.dll msi.dll; do
            file=$(find "$corpus" -type f -iname "$name" | head -n 1)
            [ -n "$file" ] && import_one "$file" "$imported/$name"
        done
        mapfile -t files < <(find "$corpus" -type f \( -iname '*.dll' -o -iname '*.exe' \) -size +256k \
            -printf '%s %p\n' | sort -n | cut -d' ' -f2-)
        step=$(((${#files[@]} + 29) / 30))
        [ "$step" -ge 1 ] || step=1
        for ((i = 0; i < ${#files[@]}; i += step)); do
            n=$((n + 1))
            import_one "${files[$i]}" "$imported/$n"
        done
        python3 "$here/corpus_seeds.py" "$imported" "$seeds"
    fi
    touch "$seeds/.done"
fi

mkdir -p "$work/logs"
run_one() {
    local target=$1
    mkdir -p "$work/corpus/$target" "$work/artifacts/$target"
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/artifacts/$target/" -print_final_stats=1 \
        "$work/corpus/$target" "$seeds/$target" >"$work/logs/$target.log" 2>&1
    echo "$target: exit $?"
}
export -f run_one
export build work seconds seeds
if [ "$seconds" -gt 0 ]; then
    printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}'
fi

echo
printf '%-16s %12s %8s %8s %8s %8s %10s\n' target executions cov of ft corpus findings
for target in "${targets[@]}"; do
    log="$work/logs/$target.log"
    executions=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
    cov=$(echo "$last" | grep -o 'cov: [0-9]*' | grep -o '[0-9]*')
    ft=$(echo "$last" | grep -o 'ft: [0-9]*' | grep -o '[0-9]*')
    # Edges the instrumented code has in all ("cov" counts those reached).
    edges=$(grep -oE '\(([0-9]+) inline 8-bit counters' "$log" | head -n 1 | grep -oE '[0-9]+' | head -n 1)
    size=$(find "$work/corpus/$target" -type f | wc -l)
    findings=$(find "$work/artifacts/$target" -type f | wc -l)
    printf '%-16s %12s %8s %8s %8s %8s %10s\n' "$target" "${executions:-?}" "${cov:-?}" "${edges:-?}" "${ft:-?}" \
        "$size" "$findings"
done
