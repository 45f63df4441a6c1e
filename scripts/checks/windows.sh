#!/usr/bin/env bash
# The Windows build: cross-built with MinGW-w64 into build-win, its unit
# tests run under Wine (the window tests on Xvfb), then updater.exe itself
# under Wine on Xvfb: without arguments it ends with 0 and maps no window;
# with "x" it shows its window titled 软件更新, which Esc closes with exit
# code 0; with "-g" it updates a demo application from nginx on loopback,
# replacing files in use (itself among them), and a failed update leaves
# the folder as it was.
# The program is built for port 18380, which ctest's update tests use too:
# run this after ctest, never beside it.
# Usage: scripts/checks/windows.sh [BUILD-DIR]
#   With BUILD-DIR (a cross build that is already built), only the program
#   checks run, on its updater.exe.
set -euo pipefail
cd "$(dirname "$0")/../.."

# The program checks proper, on the display that xvfb-run opened.
# It runs as a second copy of this script under xvfb-run, in the caller's
# Wine prefix.
if [ "${1:-}" = "--on-display" ]; then
  wine=$2 exe=$3 work=$4 hold=$5
  shot=${WINDOWS_SHOT:-$PWD/build-win/windows-idle.png}
  mkdir -p "$(dirname "$shot")"
  pids=()
  trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
  fail() { echo "FAIL: $*" >&2; exit 1; }

  # No arguments: exit code 0, and no window is mapped.
  xev -root -event substructure >"$work/xev" 2>&1 &
  xev=$!; pids+=("$xev")
  sleep 0.5
  code=0
  timeout 60 "$wine" "$exe" || code=$?
  sleep 0.5
  kill "$xev" 2>/dev/null || true
  [ "$code" -eq 0 ] || fail "no arguments: exit code $code"
  if grep -q MapNotify "$work/xev"; then fail "no arguments mapped a window"; fi
  echo "no arguments: exit 0, no window mapped"

  # Any other argument: the idle window titled 软件更新; Esc ends it with 0.
  "$wine" "$exe" x &
  pid=$!; pids+=("$pid")
  win=$(timeout 60 xdotool search --sync --onlyvisible --name '^软件更新$' | head -1) || true
  [ -n "$win" ] || fail "no window titled 软件更新"
  title=$(xdotool getwindowname "$win")
  [ "$title" = "软件更新" ] || fail "title is '$title'"
  # Wine draws the frame and caption itself (there is no window manager),
  # so the X window is the whole window: 380 by 74.
  geometry=$(xdotool getwindowgeometry "$win" | sed -n 's/.*Geometry: //p')
  [ "$geometry" = "380x74" ] || fail "outer size $geometry, not 380x74"
  sleep 1
  import -window root "$shot"
  xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  sleep 0.3
  xdotool key --window "$win" Escape
  code=0
  for _ in $(seq 200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "Esc did not end the program"
  wait "$pid" || code=$?
  [ "$code" -eq 0 ] || fail "Esc: exit code $code"
  echo "idle window: titled 软件更新, Esc ends it with 0 (screenshot: $shot)"

  # Whole updates from nginx on loopback.
  source scripts/lib/nginx.sh
  source scripts/lib/demo_app.sh
  port=18380
  # The program's start-up removes the old copies left by the last update.
  next_start_cleans=1
  trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; nginx_stop' EXIT
  # The application lives in a folder whose name needs Unicode.
  app="$work/应用 程序"
  server="$work/server"
  winpath() { local p=$1; echo "Z:${p//\//\\}"; }

  # A fresh application folder, with this updater.exe, and an empty server.
  setup() {
    case=$1
    nginx_stop
    rm -rf "$app" "$server"
    mkdir -p "$server/files"
    demo_app_layout "$app" "$exe"
    mv "$app/updater" "$app/updater.exe"
    demo_snapshot "$app" >"$work/before"
  }
  fail() { echo "FAIL [${case:-}]: $*" >&2; exit 1; }

  # Runs updater.exe -g, watching its titles (in $work/titles) until the
  # message box 信息： comes up, which Return closes. Wine's trace of the
  # message box gives its text (non-ASCII as \XXXX escapes) in
  # $work/trace. The exit code lands in $code.
  run_update() {
    WINEDEBUG=trace+msgbox "$wine" "$app/updater.exe" -g 2>"$work/trace" &
    local pid=$! win="" box="" name last="" i
    pids+=("$pid")
    : >"$work/titles"
    for i in $(seq 6000); do
      kill -0 "$pid" 2>/dev/null || break
      [ -n "$win" ] || win=$(xdotool search --onlyvisible --name '^(软件更新|正在)' 2>/dev/null | head -1 || true)
      if [ -n "$win" ]; then
        name=$(xdotool getwindowname "$win" 2>/dev/null || true)
        [ -n "$name" ] && [ "$name" != "$last" ] && echo "$name" >>"$work/titles" && last=$name
      fi
      box=$(xdotool search --onlyvisible --name '^信息：$' 2>/dev/null | head -1 || true)
      [ -n "$box" ] && break
      sleep 0.02
    done
    [ -n "$box" ] || fail "no message box 信息：; titles: $(tr '\n' ' ' <"$work/titles")"
    sleep 0.3
    xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
    sleep 0.2
    xdotool key --window "$box" Return
    for i in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "Return did not end the program"
    code=0
    wait "$pid" || code=$?
  }

  # Whether the message box said `text`: Wine traces it with every
  # character outside ASCII as \XXXX (lower-case hex).
  said() {
    local escaped
    escaped=$(python3 -c 'import sys; print("".join(c if ord(c) < 128 else "\\%04x" % ord(c) for c in sys.argv[1]))' "$1")
    grep -qF "$escaped" "$work/trace"
  }

  # A good update that carries updater.exe itself (running, so Windows can
  # rename it but not delete it) and replaces a file that another program
  # holds open without write sharing (as a loaded library is held), with a
  # file whose name needs Unicode.
  setup "update with files in use"
  zip="$server/files/velmarost.zip"
  demo_update_archive "$zip"
  mkdir -p "$work/extra/文档"
  printf '说明：第二版\n' >"$work/extra/文档/说明.txt"
  { cat "$exe"; printf 'updater 2.0\n'; } >"$work/extra/updater.exe"
  # Python stores non-ASCII names with the UTF-8 flag, which Info-ZIP's zip
  # leaves unset on a UTF-8 system.
  (cd "$work/extra" && python3 - "$zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a", zipfile.ZIP_DEFLATED) as z:
    # A file's folder comes as an entry of its own before the file.
    z.write("文档")
    z.write("文档/说明.txt")
    z.write("updater.exe")
for info in zipfile.ZipFile(sys.argv[1]).infolist():
    if info.filename.startswith("文档") and not info.flag_bits & 0x800:
        sys.exit("no UTF-8 flag on " + info.filename)
PY
  ) || fail "cannot add to the archive"
  rm -f "$work/ready" "$work/stop"
  "$wine" "$hold" "$(winpath "$app/data/settings.ini")" read-delete \
    "$(winpath "$work/ready")" "$(winpath "$work/stop")" &
  holder=$!; pids+=("$holder")
  for _ in $(seq 300); do [ -e "$work/ready" ] && break; sleep 0.1; done
  [ -e "$work/ready" ] || fail "the holder did not open settings.ini"
  nginx_start "$server" "$port" 150k
  run_update
  [ "$code" -eq 0 ] || fail "exit code $code; titles: $(tr '\n' ' ' <"$work/titles")"
  said "更新完毕，请重新打开软件！" || fail "the message box did not say 更新完毕"
  grep -q '^正在下载更新文件：[0-9]*%$' "$work/titles" || fail "no download title: $(tr '\n' ' ' <"$work/titles")"
  grep -q '^正在安装更新文件：100%$' "$work/titles" || fail "no install title: $(tr '\n' ' ' <"$work/titles")"
  grep -q 'Velmarost 2.0' "$app/app.sh" || fail "app.sh not updated"
  grep -q 'version=2' "$app/data/settings.ini" || fail "the held settings.ini not updated"
  grep -q 'notes the user keeps' "$app/data/notes.txt" || fail "notes.txt lost"
  cmp -s "$app/data/assets.bin" <(unzip -p "$zip" data/assets.bin) || fail "assets.bin differs"
  cmp -s "$app/文档/说明.txt" "$work/extra/文档/说明.txt" || fail "文档/说明.txt missing or wrong"
  cmp -s "$app/updater.exe" "$work/extra/updater.exe" || fail "updater.exe not replaced"
  [ ! -e "$app/temp.temp" ] || fail "temp.temp left behind"
  [ ! -e "$app/.update-staging" ] || fail "the staging folder left behind"
  echo "update: exit 0, titles and message seen, files in use replaced, Unicode names intact"
  echo "  left for the next start: $(ls -A "$app/.update-in-use" 2>/dev/null | tr '\n' ' ')"
  touch "$work/stop"
  wait "$holder" || fail "the holder failed"
  # The next start removes the old copies that were in use.
  code=0
  timeout 60 "$wine" "$app/updater.exe" || code=$?
  [ "$code" -eq 0 ] || fail "next start: exit code $code"
  if ((next_start_cleans)); then
    [ ! -e "$app/.update-in-use" ] || fail "old copies left after the next start: $(ls -A "$app/.update-in-use")"
    echo "next start: the old copies are gone"
  else
    echo "next start: exit 0 (the removal of old copies is not yet part of start-up)"
  fi

  # Nothing at the address: the failure is reported, nothing changes.
  setup "not found"
  nginx_start "$server" "$port"
  run_update
  [ "$code" -eq 1 ] || fail "exit code $code"
  said "更新失败，请稍后重试！" || fail "the message box did not say 更新失败"
  demo_snapshot "$app" >"$work/now"
  diff -u "$work/before" "$work/now" >&2 || fail "the folder changed"
  [ ! -e "$app/temp.temp" ] || fail "temp.temp left behind"
  echo "failed update (404): exit 1, failure message, folder unchanged"
  exit 0
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
for tool in "$wine" "$wineserver" x86_64-w64-mingw32-g++-posix xvfb-run xdotool xev import; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  # The Wine server of our own prefix, and every Wine process in it.
  WINEPREFIX="$work/wine" "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEARCH=win64
# No prompts to install Wine's Mono or Gecko while the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot -i >/dev/null 2>&1 || fail "cannot make a Wine prefix"
# Wine draws window frames and captions itself, as Windows does, instead of
# leaving them to an X window manager (Xvfb has none).
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 ||
  fail "cannot set up the Wine prefix"
# Wine's own fonts have no Chinese characters; the caption borrows them from
# a system font, as a Chinese Windows does from its own.
cjk=$(fc-list :lang=zh file 2>/dev/null | head -1 | sed 's/: *$//')
if [ -n "$cjk" ]; then
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d "$(basename "$cjk")" /f >/dev/null 2>&1 || true
fi

# Runs a command under a fresh Xvfb display of its own, at most $1 seconds.
# Wine's desktop process takes the display of the first program in the
# prefix, so the Wine server is let end first: the programs started on the
# new display then get a desktop there.
on_display() {
  local seconds=$1; shift
  timeout 60 "$wineserver" -w || true
  timeout -k 10 "$seconds" xvfb-run -a -s "-screen 0 1024x768x24" "$@"
}

program_checks() {
  local build=$1
  local exe=$build/updater.exe hold=$build/tests/win32/hold_file.exe
  [ -f "$exe" ] || fail "no program at $exe"
  [ -f "$hold" ] || fail "no helper at $hold"
  local folder="$work/app"
  mkdir -p "$folder"
  cp "$exe" "$folder/updater.exe"
  on_display 360 bash "$0" --on-display "$wine" "$folder/updater.exe" "$work" "$hold"
}

if [ $# -eq 1 ]; then
  program_checks "$1"
  echo "windows: program checks passed"
  exit 0
fi
echo "== cross build (build-win)"
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DUPDATER_WERROR=ON -DUPDATE_URL=http://127.0.0.1:18380/files/velmarost.zip \
  >"$work/configure.log" || { cat "$work/configure.log"; fail "configure"; }
cmake --build build-win

echo "== unit tests under Wine"
exes=(build-win/tests/process/process_tests.exe build-win/tests/ui/ui_tests.exe
      build-win/tests/win32/win32_tests.exe build-win/tests/win32/win32_layer_tests.exe)
for exe in "${exes[@]}"; do
  timeout -k 10 300 "$wine" "$exe" --gtest_brief=1 || fail "$exe"
done
on_display 300 "$wine" build-win/tests/win32/win32_window_tests.exe --gtest_brief=1 ||
  fail win32_window_tests

echo "== updater.exe under Wine"
program_checks build-win
echo "windows: all checks passed"
