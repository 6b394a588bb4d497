#!/usr/bin/env bash
# scripts/check-layers.sh on small made-up trees: it passes a tree that keeps to the layers and
# fails, naming the files, on an include that goes up a layer, on libraries that include each other
# and on headers that include each other.
#   check_layers_test.sh PATH_TO_CHECK_LAYERS
set -uo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
failures=0

# Writes src/$1 with one include line per further argument.
put() {
    local file=$tree/src/$1
    shift
    mkdir -p "$(dirname "$file")"
    : >"$file"
    for include in "$@"; do
        echo "#include \"$include\"" >>"$file"
    done
}

# expect STATUS TEXT: the check's exit status is STATUS and its output holds TEXT.
expect() {
    local output status
    output=$(bash "$check" "$tree/src" 2>&1)
    status=$?
    if [ "$status" -ne "$1" ] || ! grep -qF -- "$2" <<<"$output"; then
        echo "FAIL: expected status $1 and \"$2\", got $status:"
        echo "$output"
        failures=$((failures + 1))
    fi
}

put core/platform/files.h
put core/errors/errors.h core/platform/files.h
put core/pe/pe_image.h core/errors/errors.h core/platform/files.h
put cli/command_line.h core/pe/pe_image.h
put app/ks_doc.h cli/command_line.h
put ui/panes/hex_wnd.h app/ks_doc.h ui/frame/pane_host.h
put ui/frame/pane_host.h ui/ui_text.h
put ui/ui_text.h
put rcedit/rcedit_program.h cli/command_line.h
put main.cpp ui/panes/hex_wnd.h rcedit/rcedit_program.h
expect 0 "no layer broken, no circle"

put cli/command_line.h core/pe/pe_image.h app/ks_doc.h
expect 1 "cli/command_line.h (cli) includes app/ks_doc.h (app)"
put cli/command_line.h core/pe/pe_image.h

put rcedit/rcedit_program.h app/ks_doc.h
expect 1 "rcedit/rcedit_program.h (rcedit) includes app/ks_doc.h (app)"
put rcedit/rcedit_program.h cli/command_line.h

put core/platform/files.cpp core/errors/errors.h
expect 1 "libraries in a circle: core/errors, core/platform"
rm "$tree/src/core/platform/files.cpp"

put core/xml/a.h core/pe/b.h
put core/pe/b.h core/xml/a.h
expect 1 "files that include each other in a circle: core/pe/b.h, core/xml/a.h"
rm "$tree/src/core/xml/a.h" "$tree/src/core/pe/b.h"

put ui/frame/ks_view.h ui/frame/missing.h
expect 1 "includes ui/frame/missing.h, which is not a file of src/"

exit $((failures > 0))
