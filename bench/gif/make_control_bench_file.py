#!/usr/bin/python3
"""Writes anim_transparent_50x320x240.gif into the folder given: 50 frames of 320 x 240
with a transparent background, moving shapes and disposal methods 1, 2 and 3 in turn.
Made fresh for every benchmark run, never committed."""
import sys
from PIL import Image, ImageDraw

out = sys.argv[1]
palette = [0, 0, 0]
for i in range(1, 256):
    palette += [(i * 37) % 256, (i * 91) % 256, (i * 53) % 256]
frames = []
for i in range(50):
    im = Image.new("P", (320, 240), 0)
    im.putpalette(palette)
    d = ImageDraw.Draw(im)
    for k in range(12):
        x = (k * 53 + i * 7) % 300
        y = (k * 29 + i * 5) % 220
        d.ellipse((x, y, x + 40, y + 30), fill=1 + (k * 19 + i) % 255)
    d.rectangle((0, 200, 320, 240), fill=200 + i % 50)
    frames.append(im)
frames[0].save(out + "/anim_transparent_50x320x240.gif", save_all=True,
               append_images=frames[1:], duration=40, loop=0, transparency=0,
               disposal=[1 + i % 3 for i in range(50)], optimize=False)
