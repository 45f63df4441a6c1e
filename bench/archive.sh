#!/usr/bin/env bash
# Times archive::extract against bsdtar -xf and unzip -o on a realistic
# update: about 10,000 files and 400 MB unpacked, taken from what the
# machine has under /usr/share/doc, /usr/lib/gcc and /usr/include, zipped
# with deflate. Every tool unpacks into a fresh copy of a folder that holds
# older versions of the same files, as an update does. Each time is the
# median of RUNS runs (5 unless set), the tools taking turns; the script
# prints the ratios to bsdtar and unzip and each tool's peak memory.
# Goal: extract's time <= 0.75 x bsdtar's, peak memory under 32 MiB.
# Usage: bench/archive.sh [build-dir]   (default: build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-bench}
runs=${RUNS:-5}
max_files=${MAX_FILES:-10000}
max_bytes=${MAX_BYTES:-$((400 * 1000 * 1000))}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target archive_extract >/dev/null
tool=$(find "$(realpath "$build")" -name archive_extract -type f -perm -u+x | head -n 1)

work=$(mktemp -d "${TMPDIR:-/tmp}/archive-bench.XXXXXX")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

# The file list: regular readable files in a fixed order, up to the limits,
# with every directory on their way listed before them.
python3 - "$max_files" "$max_bytes" >"$work/list" <<'PY'
import os, sys
max_files, max_bytes = int(sys.argv[1]), int(sys.argv[2])
files, total = [], 0
# Many small documents and headers, then compiler files for the bulk.
for root, share in [('usr/share/doc', 0.5), ('usr/include', 0.85), ('usr/lib/gcc', 1.0)]:
    for folder, dirs, names in os.walk('/' + root):
        dirs.sort()
        for name in sorted(names):
            path = os.path.join(folder, name)
            if os.path.islink(path) or not os.path.isfile(path) or not os.access(path, os.R_OK):
                continue
            size = os.path.getsize(path)
            if len(files) >= max_files * share or total + size > max_bytes:
                continue
            files.append(path[1:])
            total += size
dirs = set()
for path in files:
    parent = os.path.dirname(path)
    while parent and parent not in dirs:
        dirs.add(parent)
        parent = os.path.dirname(parent)
for path in sorted(dirs | set(files)):
    print(path + '/' if path in dirs else path)
PY
(cd / && zip -q -6 "$work/update.zip" -@ <"$work/list")
files=$(grep -vc '/$' "$work/list")
unpacked=$(unzip -Zt "$work/update.zip" | awk '{print $3}')
packed=$(stat -c %s "$work/update.zip")
echo "archive: $files files, $((unpacked / 1000000)) MB unpacked, $((packed / 1000000)) MB packed"

# The older installation: the same tree with every file changed.
mkdir "$work/old"
unzip -q "$work/update.zip" -d "$work/old"
find "$work/old" -type f -exec sh -c 'for f; do printf "older version\n" >>"$f"; done' sh {} +

declare -A times memory
run_one() { # name command...
  local name=$1
  shift
  rm -rf "$work/target"
  cp -a "$work/old" "$work/target"
  sync
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M' -o "$work/mem" "$@" >"$work/out" 2>&1 || {
    echo "$name failed:" >&2
    cat "$work/out" >&2
    exit 1
  }
  end=$(date +%s%N)
  times[$name]+="$(((end - start) / 1000000)) "
  memory[$name]+="$(cat "$work/mem") "
}

for ((i = 1; i <= runs; i++)); do
  run_one extract "$tool" "$work/update.zip" "$work/target"
  # The result must be the new tree exactly, with the older files replaced.
  if ((i == 1)); then
    diff -r "$work/target/usr" /usr --brief 2>/dev/null | grep -v '^Only in /usr' | head -n 5 >"$work/diff" || true
    if [ -s "$work/diff" ]; then
      echo "extract left a different tree:" >&2
      cat "$work/diff" >&2
      exit 1
    fi
  fi
  run_one bsdtar bsdtar -xf "$work/update.zip" -C "$work/target"
  run_one unzip unzip -o -q "$work/update.zip" -d "$work/target"
done

median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
report() { # name
  local t m
  t=$(echo "${times[$1]}" | median)
  m=$(echo "${memory[$1]}" | median)
  awk -v n="$1" -v t="$t" -v m="$m" -v all="${times[$1]}" \
    'BEGIN {printf "%-8s median %7.2f s (runs in ms: %s)  peak memory %6.1f MiB\n", n, t / 1000, all, m / 1024}'
}
report extract
report bsdtar
report unzip
ext=$(echo "${times[extract]}" | median)
bsd=$(echo "${times[bsdtar]}" | median)
unz=$(echo "${times[unzip]}" | median)
awk -v e="$ext" -v b="$bsd" -v u="$unz" 'BEGIN {
  printf "extract / bsdtar = %.2f (goal <= 0.75)\nextract / unzip  = %.2f\n", e / b, e / u }'
