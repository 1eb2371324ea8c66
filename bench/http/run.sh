#!/usr/bin/env bash
# THttpCli against a private nginx on 127.0.0.1, side by side with curl and ab:
#   download  200 MB over HTTP/1.0 into a file: MB/s and CPU seconds per 100 MB next to
#             curl --http1.0 (goal: at least curl's MB/s at no more CPU per byte)
#   memory    peak resident memory of the 200 MB and of a 20 MB download (goal: the
#             same within 300 KiB: it must not grow with the document)
#   requests  1000 GETs of a 1.5 KB GIF one after the other, a fresh connection each,
#             next to ab -n 1000 (goal: at least 80% of ab's requests per second)
#   waiting   a GET to a server that accepts and never answers, aborted after 5 s
#             (goal: under 1% of a core)
#
#   bench/http/run.sh            (RUNS=n rounds of each comparison, default 3; every
#                                 round's figures are printed, then the range)
#
# Builds bench_http Release in its own build folder (VT_BENCH_BUILD_DIR).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${VT_BENCH_BUILD_DIR:-$repo/build-bench-http}
runs=${RUNS:-3}
size_mb=200
small_mb=20
requests=1000
idle_seconds=5
picture=$repo/tests/data/gif/rose_c32.gif

for tool in nginx curl ab python3 ss; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (tools/deps.sh installs it)" >&2; exit 1; }
done

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_BENCH=ON \
  -DVT_TESTS=OFF -DVT_GUI=OFF -DVT_SANITIZE=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target bench_http >/dev/null
bench="$build/bin/bench_http"

dir=$(mktemp -d /tmp/vt-bench-http-XXXXXX)
nginx_pid=
silent_pid=
cleanup() {
  for pid in $nginx_pid $silent_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$dir"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
wait_listening() {
  for _ in $(seq 200); do
    ss -Hltn "sport = :$1" | grep -q . && return 0
    sleep 0.1
  done
  return 1
}

port=$(free_port)
mkdir -p "$dir/docs"
truncate -s ${size_mb}M "$dir/docs/chart.bin"
truncate -s ${small_mb}M "$dir/docs/small.bin"
cp "$picture" "$dir/docs/chart.gif"
# The first read of a new file fills the page cache; no measured round may pay for it.
cat "$dir/docs/chart.bin" "$dir/docs/small.bin" >/dev/null
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root root;"
cat >"$dir/nginx.conf" <<CONF
$user_line
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $dir/client_body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $dir/docs;
  }
}
CONF
setsid nginx -p "$dir" -c "$dir/nginx.conf" >"$dir/nginx.out" 2>&1 &
nginx_pid=$!
wait_listening "$port" || { echo "nginx did not start:" >&2; cat "$dir/nginx.out" "$dir/error.log" >&2; exit 1; }

# One run of a download command: "seconds cpu" (wall clock; the child's user plus
# system time from getrusage), after checking the size of the file it wrote.
measure() {
  python3 - "$dir/out" "$1" "${@:2}" <<'PY'
import os, resource, subprocess, sys, time
out, expected, cmd = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
if os.path.exists(out):
    os.remove(out)
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.perf_counter()
subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
wall = time.perf_counter() - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
size = os.path.getsize(out)
if size != expected:
    sys.exit(f"{cmd[0]} wrote {size} bytes, expected {expected}")
print(f"{wall:.6f} {(after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime):.6f}")
PY
}
# The value of key=value in the last line of a bench_http output.
field() { tail -n 1 <<<"$2" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
# min..max of the numbers on standard input
range() { sort -g | awk 'NR==1{lo=$1} {hi=$1} END{printf "%s..%s", lo, hi}'; }

url="http://127.0.0.1:$port"
bytes=$((size_mb * 1024 * 1024))
mb=$(awk -v b="$bytes" 'BEGIN{print b/1e6}')

echo "== download: ${size_mb} MB into a file, THttpCli next to curl --http1.0 ($runs rounds)"
printf "%-6s %14s %14s %14s %14s %8s %8s\n" round "THttpCli MB/s" "curl MB/s" "THttpCli CPU" "curl CPU" speed cpu
: >"$dir/speed"; : >"$dir/cpu"; : >"$dir/rss"
for round in $(seq "$runs"); do
  read -r vw vc < <(measure "$bytes" "$bench" "$url/chart.bin" "$dir/out")
  read -r cw cc < <(measure "$bytes" curl --http1.0 -s -o "$dir/out" "$url/chart.bin")
  awk -v mb="$mb" -v vw="$vw" -v vc="$vc" -v cw="$cw" -v cc="$cc" -v r="$round" 'BEGIN {
    printf "%-6s %14.1f %14.1f %14.3f %14.3f %7.2fx %7.2fx\n", r, mb/vw, mb/cw, vc*100/mb, cc*100/mb, cw/vw, vc/cc
  }'
  awk -v vw="$vw" -v cw="$cw" 'BEGIN{print cw/vw}' >>"$dir/speed"
  awk -v vc="$vc" -v cc="$cc" 'BEGIN{print vc/cc}' >>"$dir/cpu"
done
echo "THttpCli/curl MB/s $(range <"$dir/speed")x (goal >= 1.0), CPU per byte $(range <"$dir/cpu")x (goal <= 1.0)"

echo "== memory: peak resident set of bench_http"
for round in $(seq "$runs"); do
  big=$(field maxrss_kib "$("$bench" "$url/chart.bin" "$dir/out")")
  small=$(field maxrss_kib "$("$bench" "$url/small.bin" "$dir/out")")
  echo "round $round: ${size_mb} MB: $big KiB, ${small_mb} MB: $small KiB, difference $((big - small)) KiB"
  echo $((big - small)) >>"$dir/rss"
done
echo "difference $(range <"$dir/rss") KiB (goal: within 300)"

echo "== requests: $requests GETs of $(stat -c %s "$picture")-byte GIF, a connection each, THttpCli next to ab"
: >"$dir/rate"
for round in $(seq "$runs"); do
  out=$("$bench" --requests "$requests" "$url/chart.gif")
  vt_rate=$(awk -v n="$(field requests "$out")" -v s="$(field seconds "$out")" 'BEGIN{print n/s}')
  vt_us=$(awk -v n="$(field requests "$out")" -v c="$(field cpu "$out")" 'BEGIN{printf "%.1f", c*1e6/n}')
  ab_out=$(ab -q -n "$requests" -c 1 "$url/chart.gif")
  grep -q "^Failed requests: *0" <<<"$ab_out" || { echo "ab reported failed requests" >&2; exit 1; }
  ab_rate=$(awk '/^Requests per second:/{print $4}' <<<"$ab_out")
  awk -v v="$vt_rate" -v a="$ab_rate" -v us="$vt_us" -v r="$round" 'BEGIN {
    printf "round %s: THttpCli %.0f req/s (%.1f us wall, %s us CPU a request), ab %.0f req/s, %.2fx\n", r, v, 1e6/v, us, a, v/a
  }'
  awk -v v="$vt_rate" -v a="$ab_rate" 'BEGIN{print v/a}' >>"$dir/rate"
done
echo "THttpCli/ab requests per second $(range <"$dir/rate")x (goal >= 0.8)"

echo "== waiting: a GET to a server that never answers, aborted after ${idle_seconds} s"
silent_port=$(free_port)
setsid python3 -c 'import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(8)
held = [s.accept()[0] for _ in range(8)]  # accepted, read from never, answered never
time.sleep(3600)' "$silent_port" &
silent_pid=$!
wait_listening "$silent_port" || { echo "the silent server did not start" >&2; exit 1; }
out=$("$bench" --idle "$idle_seconds" "http://127.0.0.1:$silent_port/chart.gif")
head -n 1 <<<"$out"
awk -v s="$(field seconds "$out")" -v c="$(field cpu "$out")" 'BEGIN {
  printf "CPU while waiting: %.3f%% of a core (goal < 1%%)\n", 100*c/s
}'
