#!/usr/bin/env bash
# Builds the Debian package vidmora_<version>_amd64.deb into the build folder
# (build/ unless another one is named) and prints its path.
# Usage: scripts/package.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
  scripts/build.sh
  dir=build
else
  dir=$1
  cmake --build "$dir" -j"$(nproc)"
fi
cd "$dir"
rm -f vidmora_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
deb=$(ls "$PWD"/vidmora_*.deb)

# CPack's Installed-Size counts more than the package holds. It is set again
# the way dpkg-gencontrol counts: each file in whole KiB, rounded up, and one
# for each folder and link.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -R "$deb" "$work/root"
size=$(cd "$work/root" && find . -path ./DEBIAN -prune -o -printf '%y %s\n' |
  awk '$1 == "f" { t += int(($2 + 1023) / 1024); next } { t += 1 } END { print t }')
sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$work/root/DEBIAN/control"
dpkg-deb --root-owner-group -Zxz -b "$work/root" "$deb" >/dev/null
echo "$deb"
