#!/usr/bin/env bash
# The screen window on a virtual X server: the picture shown in the window
# (a red line, a green box and a blue polygon at the pixels the page scale
# gives), the titles, and the ends of the wait: mouse button 2, the window
# destroyed, Return with key option 1, the delay, no wait.
#   screen_window.sh <screen_plot program>
# Exits with 77 (skipped) when Xvfb, xdotool or xwd is missing. Every wait
# has a time limit.
set -euo pipefail
plot=$1
. "$(dirname "$0")/../common/xvfb.sh"
unset LANG LC_ALL

fail() {
  echo "FAIL: $*"
  [ -f "$work/out" ] && cat "$work/out"
  exit 1
}

# Starts the plot with the given wait options.
start() {
  (cd "$work" && exec timeout 30 "$plot" "$@" >"$work/out" 2>&1) &
  child_pid=$!
}

# Waits for the window whose title starts with $1; prints its id.
window() {
  timeout 10 xdotool search --sync --name "^$1" | head -n 1
}

# Waits at most 10 s for the plot to end; fails unless it ended with status 0.
ends_ok() {
  local rc=0
  for _ in $(seq 100); do
    kill -0 "$child_pid" 2>/dev/null || break
    sleep 0.1
  done
  wait "$child_pid" || rc=$?
  child_pid=
  [ "$rc" -eq 0 ] || fail "$1: status $rc"
  grep -q "Fileformat: CONS" "$work/out" || fail "$1: no summary"
  if grep -q "<<<< Warning" "$work/out"; then fail "$1: warnings"; fi
}

still_running() {
  sleep 0.3
  kill -0 "$child_pid" 2>/dev/null || fail "$1: the plot ended too early"
}

# Colours of window pixels from an xwd dump: "x,y" arguments, "r g b" lines.
pixels() {
  /usr/bin/python3 - "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
header, width, height, order, bpp, bpl = h[0], h[4], h[5], h[7], h[11], h[12]
masks, ncolors = h[14:17], h[19]
start = header + 12 * ncolors
def comp(v, mask):
    shift = (mask & -mask).bit_length() - 1
    return ((v & mask) >> shift) * 255 // (mask >> shift)
print(width, height)
for p in sys.argv[2:]:
    x, y = map(int, p.split(","))
    at = start + y * bpl + x * (bpp // 8)
    v = int.from_bytes(data[at:at + bpp // 8], "little" if order == 0 else "big")
    print(*(comp(v, m) for m in masks))
PY
}

# 1. The picture, Return ignored, mouse button 2 ends the wait. The client
# area is 1016 x 718 at (4, 46); scale 717 / 2099 pixels per plot unit.
start
wid=$(window "PLOTIX 1 / Click MB2 to continue ...") || fail "no window"
[ -n "$wid" ] || fail "no window"
geometry=$(xdotool getwindowgeometry "$wid")
echo "$geometry" | grep -q "Position: 4,46" || fail "position: $geometry"
echo "$geometry" | grep -q "Geometry: 1016x718" || fail "size: $geometry"
xwd -id "$wid" -silent >"$work/shot.xwd"
got=$(pixels "$work/shot.xwd" 34,34 200,34 342,34 343,34 200,33 200,35 \
  512,342 547,376 548,376 511,342 530,360 684,342 751,410 820,478 10,600)
expect="1016 718
255 0 0
255 0 0
255 0 0
0 0 0
0 0 0
0 0 0
0 255 0
0 255 0
0 0 0
0 0 0
0 255 0
0 0 255
0 0 255
0 0 255
0 0 0"
[ "$got" = "$expect" ] || fail "pixels:
$got"
xdotool key --window "$wid" Return 2>/dev/null
still_running "Return with key option 0"
xdotool mousemove --window "$wid" 100 100 click 2
ends_ok "mouse button 2"

# 2. The window destroyed from outside also ends the wait.
start
wid=$(window "PLOTIX 1 / Click MB2 to continue ...") || fail "no window"
xdotool click 1
still_running "mouse button 1"
xdotool windowclose "$wid"
ends_ok "window destroyed"

# 3. Key option 1: Return ends the wait.
start 0 1
wid=$(window "PLOTIX 1 / Click MB2 or RETURN to continue ...") || fail "no window (key option 1)"
# (the key release may find the window gone already)
xdotool key --window "$wid" Return 2>/dev/null || true
ends_ok "Return"

# 4. Delay mode: the window goes after two seconds by itself.
start 4 0 2
wid=$(window "PLOTIX 1 / Delay time 2 seconds") || fail "no window (delay)"
ends_ok "delay"

# 5. No wait: disfin returns at once.
start 2
ends_ok "no wait"
grep -q "Metafile: " "$work/out" || fail "summary"
echo "screen window: ok"
