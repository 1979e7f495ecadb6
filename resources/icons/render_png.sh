#!/bin/sh
# Render the Quorvel application icon into the hicolor PNG sizes.
# Needs rsvg-convert (Debian/Ubuntu package: librsvg2-bin).
# Usage: resources/icons/render_png.sh   (from any directory)
set -eu

cd "$(dirname "$0")"

if ! command -v rsvg-convert >/dev/null 2>&1; then
    echo "render_png.sh: rsvg-convert not found (install librsvg2-bin)" >&2
    exit 1
fi

for size in 16 32 48 256; do
    dir="hicolor/${size}x${size}/apps"
    mkdir -p "$dir"
    rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio \
        quorvel.svg --output "$dir/quorvel.png"
    echo "wrote $dir/quorvel.png"
done
