#!/usr/bin/env bash
# Fuzzes the ZIP component for 60 seconds: every input is unpacked into a
# scratch folder, and the run fails on a crash, a sanitizer report, a leak,
# or any file written outside that folder.
set -euo pipefail
cd "$(dirname "$0")/../.."

cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DUPDATER_FUZZ=ON \
  -DUPDATER_SANITIZE=address,undefined -DUPDATER_WERROR=ON >/dev/null
cmake --build build-fuzz --target archive_fuzzer

work=$(mktemp -d "${TMPDIR:-/tmp}/archive-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/seed-src/dir/sub" "$work/tmp" "$work/cwd"

# A small seed corpus: an ordinary tree, stored and deflated entries, a
# zip64 archive and names that try to leave the folder.
printf 'hello\n' >"$work/seed-src/a.txt"
printf 'deeper %.0s' {1..200} >"$work/seed-src/dir/sub/b.txt"
(cd "$work/seed-src" && zip -q -r "$work/corpus/tree.zip" . && zip -q -0 "$work/corpus/stored.zip" a.txt)
/usr/bin/python3 - "$work/corpus" <<'PY'
import sys, warnings, zipfile
warnings.simplefilter('ignore')  # the duplicate name is wanted
out = sys.argv[1]
with zipfile.ZipFile(out + '/names.zip', 'w', zipfile.ZIP_DEFLATED) as z:
    for name in ['ok.txt', '../up.txt', 'a/../../x', '/abs.txt', 'C:/d.txt',
                 '..\\\\back.txt', 'dir/', 'dir/f.txt', 'dir/f.txt']:
        z.writestr(name, b'x' * 40)
with zipfile.ZipFile(out + '/zip64.zip', 'w') as z:
    info = zipfile.ZipInfo('big.txt')
    info.compress_type = zipfile.ZIP_DEFLATED
    with z.open(info, 'w', force_zip64=True) as f:
        f.write(b'zip64 ' * 100)
link = zipfile.ZipInfo('link')
link.external_attr = (0o120777 << 16)
link.create_system = 3
with zipfile.ZipFile(out + '/link.zip', 'w') as z:
    z.writestr(link, b'/etc/passwd')
PY

marker="$work/started"
touch "$marker"
fuzzer=$(find "$PWD/build-fuzz" -name archive_fuzzer -type f -perm -u+x | head -n 1)
[ -n "$fuzzer" ] || { echo "fuzz-archive: archive_fuzzer was not built" >&2; exit 1; }
status=0
(cd "$work/cwd" && TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 \
  "$fuzzer" -max_total_time=60 -max_len=8192 -timeout=20 -rss_limit_mb=2048 \
  -print_final_stats=1 "$work/corpus" >"$work/fuzz.log" 2>&1) || status=$?
tail -n 15 "$work/fuzz.log"
if ((status != 0)); then
  echo "fuzz-archive: the fuzzer reported a finding (exit $status)" >&2
  ls "$work/cwd" >&2 || true
  exit 1
fi

# Nothing may have appeared beside the scratch folders: the fuzzer's own
# scratch root lives in $work/tmp, and a name that escaped it would have
# landed in the folders above it or in the working folder.
stray=$(find "$work" -newer "$marker" -mindepth 1 \
  ! -path "$work/tmp" ! -path "$work/tmp/archive-fuzz-*" \
  ! -path "$work/corpus" ! -path "$work/corpus/*" ! -path "$work/fuzz.log" \
  ! -path "$work/cwd" -print)
if [ -n "$stray" ]; then
  echo "fuzz-archive: files written outside the scratch folder:" >&2
  echo "$stray" >&2
  exit 1
fi
echo "fuzz-archive: no finding"
