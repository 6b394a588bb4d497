#!/bin/sh
# Runs one libFuzzer target briefly: a fixed seed, the committed seed corpus (read only) plus a
# scratch corpus in the build folder, so every run is repeatable and nothing in the tree changes.
set -e
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
[ -d "$seeds" ] || mkdir -p "$seeds"
exec "$target" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1 "$work/corpus" "$seeds"
