#!/usr/bin/env bash
# Renders the program's icon, resources/icons/corvantis.svg, into the PNG sizes the desktop's icon
# theme looks up (resources/icons/corvantis-<size>.png) and the window icon (resources/icon.png).
# Run it after changing the SVG; the PNGs are kept in the repository so a build needs no renderer.
#   tools/make_icons.sh          (needs rsvg-convert: apt-get install librsvg2-bin)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
svg=$here/resources/icons/corvantis.svg
for size in 16 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$svg" -o "$here/resources/icons/corvantis-$size.png"
done
cp "$here/resources/icons/corvantis-32.png" "$here/resources/icon.png"
