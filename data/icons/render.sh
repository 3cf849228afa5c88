#!/bin/sh
# Renders the hand-written glyvex.svg into the committed hicolor PNGs.
# Run after changing the SVG; needs rsvg-convert (Debian: librsvg2-bin).
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" glyvex.svg -o "glyvex-$size.png"
done
