#!/usr/bin/env bash
# Draws the About box's picture (about.png, 150 x 214), the program's icon (velomi.png,
# 128 x 128) and the same icon in the desktop's sizes (packaging/icons/hicolor/, drawn at 256 x 256
# and scaled down) with ImageMagick 6. Run once by hand; the PNGs are committed.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# A record on a deep teal ground, three notes rising from it.
convert -size 150x214 gradient:'#0d5c63'-'#06283d' \
  -fill '#111418' -draw 'circle 75,132 75,72' \
  -fill none -stroke '#2b3038' -strokewidth 1 \
  -draw 'circle 75,132 75,78' -draw 'circle 75,132 75,86' -draw 'circle 75,132 75,94' \
  -draw 'circle 75,132 75,102' -draw 'circle 75,132 75,110' \
  -stroke none -fill '#b8332e' -draw 'circle 75,132 75,114' \
  -fill '#fffbf0' -draw 'circle 75,132 75,128' \
  -fill '#8fe3c9' -font "$font" -pointsize 34 -annotate +14+50 '♪' \
  -fill '#fffbf0' -pointsize 42 -annotate +58+38 '♫' \
  -fill '#f3c969' -pointsize 28 -annotate +110+62 '♪' \
  -fill '#fffbf0' -pointsize 13 -gravity south -annotate +0+12 'MP3 · WMA' \
  -type TrueColor PNG24:about.png

# A white pair of notes on a rounded teal square.
convert -size 128x128 xc:none \
  -fill '#0d7c83' -draw 'roundrectangle 4,4 123,123 22,22' \
  -fill '#fffbf0' -font "$font" -pointsize 96 -gravity center -annotate +0+6 '♫' \
  PNG32:velomi.png

# The desktop's sizes of the icon, under the application's id.
icons=../../../packaging/icons/hicolor
convert -size 256x256 xc:none \
  -fill '#0d7c83' -draw 'roundrectangle 8,8 247,247 44,44' \
  -fill '#fffbf0' -font "$font" -pointsize 192 -gravity center -annotate +0+12 '♫' \
  PNG32:/tmp/velomi-icon-256.png
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$icons/${size}x${size}/apps"
  convert /tmp/velomi-icon-256.png -filter Lanczos -resize "${size}x${size}" \
    -define png:exclude-chunks=date,time PNG32:"$icons/${size}x${size}/apps/com.example.velomi.png"
done
rm -f /tmp/velomi-icon-256.png
