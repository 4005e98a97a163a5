#!/usr/bin/env bash
# Installs every Debian package the station, its tests and benchmarks need, and only those that
# are missing. Safe to run again: with everything present it changes nothing.
set -euo pipefail

packages=(
  g++ clang libclang-rt-14-dev cmake ninja-build pkg-config
  qt6-base-dev libqt6opengl6-dev libxkbcommon-dev libqt6sql6-sqlite qt6-charts-dev qt6-serialport-dev libgl-dev
  fonts-noto-cjk fonts-liberation2 xvfb xauth
  cups cups-client cups-bsd printer-driver-cups-pdf
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  sqlite3 python3 imagemagick poppler-utils
  sqlite3 libsqlite3-dev imagemagick poppler-utils
  dpkg-dev desktop-file-utils
  libmosquitto-dev mosquitto mosquitto-clients openssl
  mbpoll curl prometheus
  libzstd-dev
  lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "These packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
