#!/usr/bin/python3
"""Reads the files of a batch run back with outside readers.

  read_back.py csv TABLE.csv F_INI F_FIN STEPS
      Reads the table with the csv module and prints "rows N" and, for each
      check that fails, one line saying which.  The frequencies must be the
      grid's doubles exactly (j * ((F_FIN - F_INI) / STEPS) + F_INI) and
      print back as the same text (shortest round trip); rho, C1, C2 and C3
      have 17 significant digits (d.dddddddddddddddde+XX).
  read_back.py image FILE
      Reads a raster image with PIL and prints "WIDTH HEIGHT", then
      "white FRACTION", "blue COUNT", "dark COUNT", "background R G B" (a
      pixel near the upper right corner, where the page is empty) and
      "ink X0 Y0 X1 Y1" (the smallest box around every pixel that is not
      white, as fractions of the width and height).
  read_back.py render FILE
      Renders a PDF (pdftoppm), PostScript (ghostscript on the paper the file
      asks for), EPS (ghostscript, cut to its bounding box) or SVG
      (rsvg-convert; transparent pixels count as black) at 50 pixels per inch
      and prints the same lines for the picture.
"""
import csv
import os
import subprocess
import sys
import tempfile


def check_csv(path, f_ini, f_fin, steps):
    f_ini, f_fin, steps = float(f_ini), float(f_fin), int(steps)
    step = (f_fin - f_ini) / steps
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["frequency", "rho", "C1", "C2", "C3"]:
        print("header", rows[0])
    grid = {}
    for j in range(steps + 1):
        grid.setdefault(float(j) * step + f_ini, j)
    body = rows[1:]
    print("rows", len(body))
    last_j = -1
    for n, row in enumerate(body):
        if len(row) != 5:
            print("fields", n, row)
            continue
        values = [float(v) for v in row]
        if repr(values[0]) != row[0]:
            print("frequency not shortest round trip", n, row[0], repr(values[0]))
        for text, v in zip(row[1:], values[1:]):
            if text in ("nan", "inf", "-inf"):
                continue
            mantissa = text.lstrip("-").split("e")[0]
            if len(mantissa) != 18 or mantissa[1] != ".":
                print("not 17 digits", n, text)
            if not (abs(v) > 0.0 or text.lstrip("-").startswith("0.0000000000000000e")):
                print("does not read back", n, text)
        j = grid.get(values[0])
        if j is None or j <= last_j:
            print("frequency not on the grid in order", n, row[0])
        else:
            last_j = j
        if not (0.0 <= values[1] <= 1.0):
            print("rho out of range", n, row[1])


def image(path):
    import numpy
    from PIL import Image
    px = numpy.asarray(Image.open(path).convert("RGB"), dtype=numpy.int32)
    h, w = px.shape[:2]
    r, g, b = px[..., 0], px[..., 1], px[..., 2]
    white = (r > 240) & (g > 240) & (b > 240)
    blue = (b > 150) & (r < 100) & (g < 100)
    dark = (r < 100) & (g < 100) & (b < 100)
    print(w, h)
    print("white %.3f" % (white.sum() / (w * h)))
    print("blue", int(blue.sum()))
    print("dark", int(dark.sum()))
    print("background", *px[h // 50, w - 1 - w // 50])
    rows = numpy.flatnonzero(~white.all(axis=1))
    cols = numpy.flatnonzero(~white.all(axis=0))
    if rows.size == 0:
        print("ink none")
    else:
        print("ink %.4f %.4f %.4f %.4f" % (cols[0] / w, rows[0] / h, (cols[-1] + 1) / w,
                                          (rows[-1] + 1) / h))


def render(path):
    dpi = 50
    gs = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m", "-r%d" % dpi]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "page.png")
        kind = path.lower().rsplit(".", 1)[-1]
        if kind == "pdf":
            command = ["pdftoppm", "-r", str(dpi), "-png", "-singlefile", path, out[:-4]]
        elif kind == "ps":
            command = gs + ["-sOutputFile=" + out, path]
        elif kind == "eps":
            command = gs + ["-dEPSCrop", "-sOutputFile=" + out, path]
        else:
            command = ["rsvg-convert", "--dpi-x", str(dpi), "--dpi-y", str(dpi), "-o", out, path]
        subprocess.run(command, check=True)
        image(out)


if __name__ == "__main__":
    if sys.argv[1] == "csv":
        check_csv(*sys.argv[2:6])
    elif sys.argv[1] == "render":
        render(sys.argv[2])
    else:
        image(sys.argv[2])
