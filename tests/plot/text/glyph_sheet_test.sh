#!/bin/sh
# Runs the glyph sheet program and renders both pages with ghostscript.
#   glyph_sheet_test.sh <glyph_sheet program> <work directory>
set -eu
prog=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
"$prog" sheet >run.log
# Two plots, both without warnings.
test "$(grep -c 'Warnings: 0 ' run.log)" -eq 2 || { cat run.log; exit 1; }
for f in sheet_complex sheet_default; do
  gs -dSAFER -dBATCH -dNOPAUSE -q -sPAPERSIZE=a4 -dFIXEDMEDIA -sDEVICE=pgmraw -r20 \
     -sOutputFile=$f.pgm $f.ps
  test -s $f.pgm
done
