#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Vidmora
# need; only what is missing is installed.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libqt6svg6 qt6-qpa-plugins libgl-dev
  libavformat-dev libavcodec-dev libavfilter-dev libswscale-dev libswresample-dev libavutil-dev
  libass-dev libuchardet-dev
  libmediainfo0v5 libsqlite3-0 libsqlite3-dev sqlite3 mplayer e2fsprogs qt6-translations-l10n
  xvfb xauth x11-utils imagemagick fonts-noto-cjk shared-mime-info xdg-utils
  ffmpeg time bc lintian
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
