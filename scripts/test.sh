#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the plain build, the
# build with AddressSanitizer and UndefinedBehaviorSanitizer, then each check
# under scripts/checks (thread sanitizer, fuzzers, window tests under Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
common=(-G Ninja -DUPDATER_WERROR=ON -DUPDATE_URL=http://127.0.0.1:18380/files/velmarost.zip)

echo "== build and test (Release)"
cmake -S . -B build "${common[@]}" >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== build and test (address and undefined behaviour sanitizers)"
cmake -S . -B build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUPDATER_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

for check in scripts/checks/*.sh; do
  [ -e "$check" ] || continue
  echo "== $(basename "$check" .sh)"
  bash "$check"
done
echo "== all tests passed"
