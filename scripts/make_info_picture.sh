#!/bin/sh
# Draws the About dialog's second picture (125 x 150, 24-bit): a type specimen
# card with a large "Ag", a baseline grid and the program's name.
set -e
out=${1:-app/info.png}
convert -size 125x150 gradient:'#1d3557'-'#457b9d' \
  -stroke '#a8dadc' -strokewidth 1 \
  -draw "line 8,96 117,96" -draw "line 8,60 117,60" -draw "line 8,40 117,40" \
  -fill none -stroke '#e63946' -draw "rectangle 4,4 120,145" \
  -stroke none -fill '#f1faee' -font Bookman-Demi -pointsize 64 -annotate +10+96 'Ag' \
  -fill '#e63946' -draw "circle 104,118 108,118" \
  -fill '#f1faee' -font Helvetica-Bold -pointsize 14 -annotate +12+124 'Glyvex' \
  -font Helvetica -pointsize 9 -annotate +12+138 'Schriften ansehen' \
  -type TrueColor -depth 8 PNG24:"$out"
