#!/usr/bin/env bash
# Installs what is missing, builds everything, runs every test (GUI tests
# offscreen, the install test included), then builds the Debian package, lists
# its control data and content, and has lintian judge it: an error or a
# warning fails the run (its notes are shown).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
BRASKON_WERROR=ON bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
cd build
ctest --output-on-failure -j2 --timeout 600

rm -f braskon_*.deb
cpack -G DEB > cpack.log || { cat cpack.log; exit 1; }
deb="$(ls braskon_*.deb)"
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
echo "== lintian $deb"
lintian --info --display-info --fail-on error,warning "$deb"
echo "lintian: keine Fehler, keine Warnungen"
