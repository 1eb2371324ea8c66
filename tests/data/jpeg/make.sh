#!/bin/sh
# Makes the JPEG test pictures with ImageMagick and keeps, beside each, the pixels that
# ImageMagick itself decodes from it (raw 8-bit RGB, rows top first) as the reference.
# Run from this folder: sh make.sh
set -eu

# A 61 x 45 scene (odd sizes leave partial 8 x 8 blocks at the right and bottom edges).
convert -size 61x45 gradient:'#2040e0-#e0c020' \
    -fill '#c01010' -draw 'circle 20,22 20,8' \
    -fill '#10a040' -draw 'rectangle 38,5 56,20' \
    -fill white -draw 'rectangle 40,28 58,40' source.png

convert source.png -strip -quality 90 -sampling-factor 2x2 baseline.jpg
convert source.png -strip -quality 85 -interlace JPEG progressive.jpg
convert source.png -strip -quality 90 -colorspace Gray gray.jpg
convert source.png -strip -quality 95 -colorspace CMYK cmyk.jpg

for f in baseline progressive gray cmyk; do
    convert "$f.jpg" -colorspace sRGB -depth 8 "rgb:$f.rgb"
done
rm source.png
