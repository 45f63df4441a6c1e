#!/usr/bin/env bash
# Builds the updater and opens its idle window: in a GTK window where a
# display can be opened, on the terminal otherwise. Close it with Esc or the
# close box (Ctrl+C on the terminal).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target updater
exec build/updater x
