#!/usr/bin/env bash
# Draws every glyph of both stroked fonts through the library and renders the
# two pages into docs/glyph_chart.png (ghostscript and python3-pil).
#   tools/glyph_sheet.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target glyph_sheet -j2 >/dev/null
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$root/$build/tests/plot/text/glyph_sheet" sheet >/dev/null
for f in sheet_complex sheet_default; do
  gs -dSAFER -dBATCH -dNOPAUSE -q -sPAPERSIZE=a4 -dFIXEDMEDIA -sDEVICE=pnggray -r110 \
     -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sOutputFile=$f.png $f.ps
done
# The landscape pages lie on portrait paper: turn them upright and stack them.
/usr/bin/python3 - "$root/docs/glyph_chart.png" <<'PY'
import sys
from PIL import Image
pages = [Image.open(f + ".png").rotate(-90, expand=True) for f in ("sheet_complex", "sheet_default")]
out = Image.new("L", (pages[0].width, sum(p.height for p in pages)), 255)
y = 0
for p in pages:
    out.paste(p, (0, y))
    y += p.height
out.save(sys.argv[1], optimize=True)
PY
echo "wrote docs/glyph_chart.png"
