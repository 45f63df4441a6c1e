#!/usr/bin/env bash
# Fuzzes the download engine's reply-header reader and parser and its
# Location resolver for 60 seconds with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer. Fails on any finding (crash, leak, sanitizer
# report or time-out), leaving the reproducer in build-fuzz/download-fuzz.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DUPDATER_FUZZ=ON -DUPDATER_SANITIZE=address,undefined -DUPDATER_WERROR=ON >/dev/null
cmake --build "$build" --target download_fuzz
fuzzer=$(find "$(realpath "$build")" -name download_fuzz -type f -perm -u+x | head -n 1)

work="$build/download-fuzz"
rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
# A few well-formed headers and Locations give the fuzzer a head start.
printf 'HTTP/1.1 200 OK\r\nContent-Length: 123\r\n\r\nbody' >"$work/corpus/ok"
printf 'HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 5-14/15\r\n\r\n' \
  >"$work/corpus/range"
printf 'HTTP/1.1 302 Found\r\nLocation: ../x/y.zip?q=1\r\nSet-Cookie: a=b; Path=/\r\n\r\n' \
  >"$work/corpus/redirect"
printf 'HTTP/1.0 200 OK\nContent-Disposition: attachment; filename="a b.zip"\n\n' \
  >"$work/corpus/disposition"
printf '//other.example:81/p' >"$work/corpus/location"

# libFuzzer exits non-zero on a finding; set -e turns that into our failure.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$fuzzer" -max_total_time=60 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/findings/" "$work/corpus"
echo "download fuzzing: no finding in 60 s"
