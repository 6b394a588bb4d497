#!/usr/bin/env bash
# The main job of ./run on the sample: grows as the program grows.
set -euo pipefail
build=$1 out=$2
"$build/kestrel" --version || true
"$build/make-sample" --summary "$out/sample.dll"
