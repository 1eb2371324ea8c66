#!/bin/bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UBSan in a build
# folder of their own and runs each for N seconds (default 60), seeded with its corpus.
# Usage: fuzz/run.sh [seconds] [target...]   (no target: all of them, one after another)
set -euo pipefail
SECONDS_TO_RUN=${1:-60}
shift || true
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VT_FUZZ_BUILD:-$ROOT/build-fuzz}
SANITIZERS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

# One line per target: name and seed folders.
TARGETS=(
  "fuzz_gif $ROOT/tests/data/gif"
  "fuzz_http $ROOT/fuzz/corpus/http"
  "fuzz_socks $ROOT/fuzz/corpus/socks"
  "fuzz_profile $ROOT/fuzz/corpus/profile"
  "fuzz_httpprot $ROOT/fuzz/corpus/httpprot"
  "fuzz_jpeg $ROOT/tests/data/jpeg"
  "fuzz_gifcontrol $ROOT/tests/data/gifcontrol"
)

WANTED=("$@")
# True when target $1 was asked for (or no target was named).
wanted() {
  [ ${#WANTED[@]} -eq 0 ] && return 0
  local t
  for t in "${WANTED[@]}"; do [ "$t" = "$1" ] && return 0; done
  return 1
}

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVT_FUZZ=ON -DVT_TESTS=OFF -DVT_BENCH=OFF -DVT_SANITIZE=OFF \
    -DCMAKE_C_FLAGS="$SANITIZERS" -DCMAKE_CXX_FLAGS="$SANITIZERS" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null

BUILT=()
for line in "${TARGETS[@]}"; do
  name=${line%% *}
  if wanted "$name"; then BUILT+=("$name"); fi
done
cmake --build "$BUILD" -j2 --target "${BUILT[@]}"

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for line in "${TARGETS[@]}"; do
  read -r name seeds <<<"$line"
  wanted "$name" || continue
  # New inputs go to a scratch folder; the committed corpus only seeds the run.
  work=$(mktemp -d)
  echo "== $name: ${SECONDS_TO_RUN}s"
  "$BUILD/bin/$name" -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=4096 \
      -artifact_prefix="${VT_FUZZ_ARTIFACTS:-$BUILD/}$name-" \
      -max_len=65536 -print_final_stats=1 "$work" $seeds || { rm -rf "$work"; exit 1; }
  rm -rf "$work"
done
