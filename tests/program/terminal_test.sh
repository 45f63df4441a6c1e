#!/usr/bin/env bash
# The real program without a display: the window drawn on the terminal.
# Usage: terminal_test.sh PATH/TO/updater
set -euo pipefail
updater=$1
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# No arguments: ends at once, prints nothing.
start=$(date +%s%N)
out=$("$updater" </dev/null) || fail "no arguments: exit code $?"
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
[ -z "$out" ] || fail "no arguments printed: $out"
(( elapsed_ms < 1000 )) || fail "no arguments took ${elapsed_ms} ms"

# Any other argument: the idle window's title, until a signal closes it.
for signal in TERM INT; do
  "$updater" x >"$work/out" </dev/null &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$work/out" ] && break
    sleep 0.05
  done
  kill -"$signal" "$pid"
  code=0
  wait "$pid" || code=$?
  [ "$code" -eq 0 ] || fail "SIG$signal: exit code $code"
  [ "$(cat "$work/out")" = "软件更新" ] || fail "SIG$signal: printed '$(cat "$work/out")'"
done
echo "terminal window: ok"
