#!/usr/bin/env bash
# Renders the application icon's PNGs (the sizes of the hicolor theme the package installs) from
# kestrel.svg. Run it after changing the SVG and commit the PNGs with it; the build itself needs no
# SVG renderer. Needs rsvg-convert (Debian package librsvg2-bin) and optipng when present.
set -euo pipefail
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert --width "$size" --height "$size" kestrel.svg --output "kestrel-$size.png"
    if command -v optipng >/dev/null; then optipng -quiet -o7 -strip all "kestrel-$size.png"; fi
done
