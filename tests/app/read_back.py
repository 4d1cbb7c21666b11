#!/usr/bin/python3
"""Reads the files of a batch run back with outside readers.

  read_back.py csv TABLE.csv F_INI F_FIN STEPS
      Reads the table with the csv module and prints "rows N" and, for each
      check that fails, one line saying which.  The frequencies must be the
      grid's doubles exactly (j * ((F_FIN - F_INI) / STEPS) + F_INI), every
      number must print back as the same text (shortest round trip).
  read_back.py image FILE
      Prints "WIDTH HEIGHT", then "white FRACTION", "blue COUNT", "dark COUNT"
      and "background R G B" (a pixel near the upper right corner, where the
      page is empty), read by PIL.
"""
import csv
import sys


def check_csv(path, f_ini, f_fin, steps):
    f_ini, f_fin, steps = float(f_ini), float(f_fin), int(steps)
    step = (f_fin - f_ini) / steps
    with open(path, newline="") as f:
        rows = list(csv.reader(f))
    if rows[0] != ["frecuencia", "rho", "C1", "C2", "C3"]:
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
        for text, v in zip(row, values):
            if repr(v) != text and not (text in ("nan", "inf", "-inf")):
                print("not shortest round trip", n, text, repr(v))
        j = grid.get(values[0])
        if j is None or j <= last_j:
            print("frequency not on the grid in order", n, row[0])
        else:
            last_j = j
        if not (0.0 <= values[1] <= 1.0):
            print("rho out of range", n, row[1])


def image(path):
    from PIL import Image
    im = Image.open(path).convert("RGB")
    w, h = im.size
    px = im.load()
    white = blue = dark = 0
    for y in range(h):
        for x in range(w):
            r, g, b = px[x, y]
            if r > 240 and g > 240 and b > 240:
                white += 1
            elif b > 150 and r < 100 and g < 100:
                blue += 1
            elif r < 100 and g < 100 and b < 100:
                dark += 1
    print(w, h)
    print("white %.3f" % (white / (w * h)))
    print("blue", blue)
    print("dark", dark)
    print("background", *px[w - 1 - w // 50, h // 50])


if __name__ == "__main__":
    if sys.argv[1] == "csv":
        check_csv(*sys.argv[2:6])
    else:
        image(sys.argv[2])
