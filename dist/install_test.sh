#!/usr/bin/env bash
# Installs the build folder $1 into a scratch prefix, checks the files a desktop needs,
# and starts the installed chart service from there (its libraries and socket module
# must resolve inside the prefix).
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/vt-install.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/brenvik-vantrel bin/brenvik-chartservice bin/wsock32.dll \
         share/applications/brenvik-vantrel.desktop \
         share/icons/hicolor/32x32/apps/brenvik-vantrel.png; do
  [ -e "$prefix/$f" ] || fail "$f not installed"
done
[ "$(head -c 8 "$prefix/share/icons/hicolor/32x32/apps/brenvik-vantrel.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] ||
  fail "the icon is no PNG file"
[ -n "$(find "$prefix" -name 'libvt_core.so*' -print -quit)" ] || fail "libvt_core.so not installed"
desktop-file-validate "$prefix/share/applications/brenvik-vantrel.desktop" ||
  fail "the desktop entry is not valid"
grep -qx 'Exec=brenvik-vantrel' "$prefix/share/applications/brenvik-vantrel.desktop" ||
  fail "the desktop entry does not start the viewer"
for program in "$prefix"/bin/brenvik-*; do
  libraries=$(ldd "$program")
  if grep -q 'not found' <<<"$libraries"; then fail "$program: $(grep 'not found' <<<"$libraries")"; fi
  grep -q "$prefix/.*libvt_core" <<<"$libraries" || fail "$program does not take libvt_core from $prefix"
done

# The installed service answers a chart request.
"$prefix/bin/brenvik-chartservice" --port 0 > "$prefix/service.out" 2>&1 &
pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's#^listening on http://127\.0\.0\.1:\([0-9]*\)/$#\1#p' "$prefix/service.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the installed service did not start: $(cat "$prefix/service.out")"
curl -s --max-time 10 --http1.0 -o "$prefix/chart.gif" "http://127.0.0.1:$port/t?s=IBM"
[ "$(head -c 6 "$prefix/chart.gif")" = "GIF89a" ] || fail "no chart from the installed service"
echo "install test: ok"
