#!/bin/bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UBSan in a build
# folder of their own and runs fuzz_gif and then fuzz_gifcontrol for N seconds each (default
# 60), seeded with the GIF test corpus and the animated control's test files. Usage: fuzz/run.sh [seconds]
set -euo pipefail
SECONDS_TO_RUN=${1:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VT_FUZZ_BUILD:-$ROOT/build-fuzz}
SANITIZERS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVT_FUZZ=ON -DVT_TESTS=OFF -DVT_BENCH=OFF -DVT_SANITIZE=OFF \
    -DCMAKE_C_FLAGS="$SANITIZERS" -DCMAKE_CXX_FLAGS="$SANITIZERS" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" -j2 --target fuzz_gif fuzz_gifcontrol

# New inputs go to a scratch folder; the committed corpus only seeds the run.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$BUILD/bin/fuzz_gif" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="${VT_FUZZ_ARTIFACTS:-$BUILD/}" \
    -max_len=65536 -print_final_stats=1 "$WORK" "$ROOT/tests/data/gif"
# The animated control's reader, as long again, seeded with its own test files.
mkdir -p "$WORK/gifcontrol"
"$BUILD/bin/fuzz_gifcontrol" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=4096 \
    -artifact_prefix="${VT_FUZZ_ARTIFACTS:-$BUILD/}" \
    -max_len=65536 -print_final_stats=1 "$WORK/gifcontrol" "$ROOT/tests/data/gifcontrol"
