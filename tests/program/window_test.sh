#!/usr/bin/env bash
# The real program in a GTK window under Xvfb; run it through xvfb-run.
# Usage: window_test.sh PATH/TO/updater SCREENSHOT.png
set -euo pipefail
updater=$1
shot=$2
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  [ -n "${xev:-}" ] && kill "$xev" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY"

# No arguments: exits 0 quickly and never maps a window.
xev -root -event substructure >"$work/xev" 2>&1 &
xev=$!
sleep 0.3
start=$(date +%s%N)
"$updater" || fail "no arguments: exit code $?"
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
sleep 0.3
kill "$xev"; wait "$xev" 2>/dev/null || true; xev=
(( elapsed_ms < 1000 )) || fail "no arguments took ${elapsed_ms} ms"
if grep -q MapNotify "$work/xev"; then fail "no arguments mapped a window"; fi

# Any other argument: one window titled 软件更新, not resizable; Esc closes it.
"$updater" x &
pid=$!
win=$(xdotool search --sync --onlyvisible --name '^软件更新$' | head -1)
[ -n "$win" ] || fail "no window titled 软件更新"
count=$(xdotool search --onlyvisible --name '^软件更新$' | wc -l)
[ "$count" -eq 1 ] || fail "$count windows titled 软件更新"
hints=$(xprop -id "$win" WM_NORMAL_HINTS)
min=$(sed -n 's/.*minimum size: \([0-9]* by [0-9]*\).*/\1/p' <<<"$hints")
max=$(sed -n 's/.*maximum size: \([0-9]* by [0-9]*\).*/\1/p' <<<"$hints")
[ -n "$min" ] && [ "$min" = "$max" ] || fail "window is resizable: $hints"
sleep 0.3
import -window root "$shot"
xdotool windowfocus --sync "$win"
xdotool key Escape
code=0
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
wait "$pid" || code=$?
pid=
[ "$code" -eq 0 ] || fail "Esc: exit code $code"
echo "GTK window: ok (screenshot in $shot)"
