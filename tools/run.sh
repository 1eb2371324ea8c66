#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
# Without a display it runs under a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${VT_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_TESTS=OFF -DVT_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
exe="$build/bin/brenvik-vantrel"
if [ -z "${DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$exe" "$@"
fi
exec "$exe" "$@"
