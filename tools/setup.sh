#!/usr/bin/env bash
# Installs every Debian package that building and testing the launcher needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  cmake make
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 fonts-wine fonts-liberation
  googletest
  nginx
  zip unzip tar gzip python3 time
  xvfb xauth xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
# Debian starts nginx on install; the tests run their own instance.
if command -v systemctl >/dev/null 2>&1; then $SUDO systemctl disable --now nginx >/dev/null 2>&1 || true; fi
$SUDO service nginx stop >/dev/null 2>&1 || true
echo "setup: installed ${missing[*]}"
