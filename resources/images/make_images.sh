#!/bin/sh
# Draws the launcher's own window pictures (no text, so no font is needed):
# the background, the logo, the sidebar crest and the six sidebar icons.
# Usage: make_images.sh OUTPUT_DIR
set -eu
out=$1
mkdir -p "$out"
# No time stamps in the PNG files, so that a rebuild gives the same bytes.
png="-define png:exclude-chunks=date,time +set date:create +set date:modify"

convert -size 2752x1536 gradient:'#2a1748'-'#07060d' \
  -fill '#5b2e8a60' -draw 'circle 1900,520 1900,120' \
  -fill '#9a4fd040' -draw 'circle 2250,380 2250,250' \
  -fill '#120c20' -draw 'polygon 0,1536 0,1050 420,760 780,1010 1250,640 1700,980 2150,700 2752,1080 2752,1536' \
  -fill '#0a0713' -draw 'polygon 0,1536 0,1280 600,1040 1100,1250 1650,1020 2200,1260 2752,1150 2752,1536' \
  -quality 85 "$out/background.jpg"

convert -size 1800x991 xc:none \
  -fill '#b46cf0e0' -draw 'polygon 900,40 1220,495 900,950 580,495' \
  -fill '#2a1748f0' -draw 'polygon 900,170 1130,495 900,820 670,495' \
  -fill '#f5c8ff' -draw 'circle 900,495 900,395' \
  -fill '#b46cf0a0' -draw 'roundrectangle 120,440 520,550 40,40' \
  -fill '#b46cf0a0' -draw 'roundrectangle 1280,440 1680,550 40,40' \
  $png "PNG32:$out/logo.png"

convert -size 130x130 xc:none \
  -fill '#c9a24a' -draw 'polygon 10,8 120,8 120,62 65,124 10,62' \
  -fill '#3b1f66' -draw 'polygon 22,20 108,20 108,60 65,108 22,60' \
  -fill '#e8d9ff' -draw 'circle 65,56 65,36' \
  $png "PNG32:$out/crest.png"

icon() {
  name=$1; shift
  convert -size 50x50 xc:none -stroke '#e6dcff' -strokewidth 4 -fill none "$@" $png "PNG32:$out/$name.png"
}
icon website -draw 'circle 25,25 25,5' -draw 'line 5,25 45,25' -draw 'ellipse 25,25 9,20 0,360'
icon wiki -draw 'rectangle 9,7 41,43' -draw 'line 16,17 34,17' -draw 'line 16,25 34,25' -draw 'line 16,33 28,33'
icon discord -draw 'roundrectangle 5,9 45,35 9,9' -draw 'polygon 14,35 14,45 24,35' \
  -stroke none -fill '#e6dcff' -draw 'circle 18,22 18,18' -draw 'circle 32,22 32,18'
icon account -draw 'circle 25,17 25,7' -draw 'arc 7,30 43,62 180,360'
icon settings -draw 'circle 25,25 25,14' -strokewidth 6 -draw 'line 25,2 25,9' -draw 'line 25,41 25,48' \
  -draw 'line 2,25 9,25' -draw 'line 41,25 48,25'
icon fix -strokewidth 6 -draw 'line 12,38 34,16' -strokewidth 4 -draw 'circle 36,14 36,6'
