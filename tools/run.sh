#!/usr/bin/env bash
# Installs what is missing, builds the program and runs one chart request:
#   bash tools/run.sh [SYMBOL [PERIOD]]      PERIOD 1 (one day) .. 3 (one year)
# The chart lands in SYMBOL.gif in the current folder (the previous one in SYMBOL.bak);
# the proxy comes from the settings file (~/.config/brenvik-vantini, section [Data],
# keys ProxyHost and ProxyPort).
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${VT_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_TESTS=OFF -DVT_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target brenvik-vantrel
exe="$(pwd)/$build/bin/brenvik-vantrel"
cd "$here"
# Pictures are decoded with the toolkit's image classes; no window is shown yet.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
exec "$exe" "$@"
