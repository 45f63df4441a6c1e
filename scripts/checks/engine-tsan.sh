#!/usr/bin/env bash
# Runs the download engine's unit and integration tests under
# ThreadSanitizer; any report fails the check.
set -euo pipefail
cd "$(dirname "$0")/../.."

dir=build-tsan
cmake -S . -B "$dir" -G Ninja -DUPDATER_SANITIZE=thread -DUPDATER_WERROR=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target download_unit_tests engine_tests

# halt_on_error turns the first report into a failing exit status;
# second_deadlock_stack makes a lock-order report show both sides.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# Each test folder's tests are exactly the engine's, whatever their names:
# ctest run in a folder of the build tree runs only the tests defined there.
for tests in tests/download tests/engine; do
  echo "-- $tests under ThreadSanitizer"
  ctest --test-dir "$dir/$tests" --output-on-failure -j "$(nproc)" --timeout 600 \
    --no-tests=error
done
