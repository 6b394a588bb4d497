#!/usr/bin/env bash
# check_docs.sh <kestrel program> <packaging folder>
# Fails when the manual page or the bash completion misses a flag the program takes, when the
# manual page makes groff warn, when the completion offers the wrong things, or when the desktop
# entry, the MIME type, the icons and the metainfo do not fit together or do not validate.
set -uo pipefail
program=$1 packaging=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

for tool in groff desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ -f /usr/share/bash-completion/bash_completion ] || { echo "SKIP: bash-completion is not installed"; exit 77; }

# Every flag of the usage text, in the manual page and in the completion.
# (--set-x stands for any of them in the text.)
flags=$("$program" --help | grep -oE '(^|[ [(])(--[a-z][a-z-]*|/[A-Z][A-Za-z]+:?)' | sed 's/^[ [(]//' |
    grep -vx -- --set-x | sort -u)
[ "$(wc -l <<<"$flags")" -ge 10 ] || fail "too few flags read from kestrel --help: $flags"
manual=$(groff -man -Tascii -P-cbou "$packaging/kestrel.1" 2>&1)
for flag in $flags; do
    grep -qF -- "$flag" <<<"$manual" || fail "the manual page does not mention $flag"
    grep -qF -- "$flag" "$packaging/kestrel.bash-completion" || fail "the completion does not offer $flag"
done
# Every option of kestrel-rcedit (built beside kestrel) in the manual page, and its page's link.
rcedit="$(dirname "$program")/kestrel-rcedit"
if [ -x "$rcedit" ]; then
    for flag in $("$rcedit" --help | grep -oE '^  (-[a-z], )?--[a-z][a-z-]*' | grep -oE -- '--[a-z-]+'); do
        grep -qF -- "$flag" <<<"$manual" || fail "the manual page does not mention kestrel-rcedit's $flag"
    done
    [ "$(cat "$packaging/kestrel-rcedit.1")" = ".so man1/kestrel.1" ] || fail "kestrel-rcedit.1 does not lead to kestrel.1"
fi
warnings=$(groff -man -ww -z "$packaging/kestrel.1" 2>&1)
[ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"

# The completion, as bash runs it on a tab press (words split at ":" and "=" as readline does).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out" && touch "$work/app.ico" "$work/app.dll" "$work/notes.txt"
# complete_line <typed text>: what a tab press at the end of the text offers, sorted, on one line.
complete_line() {
    (
        cd "$work" || exit 1
        # shellcheck disable=SC1091
        source /usr/share/bash-completion/bash_completion
        # shellcheck disable=SC1091
        source "$packaging/kestrel.bash-completion"
        compopt() { :; } # only valid while readline completes
        COMP_LINE="kestrel $1"
        COMP_POINT=${#COMP_LINE}
        # Readline's words: split at blanks, with ":" and "=" words of their own.
        read -r -a COMP_WORDS <<<"$(sed 's/[:=]/ & /g' <<<"$COMP_LINE")"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMPREPLY=()
        _kestrel kestrel "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
    )
}
expect_completion() {
    local got
    got=$(complete_line "$1")
    [ "$got" = "$2" ] || fail "completing '$1': expected '$2', got '$got'"
}
expect_completion "--set-" "--set-file-version --set-icon --set-product-version --set-rcdata --set-requested-execution-level --set-string --set-version-string "
expect_completion "/Edit app.dll --set-requested-execution-level re" "requireAdministrator "
expect_completion "/dEC" "/Decompile "
expect_completion "/Decompile /out" "/Output: "
expect_completion "/Sig" "/Sign /Signature "
expect_completion "/Sign app.dll --digest " "sha256 sha384 sha512 "
expect_completion "/Sign app.dll --digest=sha3" "sha384 "
expect_completion "/Sign app.dll --pkcs12 " "out "
expect_completion "/Sign app.dll --description " ""
expect_completion "/Edit app.dll --set-icon " "app.ico out "
expect_completion "/Edit app.dll --set-icon=a" "app.ico "
expect_completion "/Edit app.dll --set-string " ""
expect_completion "/Edit app.dll --set-string 1=a --stri" "--string-language --strip-signature "
expect_completion "/Edit app.dll --set-string 1=a --string-language " ""
expect_completion "/Edit app.dll --set-string 1=a --string-language=" ""
expect_completion "/Edit app.dll --set-file-version=" ""
expect_completion "/Compile /Output:o" "out "
expect_completion "/Compile --output=o" "out "
expect_completion "/Decompile " "app.dll app.ico notes.txt out "
expect_completion "/di" "/Diff "
expect_completion "/Diff app.dll " "app.dll app.ico notes.txt out "
expect_completion "/Diff app.dll app.dll --j" "--json "

# The desktop entry, the MIME type, the icons and the metainfo name each other.
desktop="$packaging/kestrel.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$packaging/kestrel.metainfo.xml" >/dev/null || fail "appstreamcli validate"
type=$(grep -oP '<mime-type type="\K[^"]+' "$packaging/kestrel-mime.xml")
grep -q "^MimeType=.*\b$type;" "$desktop" || fail "the desktop entry does not open $type"
grep -q "<mediatype>$type</mediatype>" "$packaging/kestrel.metainfo.xml" || fail "the metainfo does not provide $type"
icon=$(grep -oP '^Icon=\K.*' "$desktop")
[ -f "$packaging/icons/$icon.svg" ] || fail "no icon $icon.svg for Icon=$icon"
for size in 16 22 24 32 48 64 128 256; do
    # Width and height are the big-endian words at offsets 16 and 20 of a PNG.
    read -r -a header < <(od -An -tu1 -j16 -N8 "$packaging/icons/$icon-$size.png" 2>/dev/null)
    dimensions="$(((header[2] << 8) + header[3])) x $(((header[6] << 8) + header[7]))"
    [ "$dimensions" = "$size x $size" ] || fail "$icon-$size.png is $dimensions, not $size x $size"
done

[ "$failures" -eq 0 ] || exit 1
echo "manual page, completion and desktop files agree with the program"
