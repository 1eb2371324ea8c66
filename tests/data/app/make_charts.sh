#!/bin/bash
# Rebuilds the chart pictures of the app tests with ImageMagick: flat colour blocks, so
# tests can check pixels of the stretched picture.
#   halves.gif  40 x 20, left half red, right half blue
#   green.gif   40 x 20, all green
# Usage: tests/data/app/make_charts.sh   (needs imagemagick)
set -euo pipefail
cd "$(dirname "$0")"
convert -size 20x20 xc:'#ff0000' -size 20x20 xc:'#0000ff' +append halves.gif
convert -size 40x20 xc:'#00ff00' green.gif
