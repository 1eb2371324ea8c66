#!/usr/bin/env bash
# Builds Brenvik Vantrel and starts it with a local chart service:
#   bash tools/run.sh [--data FOLDER]
# FOLDER holds price files named SYMBOL.csv (Date,Open,High,Low,Close,Volume); symbols
# without one are charted from made-up prices marked "sample data".
# The service listens on a free loopback port and the viewer reaches it through the proxy
# entries of a fresh settings file in a temporary configuration folder (never your own).
# With a display the window opens for you; closing it stops the service and removes the
# temporary folder. Without one the viewer runs on a virtual display: the script presses
# Enter in the window, waits for the chart, saves a screenshot (VT_SCREENSHOT, by default
# brenvik-vantrel-screenshot.png in the current folder), prints what the window shows,
# closes the window (which writes its settings) and ends.
# VT_BUILD_DIR picks the build folder (default build); VT_NO_BUILD=1 uses it as it is.
set -euo pipefail

here=$(pwd)
data=""
while [ $# -gt 0 ]; do
  case $1 in
  --data)
    [ $# -ge 2 ] && [ -d "$2" ] || { echo "run: --data needs a folder" >&2; exit 2; }
    data=$(cd "$2" && pwd)
    shift 2
    ;;
  *)
    echo "usage: bash tools/run.sh [--data FOLDER]" >&2
    exit 2
    ;;
  esac
done
cd "$(dirname "$0")/.."
repo=$(pwd)
build=${VT_BUILD_DIR:-build}
case $build in /*) ;; *) build="$repo/$build" ;; esac
shot=${VT_SCREENSHOT:-$here/brenvik-vantrel-screenshot.png}
case $shot in /*) ;; *) shot="$here/$shot" ;; esac
headless=""
[ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && headless=1

if [ -z "${VT_NO_BUILD:-}" ]; then
  bash tools/deps.sh run
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_TESTS=OFF -DVT_BENCH=OFF \
    >/dev/null
  cmake --build "$build" -j "$(nproc)" --target brenvik-vantrel brenvik-chartservice wsock32
fi
bin="$build/bin"

work=$(mktemp -d /tmp/brenvik-vantrel.XXXXXX)
pids=() # started here, stopped in reverse order
stop_all() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  pids=()
  rm -rf "$work"
}
trap stop_all EXIT
trap 'exit 130' INT TERM
fail() {
  echo "run: $*" >&2
  exit 1
}
# Polls `$@` every 0.1 s for up to $timeout seconds.
wait_for() {
  local timeout=$1 i
  shift
  for ((i = 0; i < timeout * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The chart service, on a port the system picks.
"$bin/brenvik-chartservice" --port 0 ${data:+--data "$data"} --log >"$work/service.log" 2>&1 &
pids+=($!)
service_port() { sed -n 's#^listening on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$work/service.log"; }
service_started() { [ -n "$(service_port)" ]; }
wait_for 20 service_started || fail "the chart service did not start: $(cat "$work/service.log")"
port=$(service_port)
echo "run: chart service on 127.0.0.1:$port${data:+, prices from $data}"

# Settings: every chart request goes through the service as the proxy.
mkdir -p "$work/config" "$work/charts"
printf '[Data]\nProxyHost=127.0.0.1\nProxyPort=%s\n' "$port" >"$work/config/brenvik-vantini"
export XDG_CONFIG_HOME="$work/config"
cd "$work/charts" # the viewer keeps its chart files in its working folder

if [ -z "$headless" ]; then
  "$bin/brenvik-vantrel" || true
  exit 0
fi

# No display: a virtual one, at a number the server picks.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 20 grep -q . "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
sleep 0.1 # the number may come in two writes
export DISPLAY=":$(head -n1 "$work/display")"
echo "run: virtual display $DISPLAY (Xvfb process ${pids[-1]})"
QT_QPA_PLATFORM=xcb "$bin/brenvik-vantrel" >"$work/viewer.log" 2>&1 &
viewer=$!
pids+=($viewer)
find_window() { window=$(xdotool search --onlyvisible --name '^Brenvik Vantrel' 2>/dev/null | head -n1); [ -n "$window" ]; }
wait_for 30 find_window || fail "the window did not appear: $(cat "$work/viewer.log")"

# Enter presses the window's default button, "Show", as a person would.
xdotool windowfocus "$window"
sleep 0.5
xdotool key Return
answered() { grep -q ' -> ' "$work/service.log"; }
wait_for 30 answered || fail "no chart was requested: $(cat "$work/viewer.log")"
answer=$(grep ' -> ' "$work/service.log" | head -n1)
symbol=$(sed -n 's#.*[?/]s=\([^ &]*\).*#\1#p;s#.*/c/0b/[^/]*/\([^ ]*\)\.gif .*#\1#p' <<<"$answer" | head -n1)
status=$(sed -n 's#.* -> \([0-9]*\), .*#\1#p' <<<"$answer")
bytes=$(sed -n 's#.* -> [0-9]*, \([0-9]*\) bytes$#\1#p' <<<"$answer")
chart_done() { [ -f "$symbol.gif" ] && [ "$(stat -c %s "$symbol.gif")" = "$bytes" ]; }
wait_for 30 chart_done || fail "the chart file did not arrive (service: $answer)"
sleep 1 # let the window draw it

import -window "$window" "$shot"
echo "run: screenshot $shot"
echo "run: window caption \"$(xdotool getwindowname "$window")\""
if [ "$status" = 200 ]; then
  echo "run: progress \"Received $bytes bytes\" (chart $symbol.gif from the service)"
else
  echo "run: the service answered $status: progress \"Failed : $status ...\""
fi

# Close as a window manager would; the window writes its settings on the way out.
python3 "$repo/tools/xclose.py" "$window"
# Ended (a zombie until waited for) or gone.
viewer_ended() { [ ! -e "/proc/$viewer" ] || grep -q '^[0-9]* (.*) Z' "/proc/$viewer/stat"; }
wait_for 20 viewer_ended || fail "the window did not close"
wait "$viewer" 2>/dev/null || true
echo "run: settings written on close ($XDG_CONFIG_HOME/brenvik-vantini):"
sed 's/\r$//; s/^/  /' "$XDG_CONFIG_HOME/brenvik-vantini"
