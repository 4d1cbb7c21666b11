#!/usr/bin/python3
"""Renders the same plot as PostScript (ghostscript) and as SVG (rsvg-convert)
and compares the two pages pixel by pixel.

    compare_pages.py <plot.ps> <plot.svg> [width height]

The PostScript page of a landscape plot lies turned on A4 paper at 150 and
200 PostScript units from the lower left corner, 3900 / 2100 units per plot
unit (times the page's 1.000476) and 0.1417322835 points per unit: that
rectangle is cut out, turned upright and scaled to the SVG rendering of
width x height pixels (default: the page of 2969 x 2099 plot units at half a
pixel per unit). Both are blurred a little, so that edges half a pixel apart
do not count. Prints the mean difference (0..255) and the share of pixels
that differ by more than 40.
"""
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageFilter, ImageStat

ps, svg = sys.argv[1], sys.argv[2]
W, H = 2969, 2099
width = int(sys.argv[3]) if len(sys.argv) > 3 else round(W / 2)
height = int(sys.argv[4]) if len(sys.argv) > 4 else round(H / 2)
points = 0.1417322835
per_unit = points * 3900 / 2100 * 1.000476
dpi = 144
k = dpi / 72

with tempfile.TemporaryDirectory() as tmp:
    ps_png = os.path.join(tmp, "ps.png")
    svg_png = os.path.join(tmp, "svg.png")
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m",
                    "-sPAPERSIZE=a4", "-dFIXEDMEDIA", f"-r{dpi}", "-dGraphicsAlphaBits=4",
                    f"-sOutputFile={ps_png}", ps], check=True)
    subprocess.run(["rsvg-convert", "-w", str(width), "-h", str(height), "-o", svg_png, svg],
                   check=True)
    paper = Image.open(ps_png).convert("RGB")
    left, bottom = 150 * points * k, 200 * points * k
    box = (round(left), round(paper.height - bottom - W * per_unit * k),
           round(left + H * per_unit * k), round(paper.height - bottom))
    page = paper.crop(box).transpose(Image.Transpose.ROTATE_270)
    page = page.resize((width, height), Image.Resampling.BOX)
    other = Image.open(svg_png).convert("RGB")

a = page.filter(ImageFilter.GaussianBlur(1.5))
b = other.filter(ImageFilter.GaussianBlur(1.5))
diff = ImageChops.difference(a, b).convert("L")
hist = diff.histogram()
print(f"{other.width} {other.height} mean {ImageStat.Stat(diff).mean[0]:.3f} "
      f"over40 {sum(hist[41:]) / sum(hist):.5f}")
