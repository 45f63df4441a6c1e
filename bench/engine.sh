#!/usr/bin/env bash
# Times the download engine against curl on the same nginx, in the same run:
#   1. a 200 MB file over 5 connections (goal: engine <= 0.8 x curl's time);
#   2. a 20 MB file from a server capping each reply at 4 MB/s, as a
#      congested link does (goal: engine >= 4.5 x faster than curl);
#   3. the engine's peak memory on the 200 MB file against the same tool
#      doing nothing (goal: within 8 MiB).
# Each time is the median of RUNS runs (5 unless set), curl and the engine
# taking turns. Usage: bench/engine.sh [build-dir]   (default: build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
runs=${RUNS:-5}
connections=5

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target engine_fetch >/dev/null
fetch=$(find "$(realpath "$build")" -name engine_fetch -type f -perm -u+x | head -n 1)

work=$(mktemp -d "${TMPDIR:-/tmp}/engine-bench.XXXXXX")
nginx_pid=""
cleanup() {
  if [ -n "$nginx_pid" ]; then
    kill "$nginx_pid" 2>/dev/null || true
    wait "$nginx_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

mkdir -p "$work/www" "$work/nginx" "$work/out"
head -c $((200 * 1024 * 1024)) /dev/urandom >"$work/www/big.bin"
head -c $((20 * 1024 * 1024)) /dev/urandom >"$work/www/mid.bin"

# A server serves its connections in parallel; nginx does so with several
# worker processes, which need a master. Run as root, the workers take
# nginx's unprivileged user, so the served files are made world-readable.
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/"*

port=$(free_port)
capped=$(free_port)
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
master_process on;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 256; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type application/octet-stream;
  sendfile on;
  server { listen 127.0.0.1:$port; root $work/www; }
  server { listen 127.0.0.1:$capped; root $work/www; limit_rate 4m; }
}
EOF
/usr/sbin/nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
for _ in $(seq 100); do
  curl -sf -o /dev/null "http://127.0.0.1:$port/mid.bin" -r 0-0 &&
    curl -sf -o /dev/null "http://127.0.0.1:$capped/mid.bin" -r 0-0 && break
  sleep 0.1
done

# Prints the wall time of one command in seconds.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs curl and the engine in turns on one address; prints both medians.
compare() {
  local url=$1 name=$2 curl_times="" engine_times=""
  for _ in $(seq "$runs"); do
    rm -f "$work/out/curl" "$work/out/engine"
    curl_times+="$(seconds curl -s -o "$work/out/curl" "$url")"$'\n'
    engine_times+="$(seconds "$fetch" "$url" "$work/out/engine" "$connections")"$'\n'
    cmp -s "$work/out/curl" "$work/www/$name" || { echo "curl's copy differs" >&2; exit 1; }
    cmp -s "$work/out/engine" "$work/www/$name" || { echo "the engine's copy differs" >&2; exit 1; }
  done
  echo "$(printf '%s' "$curl_times" | median) $(printf '%s' "$engine_times" | median)"
}

# Prints the quotient of two numbers.
divide() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", a / b }'; }
# Prints "met" when the awk condition holds, otherwise "MISSED".
verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }

echo "engine benchmark: median of $runs runs, $connections connections, nginx on loopback"

result=$(compare "http://127.0.0.1:$port/big.bin" big.bin)
read -r curl_t engine_t <<<"$result"
ratio=$(divide "$engine_t" "$curl_t")
printf '200 MB:            curl %6.3f s  engine %6.3f s  engine/curl %s  (goal <= 0.8: %s)\n' \
  "$curl_t" "$engine_t" "$ratio" "$(verdict "$ratio <= 0.8")"

# nginx lets each reply have its first second's worth at once and paces the
# rest, so curl takes about 4 s; 5 parts of 4 MB each may come almost at once.
result=$(compare "http://127.0.0.1:$capped/mid.bin" mid.bin)
read -r curl_t engine_t <<<"$result"
speedup=$(divide "$curl_t" "$engine_t")
printf '20 MB at 4 MB/s:   curl %6.3f s  engine %6.3f s  curl/engine %s  (goal >= 4.5: %s)\n' \
  "$curl_t" "$engine_t" "$speedup" "$(verdict "$speedup >= 4.5")"

peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
baseline=$(peak "$fetch" --idle)
rm -f "$work/out/engine"
busy=$(peak "$fetch" "http://127.0.0.1:$port/big.bin" "$work/out/engine" "$connections")
extra=$((busy - baseline))
printf 'peak memory:       idle %d KiB  200 MB download %d KiB  extra %d KiB  (goal <= 8192: %s)\n' \
  "$baseline" "$busy" "$extra" "$(verdict "$extra <= 8192")"
