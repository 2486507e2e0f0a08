#!/usr/bin/env bash
# Draws the program's icon (velomi.png, 128 x 128) with ImageMagick 6. Run once by hand; the PNG
# is committed.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# A white pair of notes on a rounded teal square.
convert -size 128x128 xc:none \
  -fill '#0d7c83' -draw 'roundrectangle 4,4 123,123 22,22' \
  -fill '#fffbf0' -font "$font" -pointsize 96 -gravity center -annotate +0+6 '♫' \
  PNG32:velomi.png
