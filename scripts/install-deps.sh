#!/usr/bin/env bash
# Installs the Debian packages Braskon needs, in two sets:
#   scripts/install-deps.sh start   to build and run the programs: compiler,
#                                   CMake, Qt with its SQLite driver and window
#                                   system plugins, SQLite's headers, Qt's
#                                   German texts, a font
#   scripts/install-deps.sh test    the above, and what the tests and the
#                                   Debian package need: GoogleTest, the
#                                   PostgreSQL server programs (the tests start
#                                   a throw-away server of their own) and Qt's
#                                   PostgreSQL driver, help2man and a German
#                                   locale source for the manual pages, lintian,
#                                   file, desktop-file-utils, AppStream, groff,
#                                   poppler's tools (the tests read the text
#                                   of the PDF files the program writes),
#                                   dbus-daemon (a private session bus for the
#                                   desktop notification test)
# Says what is missing and installs it (with sudo when not run as root); does
# nothing when everything is there. Stops with a German message when it cannot
# install (neither root nor sudo, or apt-get fails).
set -euo pipefail

set_name="${1:-}"
START_PACKAGES=(
  build-essential cmake
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libqt6sql6-sqlite libsqlite3-dev qt6-qpa-plugins qt6-translations-l10n
  fonts-dejavu-core
)
TEST_PACKAGES=(
  libgtest-dev
  libqt6sql6-psql
  sqlite3
  help2man locales gzip
  file dpkg-dev lintian desktop-file-utils appstream groff-base
  poppler-utils
  dbus-daemon
)
case "$set_name" in
  start) packages=("${START_PACKAGES[@]}"); purpose="zum Bauen und Starten" ;;
  test) packages=("${START_PACKAGES[@]}" "${TEST_PACKAGES[@]}"); purpose="zum Bauen, Testen und Paketieren" ;;
  *) echo "Aufruf: $0 start|test" >&2; exit 2 ;;
esac

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# The tests need the server programs of any PostgreSQL version (initdb,
# pg_ctl), not a running server of the system.
need_pg_server=false
if [ "$set_name" = test ] && ! ls /usr/lib/postgresql/*/bin/initdb > /dev/null 2>&1; then
  need_pg_server=true
fi
if [ ${#missing[@]} -eq 0 ] && ! $need_pg_server; then
  exit 0
fi

what="${missing[*]}"
$need_pg_server && what="${what:+$what }postgresql-<Version> (ohne Cluster)"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo > /dev/null; then
    cat >&2 <<EOF
Braskon braucht ${purpose} diese Debian-Pakete, die hier fehlen:
  ${what}
Dieses Skript kann sie nicht installieren: es läuft nicht als root, und sudo gibt es nicht.
Als root installiert sie:  su -c '$(cd "$(dirname "$0")" && pwd)/install-deps.sh ${set_name}'
Danach bitte noch einmal aufrufen.
EOF
    exit 1
  fi
  SUDO=(sudo)
fi
apt() { "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@"; }
failed() {
  echo "Die Installation ${purpose} ist fehlgeschlagen (apt-get oder sudo, siehe oben); nichts wurde gebaut." >&2
  exit 1
}

echo "Braskon braucht ${purpose} diese Debian-Pakete; sie werden installiert${SUDO:+ (mit sudo)}:"
echo "  ${what}"
apt update -qq || failed
[ ${#missing[@]} -eq 0 ] || apt install -y -qq --no-install-recommends "${missing[@]}" || failed

if $need_pg_server; then
  # The server programs of the version Debian supports, without the cluster
  # that installing them would create and start: postgresql-common creates
  # one only while its createcluster.conf allows it, so that is switched off
  # for this one installation and then put back as it was.
  server="$(apt-cache depends postgresql 2> /dev/null | sed -n 's/^ *Depends: \(postgresql-[0-9][0-9]*\)$/\1/p' | head -n 1)"
  [ -n "$server" ] || { echo "Kein PostgreSQL-Serverpaket in den Paketquellen gefunden." >&2; exit 1; }
  apt install -y -qq --no-install-recommends postgresql-common || failed
  conf=/etc/postgresql-common/createcluster.conf
  saved="$(mktemp)"
  cp "$conf" "$saved"
  restore() { "${SUDO[@]}" cp "$saved" "$conf"; rm -f "$saved"; }
  trap restore EXIT
  echo "create_main_cluster = false" | "${SUDO[@]}" tee -a "$conf" > /dev/null
  apt install -y -qq --no-install-recommends "$server" || failed
  restore
  trap - EXIT
  echo "$server installiert, ohne Cluster; die Tests starten einen eigenen Server in einem Ordner unter /tmp."
fi
