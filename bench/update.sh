#!/usr/bin/env bash
# The whole update, against the pipeline a script would use in its place:
#   curl -s -o temp.temp URL && bsdtar -xf temp.temp -C DIR && rm temp.temp
# A realistic archive (about 10,000 files, 200 MB) is served by nginx on
# loopback and unpacked over a folder holding the same files; the updater runs
# on the terminal with no one to wait for its message. Prints the median of
# RUNS runs of each, their ratio and the updater's peak memory, then the
# window thread's share of a core while a throttled download runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib/nginx.sh
runs=${RUNS:-5}
port=18390
url="http://127.0.0.1:$port/files/velmarost.zip"
work=${WORK:-/tmp/updater-bench-update}

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DUPDATE_URL="$url" >/dev/null
cmake --build build-bench --target updater >/dev/null

mkdir -p "$work/server/files"
archive="$work/server/files/velmarost.zip"
if [ ! -f "$archive" ]; then
  echo "Building the archive (once)..."
  python3 - "$work/list" <<'PY'
import os, sys
picked, total = [], 0
roots = ["/usr/share/doc", "/usr/include", "/usr/lib/gcc", "/usr/share/locale",
         "/usr/lib/x86_64-linux-gnu"]
for root in roots:
    for d, _, files in os.walk(root):
        for f in files:
            p = os.path.join(d, f)
            if os.path.islink(p) or not os.path.isfile(p):
                continue
            s = os.path.getsize(p)
            if len(picked) >= 10000 or total + s > 200 * 2**20:
                continue
            picked.append(p[1:]); total += s
with open(sys.argv[1], "w") as out:
    out.write("\n".join(picked) + "\n")
print(f"{len(picked)} files, {total / 2**20:.0f} MiB")
PY
  (cd / && zip -q "$archive" -@ <"$work/list")
  rm -rf "$work/template" && mkdir -p "$work/template"
  bsdtar -xf "$archive" -C "$work/template"
fi
echo "archive: $(du -m "$archive" | cut -f1) MiB, $(unzip -Z1 "$archive" | wc -l) entries"

trap nginx_stop EXIT
# Several workers, as a real server serves connections in parallel.
export NGINX_WORKERS=auto
chmod -R a+rX "$work/server"
nginx_start "$work/server" "$port"

fresh() { rm -rf "$work/app"; cp -a "$work/template" "$work/app"; cp build-bench/updater "$work/app/"; sync; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

ours=() theirs=() memory=()
for i in $(seq "$runs"); do
  fresh
  /usr/bin/time -f '%e %M' -o "$work/time" \
    env -u DISPLAY -u WAYLAND_DISPLAY "$work/app/updater" -g </dev/null >/dev/null
  read -r t m <"$work/time"; ours+=("$t"); memory+=("$m")
  [ ! -e "$work/app/temp.temp" ] || { echo "the update failed" >&2; exit 1; }
  fresh
  start=$(date +%s.%N)
  (cd "$work/app" && curl -s -o temp.temp "$url" && bsdtar -xf temp.temp -C "$work/app" && rm temp.temp)
  theirs+=("$(echo "$(date +%s.%N) - $start" | bc)")
  echo "run $i: updater ${ours[-1]} s (${memory[-1]} KiB peak), curl+bsdtar ${theirs[-1]} s"
done
o=$(printf '%s\n' "${ours[@]}" | median)
p=$(printf '%s\n' "${theirs[@]}" | median)
m=$(printf '%s\n' "${memory[@]}" | median)
echo "median: updater $o s, curl+bsdtar $p s, ratio $(echo "scale=3; $o / $p" | bc) (goal <= 0.7)"
echo "updater peak memory: $((m / 1024)) MiB (goal < 40)"

# The window thread while a throttled download runs: its CPU time over ten
# seconds of ticks.
nginx_stop
nginx_start "$work/server" "$port" 1m
fresh
env -u DISPLAY -u WAYLAND_DISPLAY "$work/app/updater" -g </dev/null >/dev/null &
pid=$!
sleep 2
ticks() { awk '{print $14 + $15}' "/proc/$pid/task/$pid/stat"; }
t0=$(ticks); s0=$(date +%s.%N)
sleep 10
t1=$(ticks); s1=$(date +%s.%N)
kill -INT "$pid"; wait "$pid" || true
hz=$(getconf CLK_TCK)
echo "window thread: $(echo "scale=2; 100 * ($t1 - $t0) / $hz / ($s1 - $s0)" | bc) % of a core during a throttled download (goal < 1)"
