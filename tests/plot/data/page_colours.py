#!/usr/bin/python3
"""Renders a plot file and reports its size and colours.

    page_colours.py <file> <kind> [x,y ...]

kind: ps (ghostscript, the paper size the file asks for), eps (ghostscript,
cut to the bounding box), pdf (pdftoppm), svg (rsvg-convert), image (read as
it is). Rendering at 72 pixels per inch. Prints the width and height of the
picture, the share of white pixels (each part above 240) and of dark ones
(each part below 100), then the colours of the given pixels.
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops

path, kind = sys.argv[1], sys.argv[2]
with tempfile.TemporaryDirectory() as tmp:
    out = os.path.join(tmp, "page.png")
    if kind == "ps":
        subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r72",
                        f"-sOutputFile={out}", path], check=True)
    elif kind == "eps":
        subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r72",
                        "-dEPSCrop", f"-sOutputFile={out}", path], check=True)
    elif kind == "pdf":
        subprocess.run(["pdftoppm", "-r", "72", "-png", "-singlefile", path, out[:-4]], check=True)
    elif kind == "svg":
        subprocess.run(["rsvg-convert", "-o", out, path], check=True)
    else:
        out = path
    image = Image.open(out).convert("RGB")
    image.load()

r, g, b = image.split()
least = ImageChops.darker(r, ImageChops.darker(g, b)).histogram()
most = ImageChops.lighter(r, ImageChops.lighter(g, b)).histogram()
count = image.width * image.height
white = sum(least[241:]) / count
dark = sum(most[:100]) / count
words = [str(image.width), str(image.height), f"{white:.3f}", f"{dark:.3f}"]
for spot in sys.argv[3:]:
    x, y = map(int, spot.split(","))
    words.append("%d/%d/%d" % image.getpixel((x, y)))
print(" ".join(words))
