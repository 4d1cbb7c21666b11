#!/usr/bin/python3
"""Draw every glyph of the generated glyph tables in a labelled grid.

Decodes the packed tables of plot/text/glyphs_complex.cpp and
plot/text/glyphs_default.cpp (the committed C++ sources, not the font files)
and writes docs/glyphs.png.  Needs python3-pil.

Usage: glyph_chart.py [--src plot/text] [--out docs/glyphs.png]
"""

import argparse
import os
import re
import sys

from PIL import Image, ImageDraw

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

# name, coordinate array, index array, fixed width, labels of the records
CYR = [36, 37, 38, 60, 61, 62] + list(range(65, 95)) + list(range(97, 127))
LETTERS = [chr(c) for c in range(65, 91)] + [chr(c) for c in range(97, 123)]
ALPHABETS = [
    ("complex 1 (roman)", "kComplexRomanCoords", "kComplexRomanIndex", False,
     [str(c) if c > 126 else chr(c) for c in range(33, 187)]),
    ("complex 2 (Greek)", "kComplexGreekCoords", "kComplexGreekIndex", False, LETTERS),
    ("complex 3 (signs)", "kComplexMathCoords", "kComplexMathIndex", False, LETTERS),
    ("complex 4 (italic)", "kComplexItalicCoords", "kComplexItalicIndex", False,
     LETTERS[26:] + ["130", "131", "132"]),
    ("complex 5 (script)", "kComplexScriptCoords", "kComplexScriptIndex", False,
     LETTERS + [str(c) for c in range(127, 134)]),
    ("complex 6 (Cyrillic)", "kComplexCyrillicCoords", "kComplexCyrillicIndex", False,
     [chr(c) for c in CYR]),
    ("default 1", "kDefaultLatinCoords", "kDefaultLatinIndex", True,
     [chr(c) for c in range(33, 127)] + [str(c) for c in range(127, 134)]),
    ("default 2 (Greek)", "kDefaultLatinCoords", "kDefaultGreekIndex", False, LETTERS),
]


def read_arrays(src):
    arrays = {}
    for fname in ("glyphs_complex.cpp", "glyphs_default.cpp"):
        with open(os.path.join(src, fname), encoding="ascii") as f:
            text = f.read()
        for m in re.finditer(r"const std::int16_t (\w+)\[(\d+)\] = \{([^}]*)\};", text):
            words = [int(w) for w in m.group(3).replace("\n", " ").split(",") if w.strip()]
            assert len(words) == int(m.group(2)), m.group(1)
            arrays[m.group(1)] = words
    return arrays


def unpack(w):
    w &= 0xFFFF
    x, y = w & 0xFF, w >> 8
    return (x - 256 if x > 127 else x, y - 256 if y > 127 else y)


def decode(coords, index, count):
    """The strokes (lists of (x, y) in glyph units) of the first count records."""
    glyphs, pos = [], 0
    for _ in range(count):
        length = index[pos]
        k, strokes = pos + 1, []
        while k < pos + length:
            n, s = index[k], index[k + 1]
            dx = dy = 0
            if n < 0:
                n = -n
                dx, dy = unpack(index[k + 2])
                k += 3
            else:
                k += 2
            pts = [unpack(coords[s - 1 + i]) for i in range(n)]
            strokes.append([(x + dx * 0.5, y + dy * 0.5) for x, y in pts])
        glyphs.append(strokes)
        pos += length
    return glyphs


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--src", default=os.path.join(ROOT, "plot", "text"))
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "glyphs.png"))
    args = ap.parse_args(argv)
    arrays = read_arrays(args.src)
    cols, cell, scale = 16, 66, 1.8
    sections = []
    for title, cname, iname, fixed, labels in ALPHABETS:
        glyphs = decode(arrays[cname], arrays[iname], len(labels))
        sc = scale * (3 if cname.startswith("kDefault") else 1)
        sections.append((title, glyphs, labels, sc, fixed))
    rows = sum(1 + (len(g) + cols - 1) // cols for _, g, _, _, _ in sections)
    img = Image.new("RGB", (cols * cell + 20, rows * cell // 1 + 40), "white")
    d = ImageDraw.Draw(img)
    y = 10
    for title, glyphs, labels, sc, fixed in sections:
        d.text((10, y + cell // 2), title, fill="black")
        y += cell
        for i, strokes in enumerate(glyphs):
            cx = 10 + (i % cols) * cell
            cy = y + (i // cols) * cell
            d.rectangle([cx, cy, cx + cell - 2, cy + cell - 2], outline=(220, 220, 220))
            d.text((cx + 2, cy + 1), labels[i], fill=(0, 0, 200))
            base = cy + cell - 18  # baseline
            left = cx + 14
            d.line([cx + 2, base, cx + cell - 4, base], fill=(255, 200, 200))
            if fixed:
                d.line([left + 6 * sc, base - 3, left + 6 * sc, base + 3], fill=(255, 150, 150))
            for s in strokes:
                pts = [(left + x * sc, base - y_ * sc) for x, y_ in s]
                if len(pts) > 1:
                    d.line(pts, fill="black", width=1)
        y += ((len(glyphs) + cols - 1) // cols) * cell
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    img.save(args.out, optimize=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
