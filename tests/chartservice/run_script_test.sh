#!/usr/bin/env bash
# The README's run command without a display, end to end: tools/run.sh with a price
# folder on the build folder $1. Checks what it prints (caption, progress, settings
# written on close), that the screenshot's picture area shows exactly the chart the
# service draws for the symbol, and that no process of the run is left.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d /tmp/vt-runtest.XXXXXX)
service=""
cleanup() {
  [ -n "$service" ] && kill "$service" 2>/dev/null && wait "$service" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "run script test: $*" >&2
  [ -f "$tmp/out" ] && sed 's/^/  | /' "$tmp/out" >&2
  exit 1
}

# The viewer's first symbol is "vtrx": a price file for it, rising then falling.
mkdir "$tmp/data"
{
  echo "Date,Open,High,Low,Close,Volume"
  for i in $(seq 1 40); do
    close=$((i <= 30 ? 100 + 3 * i : 190 - 5 * (i - 30)))
    printf '2024-05-%02d,%d,%d,%d,%d,%d\n' $((i % 28 + 1)) $close $((close + 2)) $((close - 2)) $close $((1000 + 50 * i))
  done
} >"$tmp/data/VTRX.csv"

env -u DISPLAY -u WAYLAND_DISPLAY VT_BUILD_DIR="$build" VT_NO_BUILD=1 \
  VT_SCREENSHOT="$tmp/shot.png" timeout 120 bash "$src/tools/run.sh" --data "$tmp/data" \
  >"$tmp/out" 2>&1 || fail "run.sh failed"

grep -qx 'run: window caption "Brenvik Vantrel"' "$tmp/out" || fail "wrong caption"
bytes=$(sed -n 's/^run: progress "Received \([0-9]*\) bytes".*/\1/p' "$tmp/out")
[ -n "$bytes" ] && [ "$bytes" -gt 100 ] || fail "no chart was received"
grep -qx "run: screenshot $tmp/shot.png" "$tmp/out" || fail "the screenshot path is not printed"
# The settings the window wrote on close.
for line in '[Data]' 'URL=vtrx' 'ProxyHost=127.0.0.1' 'FileName=vtrx.gif' '[Window]' '[vtrx]' 'button14='; do
  grep -qxF "  $line" "$tmp/out" || fail "settings lack $line"
done
grep -qE '^  ProxyPort=[0-9]+$' "$tmp/out" || fail "settings lack the proxy port"
grep -qE '^  Width=[0-9]+$' "$tmp/out" || fail "settings lack the window width"

# The chart the service draws for the same prices, fetched here.
"$build/bin/brenvik-chartservice" --port 0 --data "$tmp/data" >"$tmp/service.log" 2>&1 &
service=$!
for _ in $(seq 100); do
  port=$(sed -n 's#^listening on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$tmp/service.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the service did not start"
curl -s --max-time 10 --http1.0 -o "$tmp/chart.gif" -x "http://127.0.0.1:$port" \
  "http://chart.yahoo.com/t?s=vtrx"
[ "$(stat -c %s "$tmp/chart.gif")" = "$bytes" ] || fail "the viewer received another chart"

# The picture area (near the top left of the window) holds that chart pixel for pixel.
/usr/bin/python3 - "$tmp/shot.png" "$tmp/chart.gif" <<'PY' || fail "the screenshot does not show the chart"
import sys
from PIL import Image
shot = Image.open(sys.argv[1]).convert("RGB")
chart = Image.open(sys.argv[2]).convert("RGB")
w, h = chart.size
want = chart.tobytes()
for dy in range(0, 5):
    for dx in range(0, 5):
        if shot.crop((dx, dy, dx + w, dy + h)).tobytes() == want:
            print("chart found at", dx, dy)
            sys.exit(0)
sys.exit("chart %dx%d not found in the %dx%d screenshot" % (w, h, *shot.size))
PY

# Nothing of the run is left: no viewer or virtual display of this build, no work folder.
kill "$service" && wait "$service" 2>/dev/null || true
service=""
if pgrep -f "^$build/bin/brenvik-" >/dev/null; then fail "a program of the run is still running"; fi
xvfb=$(sed -n 's/^run: virtual display :[0-9]* (Xvfb process \([0-9]*\))$/\1/p' "$tmp/out")
[ -n "$xvfb" ] || fail "no virtual display was reported"
if [ -e "/proc/$xvfb" ] && grep -q Xvfb "/proc/$xvfb/cmdline" 2>/dev/null; then
  fail "the virtual display is still running"
fi
if ls -d /tmp/brenvik-vantrel.* 2>/dev/null | grep -q .; then
  for d in /tmp/brenvik-vantrel.*; do
    grep -qF "$d" "$tmp/out" && fail "the work folder $d was left"
  done
fi
echo "run script test: ok"
