#!/usr/bin/env bash
# Draws the station's icon (a battery with three charge bars on a dark tile) and writes it in
# the sizes of the hicolor icon theme to packaging/icons/SIZExSIZE/cellstation.png. The PNGs
# are kept in the repository; run this again only to change the drawing. Needs ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
out=packaging/icons
master=$(mktemp --suffix=.png)
trap 'rm -f "$master"' EXIT
convert -size 256x256 xc:none \
  -fill '#1f3a5f' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill none -stroke white -strokewidth 12 -draw 'roundrectangle 44,80 196,176 14,14' \
  -stroke none -fill white -draw 'rectangle 200,108 220,148' \
  -fill '#3ddc5a' -draw 'rectangle 62,98 96,158' -draw 'rectangle 103,98 137,158' -draw 'rectangle 144,98 178,158' \
  "$master"
for s in 16 32 48 64 128 256; do
  mkdir -p "$out/${s}x${s}"
  convert "$master" -resize "${s}x${s}" -strip "PNG32:$out/${s}x${s}/cellstation.png"
done
