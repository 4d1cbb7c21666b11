#!/usr/bin/env bash
# Batch runs on a virtual X server: --screen shows the graph (a white page
# with the blue curve) until mouse button 2; without --screen no window opens.
#   batch_screen.sh <fasogram> <example series>
# Exits with 77 (skipped) when Xvfb, xdotool or xwd is missing. Every wait
# has a time limit.
set -euo pipefail
fasogram=$1
series=$2
. "$(dirname "$0")/../common/xvfb.sh"
cp "$series" "$work/datos.dat"

fail() {
  echo "FAIL: $*"
  [ -f "$work/err" ] && cat "$work/err"
  exit 1
}

# Waits at most 10 s for the run to end; fails unless it ended with status 0.
ends_ok() {
  local rc=0
  for _ in $(seq 100); do
    kill -0 "$child_pid" 2>/dev/null || break
    sleep 0.1
  done
  wait "$child_pid" || rc=$?
  child_pid=
  [ "$rc" -eq 0 ] || fail "$1: status $rc"
}

# 1. --screen: the window shows a white page with a blue curve and dark
# axes, and stays until mouse button 2.
(cd "$work" && exec timeout 30 "$fasogram" --from 0 --to 0.5 --steps 1000 --screen \
  -o spectrum.dat >"$work/out" 2>"$work/err") &
child_pid=$!
wid=$(timeout 10 xdotool search --sync --name "^PLOTIX 1 / Click MB2" | head -n 1) || fail "no window"
[ -n "$wid" ] || fail "no window"
[ -s "$work/spectrum.dat" ] || fail "the table is not written before the window"
xwd -id "$wid" -silent >"$work/shot.xwd"
counts=$(/usr/bin/python3 - "$work/shot.xwd" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
header, width, height, order, bpp, bpl = h[0], h[4], h[5], h[7], h[11], h[12]
masks, ncolors = h[14:17], h[19]
start = header + 12 * ncolors
def comp(v, mask):
    shift = (mask & -mask).bit_length() - 1
    return ((v & mask) >> shift) * 255 // (mask >> shift)
white = blue = dark = 0
for y in range(height):
    for x in range(width):
        at = start + y * bpl + x * (bpp // 8)
        v = int.from_bytes(data[at:at + bpp // 8], "little" if order == 0 else "big")
        r, g, b = (comp(v, m) for m in masks)
        white += r > 240 and g > 240 and b > 240
        blue += b > 150 and r < 100 and g < 100
        dark += r < 100 and g < 100 and b < 100
print(white * 100 // (width * height), blue > 200, dark > 2000)
PY
)
[ "$(echo "$counts" | cut -d' ' -f2-)" = "True True" ] || fail "window content: $counts"
[ "$(echo "$counts" | cut -d' ' -f1)" -ge 90 ] || fail "not a white page: $counts"
sleep 0.3
kill -0 "$child_pid" 2>/dev/null || fail "the window did not wait"
xdotool mousemove --window "$wid" 100 100 click 2
ends_ok "--screen"
grep -q "Fileformat: CONS" "$work/err" || fail "no summary of the screen cycle"
[ ! -s "$work/out" ] || fail "standard output not empty"

# 2. Without --screen a batch run opens no window although a display is there.
(cd "$work" && exec timeout 30 "$fasogram" -q --from 0 --to 0.5 --steps 1000 -p g.png \
  >"$work/out" 2>"$work/err") &
child_pid=$!
ends_ok "no --screen"
[ -s "$work/g.png" ] || fail "no graph file"
echo "batch screen: ok"
