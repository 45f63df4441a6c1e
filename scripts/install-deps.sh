#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian
# machine. Safe to run again; does nothing when all is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev googletest
  clang libclang-rt-14-dev llvm
  zlib1g-dev libminizip-dev libgtk-3-dev
  nginx-light python3 zip unzip libarchive-tools curl
  xvfb xauth xdotool x11-utils x11-apps imagemagick
  procps time psmisc hyperfine bc
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  wine64 fonts-wine fonts-droid-fallback
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# The Windows build fetches a source package with apt-get download, which
# needs the package lists even when nothing is missing.
if ((${#missing[@]})) || ! compgen -G '/var/lib/apt/lists/*_Packages' >/dev/null; then
  $sudo apt-get update -qq
fi
if ((${#missing[@]})); then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
# nginx-light's package starts a system nginx on port 80; the tests run their
# own instances on loopback ports and need nothing of it.
