#!/bin/bash
# Rebuilds the GIF test corpus in this folder with real encoders (ImageMagick, gifsicle,
# Pillow) and extracts, with Pillow's own LZW decoder, the reference data of every frame.
# Deterministic: the inputs are built-in ImageMagick images and fixed drawings.
#
# Reference file NAME.gif.ref, one record per image in file order (little-endian):
#   u16 width, u16 height, u16 delay (1/100 s), u16 palette entries n,
#   n*3 bytes palette (r, g, b), width*height bytes palette index per pixel (rows top down).
# The pixels are the frame's own image, uncomposited: what its code stream decodes to.
#
# Usage: tests/data/gif/make_corpus.sh   (needs imagemagick, gifsicle, python3-pil)
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

rm -f ./*.gif ./*.gif.ref

# Odd sizes.
convert -size 1x1 xc:'#3366cc' one_pixel.gif
convert -size 1x1000 gradient:'#000000-#ff8800' +dither -colors 8 column_1x1000.gif
convert -size 1x1000 gradient:'#0000ff-#00ff00' -rotate 90 +dither -colors 5 row_1000x1.gif
convert -size 3x3 gradient:red-blue +dither -colors 3 -interlace GIF interlaced_3x3.gif

# 2 to 256 colours: code sizes 2 to 8.
for n in 2 4 8 16 32 64 128; do
    convert rose: +dither -colors $n rose_c$n.gif
done
convert rose: -resize 200% +dither -colors 256 rose_c256.gif
convert rose: +dither -colors 64 -interlace GIF rose_interlaced.gif
convert rose: +dither -colors 8 -comment "Brenvik corpus comment" rose_comment.gif

# ImageMagick animation: a local table per frame, frames offset on the screen, a loop.
convert -delay 25 \( rose: +dither -colors 4 \) \
    \( rose: -flop +dither -colors 16 \) \
    \( rose: -crop 30x20+10+12 +dither -colors 8 \) \
    \( rose: -flip +dither -colors 200 \) -loop 0 anim_imagemagick.gif

# gifsicle animation: optimised sub-rectangles, delays 9, 250 and 500, comments,
# and an extension with the unknown label 2.
convert rose: +dither -colors 32 "$WORK/a.gif"
convert rose: -roll +7+3 +dither -colors 32 "$WORK/b.gif"
convert rose: -negate +dither -colors 32 "$WORK/c.gif"
gifsicle --no-warnings -O2 --loopcount=forever \
    --comment "first frame" --delay 9 "$WORK/a.gif" \
    --extension 2 "label two" --delay 250 "$WORK/b.gif" \
    --comment "last frame" --delay 500 "$WORK/c.gif" \
    -o anim_gifsicle.gif

# Pillow: frames of their own sizes and palettes (no global table on later frames),
# grey and colour palettes, Pillow's interlacing.
"$PY" - <<'EOF'
from PIL import Image, ImageDraw

frames = []
for i, colours in enumerate((2, 7, 60, 256)):
    im = Image.new("RGB", (41 + 10 * i, 29 + 6 * i))
    d = ImageDraw.Draw(im)
    for k in range(colours):
        x = (k * 37) % im.width
        y = (k * 11) % im.height
        d.rectangle((x, y, x + 9, y + 5), fill=((k * 53) % 256, (k * 97) % 256, (k * 13 + i * 40) % 256))
    frames.append(im.quantize(colors=colours, dither=Image.Dither.NONE))
frames[0].save("anim_pillow.gif", save_all=True, append_images=frames[1:],
               duration=[100, 40, 2000, 70], loop=0, optimize=True)

grey = Image.linear_gradient("L").resize((64, 48))
grey.save("grey_pillow.gif")
EOF

# A plain text extension (no encoder here writes one), spliced in before the image of an
# ImageMagick file: grid (4,5) 40x12, cells 6x12, foreground 1, background 2, three texts.
"$PY" - <<'EOF'
import struct
src = open("rose_c16.gif", "rb").read()
flags = src[10]
pos = 13 + (3 << ((flags & 7) + 1) if flags & 0x80 else 0)
block = bytes([0x21, 0x01, 12]) + struct.pack("<4H4B", 4, 5, 40, 12, 6, 12, 1, 2)
for text in (b"ROSE", b"second", b"third"):
    block += bytes([len(text)]) + text
block += b"\x00"
open("plain_text.gif", "wb").write(src[:pos] + block + src[pos:])
EOF

# Reference data, decoded by Pillow's GIF decoder frame by frame.
"$PY" - <<'EOF'
import glob, struct
from PIL import Image, GifImagePlugin

def frame_palette(im, bits):
    pal = im._frame_palette
    if not pal:  # Pillow leaves out a palette that is the grey ramp 0..n-1
        return bytes(b for i in range(1 << bits) for b in (i, i, i))
    return bytes(pal.palette)

for name in sorted(glob.glob("*.gif")):
    im = Image.open(name)
    raw = open(name, "rb").read()
    out = bytearray()
    for n in range(im.n_frames):
        im.seek(n)
        tag, (x0, y0, x1, y1), offset, args = im.tile[0]
        bits, interlace = args[0], args[1]
        w, h = x1 - x0, y1 - y0
        frame = Image.new("P", (w, h))
        decoder = Image._getdecoder("P", "gif", (bits, interlace, -1))
        decoder.setimage(frame.im, (0, 0, w, h))
        decoder.decode(raw[offset:])
        decoder.cleanup()
        pal = frame_palette(im, max(bits, 1))
        delay = im.info.get("duration", 0) // 10
        out += struct.pack("<4H", w, h, delay, len(pal) // 3) + pal + frame.tobytes()
    open(name + ".ref", "wb").write(out)
    print(f"{name}: {im.n_frames} frame(s), {len(raw)} bytes")
EOF
