#!/usr/bin/env bash
# Installs what is missing, builds everything, runs every test (GUI tests
# offscreen, the install test included), then builds the Debian package and
# lists its control data and content.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j2 --timeout 600

rm -f braskon_*.deb
cpack -G DEB > cpack.log || { cat cpack.log; exit 1; }
deb="$(ls braskon_*.deb)"
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
