# A small demo application and an update for it. Source this file.
#   demo_app_layout DIR UPDATER        the old version, with the updater beside it
#   demo_update_archive ZIP            the update: new versions and a new sub-folder
#   demo_snapshot DIR > FILE           one line per file: checksum and path
#   demo_changes BEFORE AFTER          what changed between two snapshots

demo_app_layout() {
  local dir=$1 updater=$2
  mkdir -p "$dir/data"
  cp "$updater" "$dir/updater"
  printf '#!/bin/sh\necho "Velmarost 1.0"\n' >"$dir/app.sh"
  chmod +x "$dir/app.sh"
  printf 'Velmarost 1.0\n' >"$dir/README.txt"
  printf 'version=1\ntheme=light\n' >"$dir/data/settings.ini"
  printf 'notes the user keeps\n' >"$dir/data/notes.txt"
}

demo_update_archive() {
  local zip=$1 src
  src=$(mktemp -d)
  mkdir -p "$src/data" "$src/plugins"
  printf '#!/bin/sh\necho "Velmarost 2.0"\n' >"$src/app.sh"
  chmod +x "$src/app.sh"
  printf 'Velmarost 2.0\nNew: an export plug-in.\n' >"$src/README.txt"
  printf 'version=2\ntheme=light\n' >"$src/data/settings.ini"
  printf 'export plug-in 1.0\n' >"$src/plugins/export.txt"
  # A little bulk, so that the download runs over several connections.
  head -c 300000 /dev/urandom >"$src/data/assets.bin"
  rm -f "$zip"
  (cd "$src" && zip -q -r "$zip" app.sh README.txt data plugins)
  rm -rf "$src"
}

demo_snapshot() {
  (cd "$1" && find . -type f ! -name updater -printf '%P\n' | LC_ALL=C sort |
    while IFS= read -r f; do printf '%s %s\n' "$(md5sum <"$f" | cut -c1-32)" "$f"; done)
}

demo_changes() {
  local before=$1 after=$2
  join -j 2 -a 1 -a 2 -e - -o 0,1.1,2.1 <(sort -k2 "$before") <(sort -k2 "$after") |
    while read -r path old new; do
      if [ "$old" = - ]; then echo "  added:     $path"
      elif [ "$new" = - ]; then echo "  removed:   $path"
      elif [ "$old" != "$new" ]; then echo "  updated:   $path"
      else echo "  unchanged: $path"
      fi
    done
}
