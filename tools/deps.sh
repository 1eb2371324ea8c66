#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the peers need.
# Idempotent: runs apt-get (and its update, once) only when something is missing.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev libjpeg-dev clang libclang-rt-14-dev clang-format
  # peers for interop tests and the display
  apache2-utils # ab: the benchmark peer for many small requests
  nginx-light lighttpd squid tinyproxy dante-server microsocks openssh-server openssh-client
  xdg-utils xvfb xdotool iproute2 curl
  # picture encoders for the test corpus, and the benchmark peer
  imagemagick gifsicle python3 python3-pil libgif-dev
)

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
