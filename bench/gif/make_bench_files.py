#!/usr/bin/python3
"""Writes the two large benchmark files into the folder given: big_2000x2000.gif (256
colours) and anim_50x320x240.gif (50 frames). Made fresh for every run, never committed."""
import sys
from PIL import Image, ImageChops

out = sys.argv[1]
gradient = Image.linear_gradient("L").resize((2000, 2000))
noise = Image.effect_noise((2000, 2000), 40)
rgb = Image.merge("RGB", (gradient, ImageChops.add(gradient.rotate(90), noise, 2.0),
                          gradient.transpose(Image.Transpose.FLIP_LEFT_RIGHT)))
rgb.quantize(colors=256, dither=Image.Dither.NONE).save(out + "/big_2000x2000.gif")

frames = []
base = Image.radial_gradient("L").resize((320, 240))
for i in range(50):
    g = base.rotate(i * 7)
    n = Image.effect_noise((320, 240), 10 + i)
    frame = Image.merge("RGB", (g, ImageChops.add(g, n, 2.0), base.rotate(-i * 5)))
    frames.append(frame.quantize(colors=128, dither=Image.Dither.NONE))
frames[0].save(out + "/anim_50x320x240.gif", save_all=True, append_images=frames[1:],
               duration=40, loop=0, optimize=False)
