#!/usr/bin/env bash
# Installs the Debian packages the program, its tests and its tools need, when missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite qt6-translations-l10n
  qt6-charts-dev libqt6opengl6-dev
  fonts-liberation
  sqlite3 libsqlite3-dev
  postgresql libqt6sql6-psql libpq-dev
  mdbtools mdbtools-dev libglib2.0-dev
  libqrencode-dev zbar-tools
  poppler-utils libreoffice-calc-nogui
  cups cups-bsd cups-client
  clang libclang-rt-14-dev
  xvfb xauth imagemagick xdotool x11-utils man-db
  dpkg-dev file lintian appstream desktop-file-utils
)

# `deps.sh windows`: what cross-building for Windows, its installer and its tests under Wine need.
if [ "${1:-}" = windows ]; then
  packages=(
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    cmake ninja-build pkg-config dpkg-dev patch autoconf automake libtool bison flex
    qt6-base-dev qt6-base-dev-tools qt6-translations-l10n
    wine64 nsis xvfb xauth x11-utils xdotool imagemagick sqlite3 fonts-liberation
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Instalando paquetes: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
