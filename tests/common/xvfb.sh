# Sourced by the tests that need a screen: skips the test (exit 77) when
# Xvfb, xdotool, xwd or Python is missing, makes a scratch directory $work,
# starts a virtual X server on a free display and exports DISPLAY.  The
# server, $child_pid (when the test sets it) and $work go when the test ends.
for tool in Xvfb xdotool xwd /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done

work=$(mktemp -d)
xvfb_pid=
child_pid=
cleanup() {
  [ -n "$child_pid" ] && kill "$child_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free display: the server writes its number when it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(tr -d '\n' <"$work/display")
