#!/usr/bin/env python3
"""Generate the packed glyph tables of the stroked fonts from the Hershey fonts.

Reads the .jhf font files of the hershey-fonts-data package and writes
plot/text/glyphs_complex.cpp, plot/text/glyphs_default.cpp and their
declarations with the table sizes, plot/text/glyph_data.h.

Usage: gen_glyphs.py [--fonts DIR] [--out DIR] [--report]

Packed format (one alphabet):
  coordinate table: one 16-bit word per point, low byte x, high byte y, both
  signed; glyph units, x from the glyph's left edge, y up from the baseline.
  index table: glyph records for glyph numbers 2, 3, ... one after the other.
  A record is its length L (counting itself) followed by stroke entries
  (n, s) or (-n, s, offset): n points from the 1-based coordinate index s,
  shifted by half the offset bytes.

The script only uses the standard library and is deterministic: the same
font files always give the same output, byte for byte.
"""

import argparse
import os
import sys

FONT_DIR = "/usr/share/hershey-fonts"
HERSHEY_BASELINE = 9  # y of the baseline in the font files (y grows downwards)

# ---------------------------------------------------------------------------
# Reading the font files


def read_jhf(path):
    """Return the glyphs of a .jhf file as lists of strokes of (x, y) points,
    in file order (the files hold codes 32, 33, ... one glyph per record)."""
    glyphs = []
    with open(path, encoding="ascii") as f:
        text = f.read()
    buf = ""
    for line in text.split("\n"):
        line = line.rstrip("\r")
        if not line.strip():
            continue
        buf += line
        count = int(buf[5:8])
        body = buf[8:]
        if len(body) < 2 * count:
            continue  # record continues on the next line
        strokes, cur = [], []
        for k in range(1, count):
            a, b = body[2 * k], body[2 * k + 1]
            if a == " " and b == "R":
                if cur:
                    strokes.append(cur)
                cur = []
            else:
                cur.append((ord(a) - ord("R"), ord(b) - ord("R")))
        if cur:
            strokes.append(cur)
        glyphs.append(strokes)
        buf = ""
    return glyphs


def load_font(font_dir, name):
    glyphs = read_jhf(os.path.join(font_dir, name + ".jhf"))
    return {32 + i: g for i, g in enumerate(glyphs)}


# ---------------------------------------------------------------------------
# Stroke geometry (points are integer tuples)


def to_grid(strokes, baseline=HERSHEY_BASELINE):
    """Font file coordinates to glyph units: y up from the baseline, x from
    the leftmost point of the glyph (no left bearing)."""
    pts = [p for s in strokes for p in s]
    if not pts:
        return []
    x0 = min(x for x, _ in pts)
    return [[(x - x0, baseline - y) for x, y in s] for s in strokes]


def shift(strokes, dx, dy):
    return [[(x + dx, y + dy) for x, y in s] for s in strokes]


def bbox(strokes):
    pts = [p for s in strokes for p in s]
    return (min(x for x, _ in pts), min(y for _, y in pts), max(x for x, _ in pts),
            max(y for _, y in pts))


def key(p):
    return (p[1], p[0])  # bottom to top, then left to right


def shape(stroke):
    """A stroke moved so that it starts at the origin."""
    x0, y0 = stroke[0]
    return [(x - x0, y - y0) for x, y in stroke]


def orient(stroke):
    """Canonical direction: a closed stroke starts at its lowest point (same
    sense of rotation), an open one at its lower end."""
    if len(stroke) > 2 and stroke[0] == stroke[-1]:
        ring = stroke[:-1]
        i = min(range(len(ring)), key=lambda k: key(ring[k]))
        ring = ring[i:] + ring[:i]
        return ring + [ring[0]]
    if key(stroke[-1]) < key(stroke[0]):
        return stroke[::-1]
    return stroke


def join_strokes(strokes):
    """Join strokes that meet end to end into longer polylines (same lines
    drawn, fewer stroke entries)."""
    work = [list(s) for s in strokes if s]
    changed = True
    while changed:
        changed = False
        for i in range(len(work)):
            a = work[i]
            if len(a) > 2 and a[0] == a[-1]:
                continue
            for j in range(len(work)):
                if i == j:
                    continue
                b = work[j]
                if len(b) > 2 and b[0] == b[-1]:
                    continue
                if a[-1] == b[0]:
                    m = a + b[1:]
                elif a[-1] == b[-1]:
                    m = a + b[::-1][1:]
                elif a[0] == b[-1]:
                    m = b + a[1:]
                elif a[0] == b[0]:
                    m = b[::-1] + a[1:]
                else:
                    continue
                work[i] = m
                del work[j]
                changed = True
                break
            if changed:
                break
    return work


def canonical(strokes):
    """Joined, oriented and ordered strokes of one glyph."""
    return sorted((orient(s) for s in join_strokes(strokes)), key=lambda s: (key(s[0]), s))


# ---------------------------------------------------------------------------
# Packing


class Packer:
    """Builds one coordinate table and the glyph records that use it.

    Strokes are given in half units (twice the glyph units); a stroke whose
    points are not all on whole units in x (or y) is stored with an offset
    word carrying the half unit."""

    def __init__(self):
        self.coords = []  # (x, y) glyph units

    def _match(self, pts):
        """Find a run of the table equal to pts up to a shift; returns
        (index, offset) with the offset in half units, preferring no shift."""
        n = len(pts)
        best = None
        c = self.coords
        for k in range(0, len(c) - n + 1):
            dx = pts[0][0] - 2 * c[k][0]
            dy = pts[0][1] - 2 * c[k][1]
            if not (-128 <= dx <= 127 and -128 <= dy <= 127):
                continue
            ok = True
            for i in range(1, n):
                if pts[i][0] - 2 * c[k + i][0] != dx or pts[i][1] - 2 * c[k + i][1] != dy:
                    ok = False
                    break
            if ok:
                if dx == 0 and dy == 0:
                    return (k, (0, 0))
                if best is None:
                    best = (k, (dx, dy))
        return best

    def place(self, stroke, share=True):
        """Store one stroke (half units); returns (n, s, (dx, dy))."""
        px = stroke[0][0] & 1
        py = stroke[0][1] & 1
        assert all((x & 1) == px and (y & 1) == py for x, y in stroke), stroke
        n = len(stroke)
        if share:
            for cand in (stroke, stroke[::-1]):
                m = self._match(cand)
                if m is not None and m[1] == (0, 0):
                    return (n, m[0] + 1, (0, 0))
            for cand in (stroke, stroke[::-1]):
                m = self._match(cand)
                if m is not None:
                    return (n, m[0] + 1, m[1])
        if share:
            tail = self._tail_overlap(stroke, px, py)
            if tail is not None:
                return tail
        start = len(self.coords)
        for x, y in stroke:
            self.coords.append(((x - px) // 2, (y - py) // 2))
        return (n, start + 1, (px, py))

    def _tail_overlap(self, stroke, px, py):
        """Store a stroke whose first points repeat the last points of the
        table (unshifted, either direction): only the rest is appended."""
        c = self.coords
        for cand in (stroke, stroke[::-1]):
            if (px, py) != (0, 0):
                break
            for m in range(min(len(cand) - 1, len(c)), 0, -1):
                if all((cand[i][0], cand[i][1]) == (2 * c[len(c) - m + i][0],
                                                    2 * c[len(c) - m + i][1])
                       for i in range(m)):
                    start = len(c) - m
                    for x, y in cand[m:]:
                        c.append((x // 2, y // 2))
                    return (len(cand), start + 1, (0, 0))
        return None

    def pad_to(self, size):
        while len(self.coords) < size:
            self.coords.append((0, 0))


def entry_words(n, s, off, always_offset=False):
    if off == (0, 0) and not always_offset:
        return [n, s]
    return [-n, s, pack(off[0], off[1])]


def pack(x, y):
    """One packed word: low byte x, high byte y (two's complement bytes)."""
    w = ((y & 0xFF) << 8) | (x & 0xFF)
    return w - 0x10000 if w >= 0x8000 else w


def unpack(w):
    w &= 0xFFFF
    x, y = w & 0xFF, w >> 8
    return (x - 256 if x > 127 else x, y - 256 if y > 127 else y)


class Alphabet:
    def __init__(self, name, glyphs, declared, always_offset=False):
        # glyphs: list (glyph numbers 2, 3, ...) of stroke lists in half units
        self.name = name
        self.glyphs = glyphs
        self.declared = declared
        self.always_offset = always_offset
        self.records = [None] * len(glyphs)


def build_records(alpha, packer, order, pinned=None, pin_at=None, no_fill=()):
    """Place the glyphs of alpha in the given layout order (indices into
    alpha.glyphs) and fill alpha.records.  pinned/pin_at: a glyph whose first
    point must land on coordinate index pin_at (1-based); free space before
    it is filled with later glyphs that fit, the rest padded."""
    pending = list(order)
    if pinned is not None:
        pending.remove(pinned)
    while pending or pinned is not None:
        if pinned is not None and len(packer.coords) >= pin_at - 1:
            assert len(packer.coords) == pin_at - 1, "pinned glyph cannot be placed"
            _place_glyph(alpha, packer, pinned)
            pinned = None
            continue
        if not pending:
            packer.pad_to(pin_at - 1)
            continue
        g = pending[0]
        if pinned is not None:
            saved = len(packer.coords)
            _place_glyph(alpha, packer, g)
            if len(packer.coords) > pin_at - 1:
                # does not fit before the pinned glyph: try the next ones
                del packer.coords[saved:]
                alpha.records[g] = None
                fits = None
                for h in pending[1:]:
                    if h in no_fill:
                        continue
                    _place_glyph(alpha, packer, h)
                    if len(packer.coords) <= pin_at - 1:
                        fits = h
                        break
                    del packer.coords[saved:]
                    alpha.records[h] = None
                if fits is None:
                    packer.pad_to(pin_at - 1)
                else:
                    pending.remove(fits)
                continue
        _place_glyph(alpha, packer, g)
        pending.pop(0)


def _place_glyph(alpha, packer, g):
    words = [0]
    for stroke in alpha.glyphs[g]:
        n, s, off = packer.place(stroke)
        words += entry_words(n, s, off, alpha.always_offset)
    words[0] = len(words)
    alpha.records[g] = words


def index_table(alpha):
    out = []
    for r in alpha.records:
        out += r
    return out


# ---------------------------------------------------------------------------
# Accents and composed letters of the complex font (glyph units)

DOT = [(1, 0), (2, 1), (1, 2), (0, 1), (1, 0)]
ACUTE = [(0, 0), (3, 4)]
GRAVE = [(3, 0), (0, 4)]
CIRCUMFLEX = [(0, 0), (3, 3), (6, 0)]
TILDE = [(0, 0), (2, 2), (4, 0), (6, 2)]
RING = [(1, 0), (3, 0), (4, 2), (3, 4), (1, 4), (0, 2), (1, 0)]
CEDILLA = [(1, 5), (1, 3), (2, 3), (3, 2), (3, 1), (2, 0), (0, 0)]  # top at (1, 5)
SHARP_S = [[(1, 0), (1, 16), (3, 20), (5, 21), (8, 21), (10, 19), (10, 16), (8, 14), (5, 13),
            (8, 13), (11, 11), (12, 8), (12, 4), (10, 1), (8, 0), (5, 0)]]


def accent_over(base, accent, y0, dx=0):
    """The accent stroke placed centred over base with its bottom at y0."""
    x0, _, x1, _ = bbox(base)
    ax0, ay0, ax1, _ = bbox([accent])
    sx = (x0 + x1 - (ax1 - ax0)) // 2 - ax0 + dx
    return shift([accent], sx, y0 - ay0)


def dieresis(base, y0, gap, dx=0):
    x0, _, x1, _ = bbox(base)
    c = (x0 + x1) // 2 + dx
    return shift([DOT], c - gap - 2, y0) + shift([DOT], c + gap, y0)


def no_dot(strokes, xheight=14):
    """Lower-case i without its dot."""
    return [s for s in strokes if min(y for _, y in s) <= xheight + 1]


def compose(base, extra):
    """Base letter plus accent strokes, with the whole glyph moved so that its
    leftmost point is at x = 0 (wide accents may stick out)."""
    strokes = [list(s) for s in base] + [list(s) for s in extra]
    x0 = bbox(strokes)[0]
    return shift(strokes, -x0, 0)


def rotate180(strokes, ytop):
    """Turn a glyph upside down (for the Spanish opening marks): y -> ytop - y."""
    x1 = bbox(strokes)[2]
    return [[(x1 - x, ytop - y) for x, y in s] for s in strokes]


def ligature(left, right, overlap):
    w = bbox(left)[2]
    return left + shift(right, w - overlap, 0)


def complex_roman(fonts):
    letters = fonts["timesr"]
    others = fonts["greekc"]  # digits and signs of the complex set
    g = {}
    for code in range(33, 127):
        # the double quote of the signs file is a second semicolon
        src = letters if chr(code).isalpha() or code == ord('"') else others
        g[code] = canonical(to_grid(src[code]))
    L = lambda c: g[ord(c)]
    CAP, LOW = 23, 16  # accent base heights over capitals and small letters

    def cap_acc(c, acc):
        return compose(L(c), accent_over(L(c), acc, CAP))

    def low_acc(c, acc, base=None):
        b = base if base is not None else L(c)
        return compose(b, accent_over(b, acc, LOW))

    i_nodot = no_dot(L("i"))
    acc = {
        127: compose(L("A"), dieresis(L("A"), CAP, 2)),
        128: compose(L("O"), dieresis(L("O"), CAP, 2)),
        129: compose(L("U"), dieresis(L("U"), CAP, 2)),
        130: compose(L("a"), dieresis(L("a"), LOW, 2)),
        131: compose(L("o"), dieresis(L("o"), LOW, 2)),
        132: compose(L("u"), dieresis(L("u"), LOW, 2)),
        133: compose(SHARP_S, []),
        134: cap_acc("A", RING),
        135: None,  # O with stroke, below
        136: None,  # AE, below
        137: low_acc("a", RING),
        138: None,
        139: ligature(L("a"), L("e"), 3),
        140: cap_acc("N", TILDE),
        141: low_acc("n", TILDE),
        142: None,  # cedillas, below
        143: None,
        144: compose(L("E"), dieresis(L("E"), CAP, 2)),
        145: compose(L("I"), dieresis(L("I"), CAP, 2)),
        146: compose(L("e"), dieresis(L("e"), LOW, 2)),
        147: compose(i_nodot, dieresis(i_nodot, LOW, 2)),
    }
    for k, (accent) in enumerate((ACUTE, GRAVE, CIRCUMFLEX)):
        first = 148 + 10 * k
        for j, c in enumerate("AEIOU"):
            acc[first + j] = cap_acc(c, accent)
        for j, c in enumerate("aeiou"):
            acc[first + 5 + j] = low_acc(c, accent, i_nodot if c == "i" else None)
    acc[178] = cap_acc("A", TILDE)
    acc[179] = low_acc("a", TILDE)
    acc[180] = cap_acc("O", TILDE)
    acc[181] = low_acc("o", TILDE)
    acc[182] = cap_acc("Y", ACUTE)
    acc[183] = low_acc("y", ACUTE)
    acc[184] = compose(L("y"), dieresis(L("y"), LOW, 2))
    acc[185] = rotate180(L("!"), 14)
    acc[186] = rotate180(L("?"), 14)

    # O and o with a stroke through them
    for code, c in ((135, "O"), (138, "o")):
        x0, y0, x1, y1 = bbox(L(c))
        acc[code] = compose(L(c), [[(x0 + 1, y0 - 1), (x1 - 1, y1 + 1)]])
    # AE: the left half of the A with an E standing on its apex
    a = L("A")
    e = L("E")
    apex = max((p for s in a for p in s), key=lambda p: (p[1], -p[0]))
    legs = [s for s in a if len(s) == 3][0]
    left = [[legs[0], legs[1]]]
    serif = [s for s in a if s[0] == (0, 0)]
    bar = [[(4, 6), (apex[0], 6)]]
    e_shift = apex[0] - _stem_x(e)
    acc[136] = compose(serif + left + bar, shift(e, e_shift, 0))
    # cedillas hang from the middle of the bottom of C and c
    for code, c in ((142, "C"), (143, "c")):
        x0, _, x1, _ = bbox(L(c))
        cx = (x0 + x1) // 2
        acc[code] = compose(L(c), shift([CEDILLA], cx - 1, -5))
    for code in range(127, 187):
        g[code] = canonical(acc[code])
    return g


def _stem_x(strokes):
    """x of the main (leftmost long vertical) stem of a capital."""
    best = None
    for s in strokes:
        for p, q in zip(s, s[1:]):
            if p[0] == q[0] and abs(p[1] - q[1]) >= 15:
                if best is None or p[0] < best:
                    best = p[0]
    return best


def half(strokes):
    return [[(2 * x, 2 * y) for x, y in s] for s in strokes]


def _fits(glyph):
    """Inside the complex font's grid (leaves out the tall delimiters)."""
    x0, y0, x1, y1 = bbox(glyph)
    return -12 <= y0 and y1 <= 28 and x1 <= 29


def complex_other(fonts, name, codes):
    f = fonts[name]
    return [canonical(to_grid(f[c])) for c in codes]


def umlauts(glyphs_by_char, dx=0, letters="AOUaou"):
    out = []
    for c in letters:
        b = glyphs_by_char[c]
        y0 = 23 if c.isupper() else 16
        out.append(canonical(compose(b, dieresis(b, y0, 2, dx))))
    return out


LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"

# Mathematical signs of the complex font, in the order of their letters A-Z,
# a-z (codes of the signs in the font file)
MATH_CODES = list(range(33, 48)) + list(range(58, 65)) + list(range(91, 128))
CYRILLIC_CODES = [36, 37, 38, 60, 61, 62] + list(range(65, 95)) + list(range(97, 127))


# ---------------------------------------------------------------------------
# The default font: a small face on a 6 x 7 cell, reduced from simplex faces
# with a per-stroke half-unit grid (every stroke carries an offset word)


def _dp(points, tol):
    """Douglas-Peucker simplification of a float polyline."""
    if len(points) <= 2:
        return list(points)
    (x0, y0), (x1, y1) = points[0], points[-1]
    dx, dy = x1 - x0, y1 - y0
    ln = (dx * dx + dy * dy) ** 0.5
    best, bi = -1.0, 0
    for i in range(1, len(points) - 1):
        px, py = points[i]
        if ln == 0:
            d = ((px - x0) ** 2 + (py - y0) ** 2) ** 0.5
        else:
            d = abs(dy * (px - x0) - dx * (py - y0)) / ln
        if d > best:
            best, bi = d, i
    if best <= tol:
        return [points[0], points[-1]]
    return _dp(points[: bi + 1], tol)[:-1] + _dp(points[bi:], tol)


def _snap(points):
    """Round float points (glyph units) to half units on one lattice per
    stroke: all x of a stroke share one parity, and all y."""
    best = None
    for hx in (0, 1):
        for hy in (0, 1):
            pts, err = [], 0.0
            for x, y in points:
                X = 2 * round((2 * x - hx) / 2) + hx
                Y = 2 * round((2 * y - hy) / 2) + hy
                err += (X - 2 * x) ** 2 + (Y - 2 * y) ** 2
                pts.append((X, Y))
            if best is None or err < best[0] - 1e-9:
                best = (err, pts)
    return best[1]


def _clean(pts):
    out = []
    for p in pts:
        if not out or out[-1] != p:
            out.append(p)
    i = 1
    while i < len(out) - 1:
        (ax, ay), (bx, by), (cx, cy) = out[i - 1], out[i], out[i + 1]
        cross = (bx - ax) * (cy - by) - (by - ay) * (cx - bx)
        dot = (bx - ax) * (cx - bx) + (by - ay) * (cy - by)
        if cross == 0 and dot > 0:
            del out[i]
        else:
            i += 1
    return out


def reduce_glyph(strokes, center, ytop=7.0, ybot=-3.0, tol=0.5):
    """A complex-grid glyph (cap height 21) reduced to the 6 x 7 cell, in
    half units."""
    if not strokes:
        return []
    x0, y0, x1, y1 = bbox(strokes)
    sy = 1 / 3
    if y1 * sy > ytop:
        sy = ytop / y1
    if y0 < 0 and -y0 * sy > -ybot:
        sy = min(sy, -ybot / -y0)
    sx = min(1 / 3, 5 / x1) if x1 > 0 else 1 / 3
    ox = (5 - x1 * sx) / 2 if center else 0.0
    ox = round(2 * ox) / 2
    out = []
    for s in strokes:
        fl = [(x * sx + ox, y * sy) for x, y in s]
        fx = [p[0] for p in fl]
        fy = [p[1] for p in fl]
        if max(fx) - min(fx) < 1 and max(fy) - min(fy) < 1:  # a dot
            X = round(sum(fx) / len(fx) * 2)
            Y = min(round(min(fy) * 2), 2 * int(ytop) - 2)
            out.append([(X, Y), (X, Y + 2)])
            continue
        pts = _clean(_snap(_dp(fl, tol)))
        if len(pts) >= 2:
            out.append(pts)
    # rounding may leave the glyph off the left edge or outside the cell
    xs = [x for st in out for x, _ in st]
    move = -min(xs) if not center or min(xs) < 0 else 0
    if center and max(xs) > 10:
        move = 10 - max(xs)
    return [[(x + move, y) for x, y in st] for st in out]


def _on_segment(p, a, b):
    (px, py), (ax, ay), (bx, by) = p, a, b
    if (bx - ax) * (py - ay) - (by - ay) * (px - ax) != 0:
        return False
    return min(ax, bx) <= px <= max(ax, bx) and min(ay, by) <= py <= max(ay, by) and p not in (a, b)


def chain(strokes):
    """Redraw the strokes of one glyph as few polylines as possible: touching
    strokes become one polyline that goes back over drawn lines where needed.
    Only strokes on the same half-unit lattice are chained together."""
    groups = {}
    for s in strokes:
        groups.setdefault((s[0][0] & 1, s[0][1] & 1), []).append(s)
    out = []
    for par in sorted(groups):
        edges = set()
        pts = {p for s in groups[par] for p in s}
        for s in groups[par]:
            for a, b in zip(s, s[1:]):
                inner = sorted((p for p in pts if _on_segment(p, a, b)),
                               key=lambda p: (p[0] - a[0]) ** 2 + (p[1] - a[1]) ** 2)
                seq = [a] + inner + [b]
                for u, v in zip(seq, seq[1:]):
                    if u != v:
                        edges.add((min(u, v), max(u, v)))
        adj = {}
        for u, v in sorted(edges):
            adj.setdefault(u, []).append(v)
            adj.setdefault(v, []).append(u)
        unused = set(edges)
        while unused:
            comp_start = min((p for e in unused for p in e), key=key)
            odd = [p for p in adj if len(adj[p]) % 2 == 1 and _reach(adj, comp_start, p)]
            cur = min(odd, key=key) if odd else comp_start
            path = [cur]
            while True:
                nxt = [v for v in adj[cur] if (min(cur, v), max(cur, v)) in unused]
                if nxt:
                    v = min(nxt, key=lambda q: (len([w for w in adj[q] if (min(q, w), max(q, w))
                                                     in unused]) == 1, key(q)))
                    unused.discard((min(cur, v), max(cur, v)))
                    path.append(v)
                    cur = v
                    continue
                # go back over drawn lines to the nearest point with undrawn lines
                route = _bfs(adj, cur, lambda q: any((min(q, w), max(q, w)) in unused
                                                       for w in adj[q]))
                if route is None:
                    break
                path += route[1:]
                cur = route[-1]
            out.append(_clean(path))
    return out


def _reach(adj, a, b):
    return _bfs(adj, a, lambda q: q == b) is not None


def _bfs(adj, start, goal):
    prev = {start: None}
    queue = [start]
    while queue:
        nq = []
        for q in queue:
            if goal(q) and q != start:
                path = [q]
                while prev[path[-1]] is not None:
                    path.append(prev[path[-1]])
                return path[::-1]
            for w in sorted(adj[q]):
                if w not in prev:
                    prev[w] = q
                    nq.append(w)
        queue = nq
    return None


def default_glyphs(fonts):
    rom = fonts["rowmans"]
    grid = {c: to_grid(rom[c]) for c in range(33, 127)}
    latin = []
    for c in range(33, 127):
        latin.append(chain(reduce_glyph(grid[c], center=True)))
    for c in "AOUaou":
        b = grid[ord(c)]
        top = 5.0 if c.isupper() else 4.0
        h = bbox(b)[3]
        squeezed = [[(x, y * (top * 3 / h) if y > 0 else y) for x, y in s] for s in b]
        g = reduce_glyph(squeezed, center=True)
        xs = [x for s in g for x, _ in s]
        mid = (min(xs) + max(xs)) // 2
        y = int(2 * top) + 2
        dots = [[(mid - 3, y), (mid - 3, y + 2)], [(mid + 3, y), (mid + 3, y + 2)]]
        latin.append(chain(g) + dots)
    latin.append(chain(reduce_glyph(SHARP_S, center=True)))
    gre = fonts["greeks"]
    greek = [chain(reduce_glyph(to_grid(gre[ord(c)]), center=False)) for c in LETTERS]
    return latin, greek


def _sorted_strokes(strokes):
    return sorted((orient(s) for s in strokes), key=lambda s: (key(s[0]), s))


# ---------------------------------------------------------------------------
# Output

TARGETS = {
    # name: (coordinate words, index words, records, declared glyph numbers)
    "complex_roman": (1458, 1522, 154, 155),
    "complex_greek": (877, 457, 52, 95),
    "complex_math": (380, 341, 52, 95),
    "complex_italic": (411, 277, 29, 102),
    "complex_script": (1119, 510, 59, 102),
    "complex_cyrillic": (784, 786, 66, 95),
    "default_latin": (458, 665, 101, 132),
    "default_greek": (0, 390, 52, 95),
}


def build_complex(fonts):
    rom = complex_roman(fonts)
    result = {}
    alpha = Alphabet("complex_roman", [half(rom[c]) for c in range(33, 187)], 155)
    packer = Packer()
    order = [ord(c) - 33 for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ"]
    dot = ord(".") - 33
    dotted = [i for i in range(len(alpha.glyphs))
              if any(shape(st) == shape(DOT) for st in rom[33 + i]) and i != dot]
    order += [i for i in range(len(alpha.glyphs)) if i not in order and i not in dotted]
    order += [i for i in dotted if i not in order]
    build_records(alpha, packer, order, pinned=dot, pin_at=361, no_fill=dotted)
    result[alpha.name] = (alpha, packer)

    greek = complex_other(fonts, "greekc", [ord(c) for c in LETTERS])
    math = [g for g in complex_other(fonts, "mathlow", MATH_CODES) if _fits(g)][:52]
    ital = complex_other(fonts, "timesi", [ord(c) for c in LETTERS[26:]])
    ital += umlauts({c: ital[i] for i, c in enumerate(LETTERS[26:])}, 2, "aou")
    script = complex_other(fonts, "scriptc", [ord(c) for c in LETTERS])
    script += umlauts({c: script[i] for i, c in enumerate(LETTERS)}, dx=2)
    script.append(canonical(compose(SHARP_S, [])))
    cyr = complex_other(fonts, "cyrillic", CYRILLIC_CODES)
    for name, glyphs, declared in (("complex_greek", greek, 95), ("complex_math", math, 95),
                                   ("complex_italic", ital, 102),
                                   ("complex_script", script, 102),
                                   ("complex_cyrillic", cyr, 95)):
        alpha = Alphabet(name, [half(g) for g in glyphs], declared)
        packer = Packer()
        build_records(alpha, packer, list(range(len(glyphs))))
        result[name] = (alpha, packer)
    return result


def build_default(fonts):
    latin, greek = default_glyphs(fonts)
    packer = Packer()
    a1 = Alphabet("default_latin", [_sorted_strokes(g) for g in latin], 132, always_offset=True)
    build_records(a1, packer, list(range(len(latin))))
    a2 = Alphabet("default_greek", [_sorted_strokes(g) for g in greek], 95, always_offset=True)
    build_records(a2, packer, list(range(len(greek))))
    return {"default_latin": (a1, packer), "default_greek": (a2, packer)}


def sizes(alphas):
    rows = []
    for name, (alpha, packer) in alphas.items():
        idx = index_table(alpha)
        rows.append((name, len(packer.coords), len(idx), len(alpha.records), alpha.declared))
    return rows


# ---------------------------------------------------------------------------
# Main


def check(alphas):
    """Decode every record again and compare it with the glyph it was made
    from (same lines, any direction)."""
    for name, (alpha, packer) in alphas.items():
        for g, rec in enumerate(alpha.records):
            assert rec[0] == len(rec), (name, g)
            k, got = 1, []
            while k < len(rec):
                n, st = rec[k], rec[k + 1]
                dx = dy = 0
                if n < 0:
                    n = -n
                    dx, dy = unpack(rec[k + 2])
                    k += 3
                else:
                    k += 2
                got.append([(2 * x + dx, 2 * y + dy) for x, y in packer.coords[st - 1:st - 1 + n]])
            want = alpha.glyphs[g]
            norm = lambda ss: sorted(min(tuple(x), tuple(x[::-1])) for x in ss)
            assert norm(got) == norm(want), (name, g)


def padded(alphas):
    """Final tables: {name: (coords, index)} with the stated sizes where the
    glyphs leave room (unused words at the end are zero)."""
    out = {}
    for name, (alpha, packer) in alphas.items():
        t = TARGETS[name]
        coords = [pack(x, y) for x, y in packer.coords]
        if t[0]:
            coords += [0] * max(0, t[0] - len(coords))
        idx = index_table(alpha)
        idx += [0] * max(0, t[1] - len(idx))
        out[name] = (coords, idx)
    return out


def c_array(name, words):
    lines = ["const std::int16_t %s[%d] = {" % (name, len(words))]
    for i in range(0, len(words), 12):
        lines.append("    " + ", ".join(str(w) for w in words[i:i + 12]) + ",")
    lines.append("};")
    return "\n".join(lines)


HEADER = """// Generated by tools/gen_glyphs.py from the Hershey fonts; do not edit.
// The Hershey Fonts were originally created by Dr. A. V. Hershey while working
// at the U. S. National Bureau of Standards (see NOTICE).
// clang-format off
"""

C_NAMES = {"complex_roman": "kComplexRoman", "complex_greek": "kComplexGreek",
           "complex_math": "kComplexMath", "complex_italic": "kComplexItalic",
           "complex_script": "kComplexScript", "complex_cyrillic": "kComplexCyrillic",
           "default_latin": "kDefaultLatin", "default_greek": "kDefaultGreek"}


def write_sources(alphas, outdir):
    tables = padded(alphas)
    files = {  # file name: alphabets in it
        "glyphs_complex.cpp": [("complex_roman", "kComplexRoman"),
                               ("complex_greek", "kComplexGreek"),
                               ("complex_math", "kComplexMath"),
                               ("complex_italic", "kComplexItalic"),
                               ("complex_script", "kComplexScript"),
                               ("complex_cyrillic", "kComplexCyrillic")],
        "glyphs_default.cpp": [("default_latin", "kDefaultLatin"),
                               ("default_greek", "kDefaultGreek")],
    }
    for fname, entries in files.items():
        parts = [HEADER, '#include "glyph_data.h"\n', "namespace plotix::detail {\n"]
        for name, cname in entries:
            coords, idx = tables[name]
            if name != "default_greek":
                parts.append(c_array(cname + "Coords", coords) + "\n")
            parts.append(c_array(cname + "Index", idx) + "\n")
        parts.append("} // namespace plotix::detail\n// clang-format on\n")
        with open(os.path.join(outdir, fname), "w", encoding="ascii", newline="\n") as f:
            f.write("\n".join(parts))
    return tables


def write_header(alphas, tables, outdir):
    """glyph_data.h: the table declarations with their sizes."""
    lines = [HEADER.replace("// clang-format off\n", ""), "#pragma once", "",
             "#include <cstddef>", "#include <cstdint>", "", "namespace plotix::detail {", ""]
    for name, (coords, idx) in tables.items():
        c = C_NAMES[name]
        alpha = alphas[name][0]
        lines.append("// %s: %d glyph records, glyph numbers up to %d" %
                     (name.replace("_", " "), len(alpha.records), alpha.declared))
        if name != "default_greek":
            lines.append("inline constexpr std::size_t %sCoordsSize = %d;" % (c, len(coords)))
            lines.append("extern const std::int16_t %sCoords[%sCoordsSize];" % (c, c))
        lines.append("inline constexpr std::size_t %sIndexSize = %d;" % (c, len(idx)))
        lines.append("extern const std::int16_t %sIndex[%sIndexSize];" % (c, c))
        lines.append("inline constexpr int %sRecords = %d;" % (c, len(alpha.records)))
        lines.append("inline constexpr int %sGlyphs = %d;" % (c, alpha.declared))
        lines.append("")
    lines += ["} // namespace plotix::detail", ""]
    with open(os.path.join(outdir, "glyph_data.h"), "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines))


def build_all(font_dir):
    names = ["timesr", "greekc", "timesi", "scriptc", "cyrillic", "mathlow", "rowmans", "greeks"]
    fonts = {n: load_font(font_dir, n) for n in names}
    alphas = build_complex(fonts)
    alphas.update(build_default(fonts))
    check(alphas)
    return alphas


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--fonts", default=FONT_DIR)
    ap.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                   "..", "plot", "text"))
    ap.add_argument("--report", action="store_true", help="print the table sizes")
    args = ap.parse_args(argv)
    alphas = build_all(args.fonts)
    tables = write_sources(alphas, args.out)
    write_header(alphas, tables, args.out)
    if args.report:
        for row in sizes(alphas):
            t = TARGETS[row[0]]
            print("%-17s coords %5d/%5d index %5d/%5d records %3d/%3d declared %3d" %
                  (row[0], row[1], t[0], row[2], t[1], row[3], t[2], row[4]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
