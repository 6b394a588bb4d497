#!/usr/bin/env bash
# Fails when a C++ file of ours differs from what clang-format makes of it.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
format=$(command -v clang-format-14 || command -v clang-format)
bad=0
while IFS= read -r -d '' file; do
    if ! "$format" --dry-run --Werror "$file" 2>/dev/null; then
        echo "needs clang-format: $file"
        bad=1
    fi
done < <(git ls-files -z --cached --others --exclude-standard -- '*.cpp' '*.h')
exit $bad
