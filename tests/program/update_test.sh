#!/usr/bin/env bash
# Whole updates through the real program against nginx on loopback.
# Usage: update_test.sh terminal|window PATH/TO/updater UPDATE_URL
# The window mode runs under xvfb-run. Exits 77 (skipped) when the program
# was built for an address that is not on loopback.
set -euo pipefail
mode=$1
updater=$2
url=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/nginx.sh"
source "$here/../../scripts/lib/demo_app.sh"

if [[ ! $url =~ ^http://127\.0\.0\.1:([0-9]+)/files/velmarost\.zip$ ]]; then
  echo "SKIP: the program was built for $url, not for loopback"
  exit 77
fi
port=${BASH_REMATCH[1]}
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  nginx_stop
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL [$case]: $*" >&2; exit 1; }

if [ "$mode" = terminal ]; then
  unset DISPLAY WAYLAND_DISPLAY
else
  [ -n "${DISPLAY:-}" ] || { echo "FAIL: no DISPLAY" >&2; exit 1; }
fi

# A fresh application folder and server root for one case.
setup() {
  case=$1
  nginx_stop
  rm -rf "$work/app" "$work/server"
  mkdir -p "$work/server/files"
  demo_app_layout "$work/app" "$updater"
  demo_snapshot "$work/app" >"$work/before"
}

expect_unchanged() {
  demo_snapshot "$work/app" | grep -v ' temp\.temp$' >"$work/now" || true
  diff -u "$work/before" "$work/now" >&2 || fail "the folder changed"
}

expect_updated() {
  grep -q 'Velmarost 2.0' "$work/app/app.sh" || fail "app.sh not updated"
  grep -q 'version=2' "$work/app/data/settings.ini" || fail "settings.ini not updated"
  [ -f "$work/app/plugins/export.txt" ] || fail "plugins/export.txt missing"
  grep -q 'notes the user keeps' "$work/app/data/notes.txt" || fail "notes.txt lost"
  cmp -s "$work/app/data/assets.bin" <(unzip -p "$work/server/files/velmarost.zip" data/assets.bin) ||
    fail "assets.bin differs from the archive"
  local left
  left=$(find "$work/app" -name 'temp*.temp' -o -name '.*staging*' | head -1)
  [ -z "$left" ] || fail "left behind: $left"
}

# Runs the update on the terminal; stdout in $work/out, exit code in $code.
run_terminal() {
  code=0
  (cd "$work/app" && timeout 120 ./updater -g </dev/null >"$work/out" 2>"$work/err") || code=$?
}

# Runs the update in the window, watching its titles (in $work/titles) until
# the message box 信息： comes up, which is closed with Return.
run_window() {
  (cd "$work/app" && exec ./updater -g) &
  pid=$!
  : >"$work/titles"
  local win="" box="" name last="" i
  for i in $(seq 3000); do
    kill -0 "$pid" 2>/dev/null || break
    [ -n "$win" ] || win=$(xdotool search --onlyvisible --name '^(软件更新|正在)' 2>/dev/null | head -1 || true)
    if [ -n "$win" ]; then
      name=$(xdotool getwindowname "$win" 2>/dev/null || true)
      [ -n "$name" ] && [ "$name" != "$last" ] && echo "$name" >>"$work/titles" && last=$name
    fi
    box=$(xdotool search --onlyvisible --name '^信息：$' 2>/dev/null | head -1 || true)
    [ -n "$box" ] && break
    sleep 0.01
  done
  [ -n "$box" ] || fail "no message box 信息：; titles: $(tr '\n' ' ' <"$work/titles")"
  import -window root "$work/box.png" 2>/dev/null || true
  [ -n "${SHOT:-}" ] && cp "$work/box.png" "$SHOT"
  xdotool windowfocus --sync "$box" key Return
  code=0
  wait "$pid" || code=$?
  pid=""
}

if [ "$mode" = terminal ]; then
  # A good update: progress titles, then the message, each on its own line.
  setup "good update"
  demo_update_archive "$work/server/files/velmarost.zip"
  # Slow enough for the 10 ms ticks to show the download.
  nginx_start "$work/server" "$port" 40k
  run_terminal
  [ "$code" -eq 0 ] || fail "exit code $code: $(cat "$work/err")"
  expect_updated
  awk '/^正在下载更新文件：[0-9]+%$/ && !i && !m {d=1}
       /^正在安装更新文件：[0-9]+%$/ && d && !m {i=1}
       /^更新完毕，请重新打开软件！$/ && i {m=1}
       END {exit !(d && i && m)}' "$work/out" ||
    fail "titles out of order: $(tr '\n' '|' <"$work/out")"
  grep -q '^正在安装更新文件：100%$' "$work/out" || fail "no 100% install title"

  # Nothing at the address: the failure is reported, nothing changes.
  setup "not found"
  nginx_start "$work/server" "$port"
  run_terminal
  [ "$code" -eq 1 ] || fail "exit code $code"
  [ "$(tail -1 "$work/out")" = "更新失败，请稍后重试！" ] || fail "last line: $(tail -1 "$work/out")"
  expect_unchanged

  # A corrupt archive: nothing is installed, the download is removed.
  setup "corrupt archive"
  demo_update_archive "$work/server/files/velmarost.zip"
  size=$(stat -c %s "$work/server/files/velmarost.zip")
  printf 'XXXXXXXXXXXXXXXX' | dd of="$work/server/files/velmarost.zip" bs=1 \
    seek=$((size / 2)) conv=notrunc status=none
  nginx_start "$work/server" "$port"
  run_terminal
  [ "$code" -eq 1 ] || fail "exit code $code"
  [ "$(tail -1 "$work/out")" = "更新失败，请稍后重试！" ] || fail "last line: $(tail -1 "$work/out")"
  expect_unchanged
  [ ! -e "$work/app/temp.temp" ] || fail "temp.temp left behind"

  # A leftover temp.temp of an interrupted run: the new archive is installed
  # and no leftover remains.
  setup "leftover temp.temp"
  demo_update_archive "$work/server/files/velmarost.zip"
  printf 'an old, broken download' >"$work/app/temp.temp"
  nginx_start "$work/server" "$port"
  run_terminal
  [ "$code" -eq 0 ] || fail "exit code $code"
  expect_updated
  echo "terminal updates: ok"
else
  # A good update in the window, the message box closed with Return.
  setup "good update in the window"
  demo_update_archive "$work/server/files/velmarost.zip"
  nginx_start "$work/server" "$port" 40k
  run_window
  [ "$code" -eq 0 ] || fail "exit code $code"
  expect_updated
  grep -q '^正在下载更新文件：[0-9]*%$' "$work/titles" || fail "no download title seen: $(tr '\n' ' ' <"$work/titles")"
  grep -q '^正在安装更新文件：100%$' "$work/titles" || fail "no install title seen: $(tr '\n' ' ' <"$work/titles")"

  # Esc during a slow download: exit 0, the folder as it was.
  setup "Esc during a slow download"
  demo_update_archive "$work/server/files/velmarost.zip"
  nginx_start "$work/server" "$port" 20k
  (cd "$work/app" && exec ./updater -g) &
  pid=$!
  win=$(xdotool search --sync --onlyvisible --name '^(软件更新|正在下载)' | head -1)
  for _ in $(seq 200); do
    case $(xdotool getwindowname "$win") in 正在下载更新文件：[1-9]*) break ;; esac
    sleep 0.05
  done
  xdotool windowfocus --sync "$win" key Escape
  code=0
  wait "$pid" || code=$?
  pid=""
  [ "$code" -eq 0 ] || fail "exit code $code"
  expect_unchanged
  echo "window updates: ok"
fi
