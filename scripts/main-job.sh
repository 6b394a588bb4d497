#!/usr/bin/env bash
# The main job of ./run: import the sample into a working folder with the command line, compile the
# folder back into a PE file, and show both files' summaries.
set -euo pipefail
build=$1 out=$2

# Settings and the data folder of this run stay inside the output folder.
export XDG_CONFIG_HOME="$out/config" XDG_DATA_HOME="$out/data"

"$build/kestrel" --version
"$build/make-sample" --summary "$out/sample.dll"

echo "== kestrel /Decompile"
"$build/kestrel" /Decompile "/Output:$out/work" "$out/sample.dll"
echo "working folder: $out/work ($(find "$out/work" -type f | wc -l) files)"

echo "== kestrel /Compile"
# Standard input is not a terminal: the copy question takes its default (No), so the sample stays
# as it is and the compiled file is left in the working folder.
"$build/kestrel" /Compile "$out/sample.dll" "/Output:$out/work" </dev/null
"$build/make-sample" --summary "$out/work/sample.dll"
