#!/usr/bin/env bash
# Installs the Debian packages that are missing:
#   bash tools/deps.sh        everything: build, tests, test peers, benchmarks
#   bash tools/deps.sh run    only what building and running the programs need (and,
#                             without a display, a virtual one with an input tool and a
#                             screenshot tool)
# Idempotent: runs apt-get (and its update, once) only when something is missing.
set -euo pipefail

run_packages=(
  # build and run
  g++ cmake ninja-build pkg-config qt6-base-dev libgl-dev libjpeg-dev
)
headless_packages=(
  # a virtual display, keys pressed in it, a screenshot of it, closing its window
  xvfb xdotool imagemagick python3
)
test_packages=(
  # tests and tools
  googletest libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev clang-format
  # peers for interop tests and the display
  apache2-utils # ab: the benchmark peer for many small requests
  nginx-light lighttpd squid tinyproxy dante-server microsocks openssh-server openssh-client
  xdg-utils xvfb xdotool iproute2 curl desktop-file-utils
  # picture encoders for the test corpus, and the benchmark peer
  imagemagick gifsicle python3 python3-pil libgif-dev
)

case "${1:-all}" in
run)
  packages=("${run_packages[@]}")
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    packages+=("${headless_packages[@]}")
  fi
  ;;
all) packages=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
  echo "usage: bash tools/deps.sh [run]" >&2
  exit 2
  ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi
# Installing server packages must not start their system services on public ports.
created_policy=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
  created_policy=1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
[ -n "$created_policy" ] && rm -f /usr/sbin/policy-rc.d
exit 0
