#!/bin/bash
# Rebuilds the animated-control test files in this folder with real encoders (ImageMagick,
# gifsicle, Pillow) and, for each NAME.gif, extracts NAME.rgba: every frame as ImageMagick
# composes it (-coalesce), screen-sized, 8-bit red, green, blue, alpha per pixel, frames
# one after another. Alpha 0 marks pixels no frame has covered (or a disposal cleared).
# Deterministic: fixed drawings only.
#
# Usage: tests/data/gifcontrol/make_data.sh   (needs imagemagick, gifsicle, python3-pil)
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

rm -f ./*.gif ./*.rgba

# ImageMagick: every disposal method, transparent and opaque frames, frames smaller than
# the screen at offsets.
convert -delay 10 -dispose None \
    -page 40x30+0+0 -size 40x30 xc:'#336699' \
    -page 40x30+5+4 -size 16x12 xc:red \
    -page 40x30+20+10 \( -size 12x10 xc:none -fill lime -draw "rectangle 2,2 9,7" \) \
    -dispose Background -page 40x30+2+2 \( -size 14x14 xc:none -fill yellow -draw "circle 7,7 7,2" \) \
    -dispose Previous -page 40x30+24+3 \( -size 10x20 xc:white -fill black -draw "rectangle 2,2 7,17" \) \
    -page 40x30+0+20 -size 8x8 xc:magenta \
    -loop 0 im_mixed.gif

# ImageMagick: opaque frames only, the first smaller than the screen, restore to
# background in between (no frame is transparent: the control keeps no mask).
convert -delay 20 -dispose Background \
    -page 32x24+4+4 -size 20x10 xc:navy \
    -page 32x24+10+8 -size 16x16 xc:orange \
    -dispose None -page 32x24+0+0 -size 6x6 xc:green \
    -loop 3 im_opaque.gif

# gifsicle: frame differences as transparent sub-rectangles (-O3).
for i in 0 1 2 3; do
    convert -size 48x36 xc:'#202020' -fill '#e0c040' -draw "rectangle $((4 + 9 * i)),6 $((13 + 9 * i)),16" \
        -fill '#40a0e0' -draw "circle 24,26 $((26 + 2 * i)),26" "$WORK/g$i.gif"
done
gifsicle --no-warnings -O3 --delay 7 --loopcount=forever "$WORK"/g0.gif "$WORK"/g1.gif \
    "$WORK"/g2.gif "$WORK"/g3.gif -o gifsicle_o3.gif

# Pillow: a transparent first frame, restore to background and restore to previous.
"$PY" - <<'PYEOF'
from PIL import Image, ImageDraw

frames = []
for i in range(4):
    im = Image.new("P", (36, 28), 0)
    im.putpalette([0, 0, 0, 255, 0, 0, 0, 200, 0, 30, 60, 250, 250, 250, 250] + [0] * 741)
    d = ImageDraw.Draw(im)
    d.rectangle((3 + 6 * i, 4, 12 + 6 * i, 14), fill=1 + i % 3)
    d.ellipse((10, 14 + i, 26, 26), fill=4)
    frames.append(im)
frames[0].save("pillow_disposal.gif", save_all=True, append_images=frames[1:],
               duration=[30, 60, 90, 120], loop=0, transparency=0,
               disposal=[1, 2, 3, 2], optimize=False)
PYEOF

for f in *.gif; do
    convert "$f" -coalesce -depth 8 "rgba:${f%.gif}.rgba"
    echo "$f: $(identify -format '%W x %H, disposal %D; ' "$f")"
done
