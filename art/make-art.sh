#!/usr/bin/env bash
# Draws the launcher banner (551 x 74) and the about-box picture (156 x 213)
# with ImageMagick. The JPEGs are committed; this script is how they were made.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
im=${IM_CONVERT:-/usr/bin/convert}

# Banner: a deep-blue to sky gradient, a disk platter with a read arm on the
# right, the product name and a line about what it does.
"$im" -size 74x551 gradient:'#0b2a6f'-'#5aa9e6' -rotate 90 \
  -fill none -stroke '#ffffff40' -strokewidth 1 \
  -draw "circle 490,37 490,3" -draw "circle 490,37 490,13" -draw "circle 490,37 490,23" \
  -fill '#ffffff' -stroke none -draw "circle 490,37 490,33" \
  -stroke '#ffd24a' -strokewidth 4 -draw "line 540,6 498,33" \
  -stroke none -fill '#ffd24a' -draw "circle 540,6 540,10" \
  -font DejaVu-Sans-Bold -pointsize 30 -fill white -draw "text 22,42 'Vantrel 2.0'" \
  -font DejaVu-Sans -pointsize 12 -fill '#dcecff' \
  -draw "text 24,62 'Undelete and recover files on FAT and NTFS drives'" \
  -quality 90 -strip "$here/banner.jpg"

# About picture: a tall panel with a platter seen from above and the name.
"$im" -size 156x213 gradient:'#5aa9e6'-'#0b2a6f' \
  -fill '#c9d6e8' -stroke '#7d8ea8' -strokewidth 2 -draw "circle 78,92 78,32" \
  -fill '#e9eef6' -stroke '#9fb0c8' -strokewidth 1 -draw "circle 78,92 78,52" \
  -fill '#7d8ea8' -stroke none -draw "circle 78,92 78,82" \
  -fill '#ffffff' -draw "circle 78,92 78,88" \
  -stroke '#ffd24a' -strokewidth 5 -draw "line 140,40 96,84" \
  -stroke none -fill '#ffd24a' -draw "circle 140,40 140,46" \
  -font DejaVu-Sans-Bold -pointsize 22 -fill white -gravity south -draw "text 0,34 'Vantrel'" \
  -font DejaVu-Sans -pointsize 11 -fill '#dcecff' -draw "text 0,16 'data recovery'" \
  -quality 90 -strip "$here/about.jpg"
