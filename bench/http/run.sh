#!/usr/bin/env bash
# Download speed of THttpCli next to curl: both fetch the same 200 MB file over HTTP/1.0
# from a private nginx on 127.0.0.1 into a file. Prints throughput (MB/s) and CPU
# seconds per 100 MB of each, side by side, with their ratios.
# Goal: at least 90% of curl's throughput at no more CPU per byte.
#
#   bench/http/run.sh            (RUNS=n repeats each client, best run counts)
#
# Builds bench_http Release in its own build folder (VT_BENCH_BUILD_DIR).
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
build=${VT_BENCH_BUILD_DIR:-$repo/build-bench-http}
runs=${RUNS:-3}
size_mb=200

for tool in nginx curl python3 ss; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVT_BENCH=ON \
  -DVT_TESTS=OFF -DVT_GUI=OFF >/dev/null
cmake --build "$build" -j2 --target bench_http >/dev/null
bench="$build/bin/bench_http"

dir=$(mktemp -d /tmp/vt-bench-http-XXXXXX)
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$dir/docs"
truncate -s ${size_mb}M "$dir/docs/chart.bin"
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
for _ in $(seq 200); do
  ss -Hltn "sport = :$port" | grep -q . && break
  sleep 0.1
done
ss -Hltn "sport = :$port" | grep -q . || { echo "nginx did not start:" >&2; cat "$dir/nginx.out" "$dir/error.log" >&2; exit 1; }

url="http://127.0.0.1:$port/chart.bin"
expected=$((size_mb * 1024 * 1024))

# Runs a client RUNS times; prints the best run as "seconds cpu" (wall clock and the
# child's user plus system time, from getrusage).
measure() {
  python3 - "$runs" "$dir/out" "$expected" "$@" <<'PY'
import os, resource, subprocess, sys, time
runs, out, expected, cmd = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4:]
best = None
for _ in range(runs):
    if os.path.exists(out):
        os.remove(out)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    size = os.path.getsize(out)
    if size != expected:
        sys.exit(f"{cmd[0]} wrote {size} bytes, expected {expected}")
    if best is None or wall < best[0]:
        best = (wall, cpu)
print(f"{best[0]:.6f} {best[1]:.6f}")
PY
}

read -r vt_wall vt_cpu < <(measure "$bench" "$url" "$dir/out")
read -r curl_wall curl_cpu < <(measure curl --http1.0 -s -o "$dir/out" "$url")

awk -v mb="$(awk -v b="$expected" 'BEGIN{print b/1e6}')" \
    -v vw="$vt_wall" -v vc="$vt_cpu" -v cw="$curl_wall" -v cc="$curl_cpu" 'BEGIN {
  vr = mb / vw; cr = mb / cw
  vcpu = vc * 100 / mb; ccpu = cc * 100 / mb
  printf "%-12s %12s %22s\n", "client", "MB/s", "CPU s per 100 MB"
  printf "%-12s %12.1f %22.3f\n", "THttpCli", vr, vcpu
  printf "%-12s %12.1f %22.3f\n", "curl", cr, ccpu
  printf "%-12s %11.0f%% %21.0f%%\n", "ratio", 100 * vr / cr, (ccpu > 0 ? 100 * vcpu / ccpu : 0)
  ok = (vr >= 0.9 * cr) && (vcpu <= ccpu)
  printf "goal (>= 90%% of curl throughput, no more CPU per byte): %s\n", ok ? "met" : "missed"
}'
