#!/usr/bin/env bash
# Checks the Debian package in a clean Debian 12 system: builds the Release build and the package
# (or takes the .deb given), checks it with lintian, desktop-file-validate and appstreamcli, then
# installs it with apt-get into a minimal bookworm root without build tools and runs the programs,
# the manual page and the desktop and MIME registrations there. Needs root (for the chroot) and
# the network (the dependencies come from the Debian mirror). Exits non-zero on the first failure.
#
#   scripts/check-package.sh [kestrel_<version>_<arch>.deb]
#
# The minimal root is made once with mmdebstrap and kept as a tarball under
# ~/.cache/kestrel-package-root/; every run unpacks a fresh copy of it.
set -euo pipefail
source "$(dirname "$0")/common.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "check-package: needs root for the chroot (run it with sudo)" >&2
    exit 1
fi

step() { echo "== $*"; }
fail() {
    echo "check-package: FAILED: $*" >&2
    exit 1
}

ensure_packages "${BUILD_PACKAGES[@]}" mmdebstrap lintian desktop-file-utils appstream

# The Release build of ./run.
build="$ROOT/build/release"
cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
if [ $# -ge 1 ]; then
    deb=$(realpath "$1")
    step "package: $deb (given)"
    cmake --build "$build" --target make-sample >/dev/null
else
    step "building the Release build and the package in $build"
    cmake --build "$build"
    (cd "$build" && cpack -G DEB >/dev/null)
    deb=$(ls -t "$build"/kestrel_*.deb | head -n 1)
    step "package: $deb"
fi
dpkg-deb --field "$deb" Package Version Architecture Depends Recommends

step "lintian"
lintian_output=$(lintian --display-info "$deb" 2>&1 | grep -v "running with root privileges" || true)
echo "${lintian_output:-(no tags)}"
if grep -q '^E:' <<<"$lintian_output"; then fail "lintian reports errors"; fi

step "desktop-file-validate and appstreamcli validate"
contents=$(mktemp -d)
root=""
cleanup() {
    if [ -n "$root" ]; then
        for mount in proc dev; do
            if mountpoint -q "$root/$mount"; then umount --lazy "$root/$mount"; fi
        done
        rm -rf "$root"
    fi
    rm -rf "$contents"
}
trap cleanup EXIT
dpkg-deb --extract "$deb" "$contents"
desktop-file-validate "$contents/usr/share/applications/kestrel.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml || fail "appstreamcli validate"

# A minimal Debian 12 with the manual page reader; no compiler, no Qt, no -dev packages.
cache="$HOME/.cache/kestrel-package-root"
base="$cache/bookworm-minbase-man-db.tar"
if [ ! -f "$base" ]; then
    step "creating the minimal bookworm root (once): $base"
    mkdir -p "$cache"
    mmdebstrap --variant=minbase --format=tar --include=man-db,ca-certificates --components=main bookworm \
        "$base.part" \
        "deb http://deb.debian.org/debian bookworm main" \
        "deb http://deb.debian.org/debian bookworm-updates main" \
        "deb http://deb.debian.org/debian-security bookworm-security main"
    mv "$base.part" "$base"
fi
root=$(mktemp -d /var/tmp/kestrel-check-root.XXXXXX)
step "unpacking the clean root into $root"
# Device files come from the host's /dev, mounted below.
tar --extract --file "$base" --directory "$root" --exclude './dev/*'
mount --bind /dev "$root/dev"
mount -t proc proc "$root/proc"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/check"
cp "$deb" "$root/check/"
"$build/make-sample" "$root/check/sample.dll"

in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

step "apt-get install ./$(basename "$deb") in the clean root"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./check/$(basename "$deb")" \
    >"$root/check/apt.log" 2>&1 || {
    tail -n 30 "$root/check/apt.log"
    fail "apt-get install"
}
grep -E '^(Setting up|Processing triggers)' "$root/check/apt.log" | sed 's/^/   /' | tail -n 8
if in_root dpkg-query -W -f='${Package}\n' | grep -E -x '(g\+\+|gcc|cmake|make|qt6-base-dev)'; then
    fail "the root has build tools"
fi

step "kestrel --version"
in_root kestrel --version || fail "kestrel --version"

step "kestrel /Decompile"
in_root sh -c 'cd /check && kestrel /Decompile /Output:/check/work /check/sample.dll' ||
    fail "kestrel /Decompile"
echo "working folder: $(find "$root/check/work" -type f | wc -l) files"
[ -f "$root/check/work/pe.xml" ] || fail "no pe.xml after /Decompile"

step "kestrel /Compile"
in_root sh -c 'cd /check && kestrel /Compile /Output:/check/work /check/sample.dll </dev/null' ||
    fail "kestrel /Compile"
[ -s "$root/check/work/sample.dll" ] || fail "no compiled file"
"$build/make-sample" --summary "$root/check/work/sample.dll"

step "kestrel /Edit"
in_root kestrel /Edit /check/work/sample.dll --set-file-version 2.3.4.5 --set-string 7=checked ||
    fail "kestrel /Edit"
edited=$("$build/make-sample" --summary "$root/check/work/sample.dll")
echo "$edited"
grep -q '^FileVersion 2.3.4.5$' <<<"$edited" || fail "the file version is not 2.3.4.5 after /Edit"

step "kestrel /Signature (loads the signing module from /usr/lib/kestrel/modules)"
status=0
in_root kestrel /Signature /check/work/sample.dll >"$root/check/signature.log" 2>&1 || status=$?
cat "$root/check/signature.log"
# Exit status 1 is "not signed"; anything else means the signature could not be checked.
[ "$status" -eq 1 ] && grep -q '^Signed: no' "$root/check/signature.log" ||
    fail "kestrel /Signature ended with status $status"

step "the window starts (kestrel finds /usr/lib/kestrel/kestrel-gui; offscreen, stopped after 10 s)"
missing=$(in_root ldd /usr/lib/kestrel/kestrel-gui | grep 'not found' || true)
[ -z "$missing" ] || fail "kestrel-gui misses libraries: $missing"
status=0
in_root env XDG_CONFIG_HOME=/check/config XDG_DATA_HOME=/check/data QT_QPA_PLATFORM=offscreen \
    timeout 10 kestrel /check/work/sample.kestrel >"$root/check/gui.log" 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
    cat "$root/check/gui.log"
    fail "the window ended with status $status instead of running"
fi
echo "kestrel-gui ran until stopped"

step "man kestrel"
in_root env MANWIDTH=80 MANPAGER=cat man kestrel >"$root/check/man.txt" 2>"$root/check/man.err" ||
    fail "man kestrel: $(cat "$root/check/man.err")"
[ ! -s "$root/check/man.err" ] || fail "man kestrel warned: $(cat "$root/check/man.err")"
head -n 12 "$root/check/man.txt"
echo "   ... ($(wc -l <"$root/check/man.txt") lines)"

step "desktop entry, icons and the MIME type"
for file in /usr/share/applications/kestrel.desktop /usr/share/mime/packages/kestrel.xml \
    /usr/share/icons/hicolor/48x48/apps/kestrel.png /usr/share/icons/hicolor/scalable/apps/kestrel.svg \
    /usr/share/icons/hicolor/48x48/mimetypes/application-x-kestrel-project.png \
    /usr/share/bash-completion/completions/kestrel /usr/share/doc/kestrel/copyright; do
    [ -f "$root$file" ] || fail "$file is missing"
    echo "   $file"
done
# The MIME and desktop databases are rebuilt by the triggers of shared-mime-info and
# desktop-file-utils, which every desktop has; a minimal root may lack them.
for tool in update-mime-database:shared-mime-info update-desktop-database:desktop-file-utils; do
    if [ ! -x "$root/usr/bin/${tool%%:*}" ]; then
        echo "   (installing ${tool#*:}, as a desktop has it)"
        in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${tool#*:}" >>"$root/check/apt.log" 2>&1 ||
            fail "apt-get install ${tool#*:}"
    fi
done
grep -F 'application/x-kestrel-project:*.kestrel' "$root/usr/share/mime/globs2" ||
    fail "the MIME database does not know *.kestrel"
grep -F 'application/x-kestrel-project=kestrel.desktop' "$root/usr/share/applications/mimeinfo.cache" ||
    fail "the desktop database does not open *.kestrel with kestrel.desktop"
if in_root sh -c 'command -v xdg-mime' >/dev/null; then
    filetype=$(in_root xdg-mime query filetype /check/work/sample.kestrel)
    handler=$(in_root xdg-mime query default application/x-kestrel-project)
    echo "   xdg-mime: sample.kestrel is $filetype, opened with $handler"
    [ "$filetype" = application/x-kestrel-project ] || fail "xdg-mime says sample.kestrel is $filetype"
    [ "$handler" = kestrel.desktop ] || fail "xdg-mime opens the project type with '$handler'"
fi

step "all package checks passed"
