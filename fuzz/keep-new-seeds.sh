#!/usr/bin/env bash
# After a campaign (fuzz/campaign.sh): adds to fuzz/corpus/<target>/ the inputs of the campaign's
# corpus that reach coverage the committed seeds do not, keeping only inputs our own fuzzing made:
# any input that still carries a piece of a downloaded file (a seed named corpus-*) is left out, and
# so is anything above 64 KiB.
#   keep-new-seeds.sh FUZZ_BUILD WORK [TARGET...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ]; then
    sed -n '2,6p' "$0" >&2
    exit 2
fi
build=$1 work=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for folder in "$work"/corpus/*/; do
        targets+=("$(basename "$folder")")
    done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
    committed="$here/corpus/$target"
    mkdir -p "$committed" "$scratch/$target/merged"
    cp -r "$committed/." "$scratch/$target/merged/"
    "$build/fuzz/fuzz_$target" -merge=1 -timeout=10 -rss_limit_mb=2048 "$scratch/$target/merged" \
        "$work/corpus/$target" >"$scratch/$target.log" 2>&1 || {
        echo "$target: merge failed, see the log below" >&2
        tail -n 20 "$scratch/$target.log" >&2
        continue
    }
    python3 "$here/own_inputs.py" "$work/seeds/$target" "$committed" "$scratch/$target/merged"
done
