#!/bin/bash
# Rebuilds the pictures of the forms tests with ImageMagick: four flat quadrants, so a
# stretched drawing can be checked by pixels.
#   quadrants.gif / quadrants.jpg  20 x 10: top left red, top right lime,
#                                  bottom left blue, bottom right white
# Usage: tests/data/forms/make.sh   (needs imagemagick)
set -euo pipefail
cd "$(dirname "$0")"
convert \( -size 10x5 xc:'#ff0000' -size 10x5 xc:'#00ff00' +append \) \
        \( -size 10x5 xc:'#0000ff' -size 10x5 xc:'#ffffff' +append \) -append quadrants.png
convert quadrants.png quadrants.gif
convert quadrants.png -quality 100 -sampling-factor 1x1 quadrants.jpg
rm quadrants.png
