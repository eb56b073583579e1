#!/usr/bin/env bash
# Draws the program icon (a digitizing tablet with its cursor puck) and writes
# app/res/quillane.ico with the usual sizes. Needs ImageMagick; the .ico is committed.
set -euo pipefail
out=${1:-$(dirname "$0")/../../app/res/quillane.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 256x256 xc:none \
  -fill '#1f3b57' -draw 'roundrectangle 10,34 246,222 26,26' \
  -fill '#e8f0f7' -draw 'roundrectangle 34,56 222,200 10,10' \
  -stroke '#b7c9da' -strokewidth 3 \
  -draw 'line 34,104 222,104' -draw 'line 34,152 222,152' \
  -draw 'line 97,56 97,200' -draw 'line 160,56 160,200' \
  -stroke none -fill '#1f3b57' -draw 'rectangle 104,14 152,34' \
  -fill '#e8731c' -draw 'circle 160,128 160,92' \
  -fill '#e8f0f7' -draw 'circle 160,128 160,110' \
  -stroke '#c0392b' -strokewidth 6 -draw 'line 160,84 160,172' -draw 'line 116,128 204,128' \
  "$work/256.png"
for size in 16 24 32 48 64; do
  convert "$work/256.png" -resize ${size}x${size} "$work/$size.png"
done
convert "$work/16.png" "$work/24.png" "$work/32.png" "$work/48.png" "$work/64.png" "$work/256.png" "$out"
echo "wrote $out"
