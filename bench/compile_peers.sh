#!/usr/bin/env bash
# Import and compile against peers on the same files, in one run:
# - extraction: `wrestool -x --all` (icoutils) against our import;
# - a whole read-and-write round trip in memory with the npm library resedit (version 3) against our
#   compile. resedit refuses files with a COFF symbol table, so it gets a copy stripped with
#   i686-w64-mingw32-strip (binutils-mingw-w64-i686); our import and compile use the original.
# Our times come from bench_compile_roundtrip (build with -DKESTREL_BENCH=ON), which also prints the
# floors. Benchmarks are not tests: nothing here fails a build.
#
#   bench/compile_peers.sh BUILD_FOLDER [FILE...]
# Default files: shell32.dll, kernelbase.dll and light.msstyles of the corpus (tests/corpus/fetch).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: compile_peers.sh BUILD_FOLDER [FILE...]}
shift
bench="$build/bench/bench_compile_roundtrip"
[ -x "$bench" ] || { echo "missing $bench (configure with -DKESTREL_BENCH=ON)" >&2; exit 1; }

files=("$@")
if [ ${#files[@]} -eq 0 ]; then
    corpus=$("$here/../tests/corpus/fetch" | tail -n 1) || exit 1
    for name in shell32.dll kernelbase.dll light.msstyles; do
        files+=("$corpus/usr/lib/i386-linux-gnu/wine/i386-windows/$name")
    done
fi

cache="${KESTREL_BENCH_CACHE:-$HOME/.cache/kestrel-bench}"
mkdir -p "$cache"
if [ ! -d "$cache/node_modules/resedit" ]; then
    npm install --silent --prefix "$cache" resedit@3 >/dev/null 2>&1 || echo "resedit could not be installed" >&2
fi
cat > "$cache/resedit-roundtrip.mjs" <<'JS'
// Reads a PE file, parses its resources, writes them back and generates the file, in memory.
import { createRequire } from 'module';
import fs from 'fs';
const require = createRequire(process.argv[3] + '/');
const ResEdit = await import(require.resolve('resedit'));
const data = fs.readFileSync(process.argv[2]);
let best = Infinity;
for (let run = 0; run < 3; ++run) {
    const start = performance.now();
    const exe = ResEdit.NtExecutable.from(data);
    const res = ResEdit.NtExecutableResource.from(exe);
    res.outputResource(exe);
    exe.generate();
    best = Math.min(best, performance.now() - start);
}
console.log((best / 1000).toFixed(3));
JS

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
seconds() {  # best of three wall-clock times of a command, in seconds
    local best="" start end elapsed
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        elapsed=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$elapsed < $best" | bc -l)" = 1 ]; then best=$elapsed; fi
    done
    printf '%.3f' "$best"
}

for file in "${files[@]}"; do
    name=$(basename "$file")
    ours=$("$bench" "$file" | tail -n 1)
    echo "$ours"
    import=$(echo "$ours" | sed -n 's/.*| import *\([0-9.]*\) s.*/\1/p')
    compile=$(echo "$ours" | sed -n 's/.*| compile *\([0-9.]*\) s.*/\1/p')

    wrestool_time="n/a"
    if command -v wrestool >/dev/null; then
        wrestool_time=$(seconds bash -c "rm -rf '$scratch/w' && mkdir '$scratch/w' && wrestool -x --all -o '$scratch/w' '$file'")
    fi
    resedit_time="n/a"
    if command -v node >/dev/null && [ -d "$cache/node_modules/resedit" ]; then
        cp "$file" "$scratch/$name"
        command -v i686-w64-mingw32-strip >/dev/null && i686-w64-mingw32-strip "$scratch/$name" 2>/dev/null
        resedit_time=$(node "$cache/resedit-roundtrip.mjs" "$scratch/$name" "$cache" 2>/dev/null || echo "n/a")
    fi
    ratio() { if [[ $1 =~ ^[0-9.]+$ && $2 =~ ^[0-9.]+$ ]]; then echo "scale=2; $1 / $2" | bc -l; else echo "n/a"; fi; }
    printf '%-18s import %s s vs wrestool -x %s s (ratio %s) | compile %s s vs resedit round trip %s s (ratio %s)\n' \
        "$name" "$import" "$wrestool_time" "$(ratio "$import" "$wrestool_time")" \
        "$compile" "$resedit_time" "$(ratio "$compile" "$resedit_time")"
done
