#!/usr/bin/env bash
# The main job: a complete update against a local server. Installs what it
# needs, builds the updater for an address on loopback, lays out a demo
# application folder (demo/app), serves an update for it with nginx, runs
# `updater -g` there (a GTK window where a display can be opened, the
# terminal otherwise) and prints what changed. Leaves nothing running.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/lib/nginx.sh
source scripts/lib/demo_app.sh

port=18380
url="http://127.0.0.1:$port/files/velmarost.zip"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DUPDATE_URL="$url" >/dev/null
cmake --build build --target updater

rm -rf demo
mkdir -p demo/server/files
demo_app_layout demo/app build/updater
demo_update_archive "$root/demo/server/files/velmarost.zip"
demo_snapshot demo/app >demo/before.txt

trap nginx_stop EXIT
# Each connection is held to 20 kB/s, so that the download can be watched.
nginx_start "$root/demo/server" "$port" 20k
echo "Serving the update at $url"
echo "Running demo/app/updater -g"
code=0
(cd demo/app && ./updater -g) || code=$?
nginx_stop

demo_snapshot demo/app >demo/after.txt
echo
echo "The updater ended with exit code $code. What changed in demo/app:"
demo_changes demo/before.txt demo/after.txt
[ ! -e demo/app/temp.temp ] && echo "  (no temp.temp left behind)"
exit "$code"
