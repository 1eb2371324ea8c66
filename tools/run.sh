#!/usr/bin/env bash
# Installs what is missing, builds the program and opens its chart window (needs a
# display: DISPLAY set, or QT_QPA_PLATFORM chosen by the caller):
#   bash tools/run.sh
# Charts land in SYMBOL.gif in the current folder (the previous one in SYMBOL.bak); the
# proxy comes from the settings file (~/.config/brenvik-vantini, section [Data], keys
# ProxyHost and ProxyPort).
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${VT_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_TESTS=OFF -DVT_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target brenvik-vantrel
exe="$(pwd)/$build/bin/brenvik-vantrel"
cd "$here"
exec "$exe"
