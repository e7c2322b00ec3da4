#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks what a user gets:
# the tree, --version/--help of the installed programs, the desktop file and
# the AppStream metainfo, the man pages (every option and command of --help
# in them), the bash completion of braskon-cli; then, as an unprivileged user
# with a read-only program folder, that braskon and braskon-cli share one
# database in the user's data folder, that the log lands in the state folder,
# and that a port the user may not open is reported with the hint to join its
# group only where that helps, else with its owner and mode; a database the
# user may only read is listed, shown and exported, and never changed.
#
#   install_test.sh BUILD_DIR VERSION
# Run as root, the user parts run as "nobody"; run as another user, they run
# as that user.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
VERSION="$2"

fail() { echo "FEHLER: $*" >&2; exit 1; }
check() { [ -e "$1" ] || fail "fehlt: ${1#"$STAGE"}"; }

WORK="$(mktemp -d)"
SIM_PID=""
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
  chmod -R u+w "$WORK" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"
STAGE="$WORK/stage"

# ---- the installed tree ----
DESTDIR="$STAGE" cmake --install "$BUILD" --prefix /usr > "$WORK/install.log"
for f in usr/bin/braskon usr/bin/braskon-cli usr/bin/braskon-sim \
         usr/share/applications/de.quentax.braskon.desktop \
         usr/share/metainfo/de.quentax.braskon.metainfo.xml \
         usr/share/man/man1/braskon.1.gz usr/share/man/man1/braskon-cli.1.gz usr/share/man/man1/braskon-sim.1.gz \
         usr/share/bash-completion/completions/braskon-cli \
         usr/share/doc/braskon/copyright usr/share/doc/braskon/changelog.Debian.gz; do
  check "$STAGE/$f"
done
for size in 16 22 24 32 48 64 128 256; do
  icon="$STAGE/usr/share/icons/hicolor/${size}x${size}/apps/braskon.png"
  check "$icon"
  # PNG header: width and height as 32-bit big-endian numbers at offset 16.
  [ "$(od -An -tu4 --endian=big -j16 -N8 "$icon" | tr -s ' ')" = " $size $size" ] \
    || fail "$icon ist nicht ${size}x${size}"
done
BIN="$STAGE/usr/bin"

# ---- --version and --help: stdout, status 0, German ----
export QT_QPA_PLATFORM=offscreen
for program in braskon braskon-cli braskon-sim; do
  out="$("$BIN/$program" --version)" || fail "$program --version: Status $?"
  [ "$out" = "$program $VERSION" ] || fail "$program --version gibt \"$out\""
  help="$("$BIN/$program" --help 2>/dev/null)" || fail "$program --help: Status $?"
  grep -q "^Aufruf: $program" <<<"$help" || fail "$program --help ist keine deutsche Hilfe"
done
MAN="$STAGE/usr/share/man/man1"
grep -q "version=\"$VERSION\"" "$STAGE/usr/share/metainfo/de.quentax.braskon.metainfo.xml" \
  || fail "Metainfo ohne Version $VERSION"

# ---- desktop integration, checked by the distribution's own tools ----
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$STAGE/usr/share/applications/de.quentax.braskon.desktop"
else
  echo "desktop-file-validate fehlt: übersprungen"
fi
if command -v appstreamcli > /dev/null; then
  appstreamcli validate --no-net --pedantic "$STAGE/usr/share/metainfo/de.quentax.braskon.metainfo.xml"
else
  echo "appstreamcli fehlt: übersprungen"
fi

# ---- the man pages: made from --help, so every option and command is in them ----
# normalized: one line, single blanks (line breaks of the page do not count).
normalized() { tr -s ' \n\t' '   '; }
for program in braskon braskon-cli braskon-sim; do
  page="$MAN/$program.1.gz"
  zcat "$page" | grep -q "Braskon $VERSION" || fail "Manpage $program ohne Version $VERSION"
  warnings="$(zcat "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -ww -z 2>&1)"
  [ -z "$warnings" ] || fail "Manpage $program: $warnings"
  shown="$(zcat "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -rLL=300n -P-cbou 2> /dev/null | normalized)"
  help="$("$BIN/$program" --help)"
  for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    grep -qF -- "$option" <<<"$shown" || fail "Manpage $program ohne die Option $option"
  done
  # The commands of braskon-cli: each usage as --help gives it (up to the gap before its text).
  if [ "$program" = braskon-cli ]; then
    commands="$(sed -n '/^Befehle:/,/^$/p' <<<"$help" | grep '^  [a-z]' | sed 's/^  //; s/   *.*//')"
    [ "$(wc -l <<<"$commands")" -ge 10 ] || fail "braskon-cli --help nennt kaum Befehle: $commands"
    while read -r usage; do
      grep -qF -- "$(normalized <<<"$usage" | sed 's/ $//')" <<<"$shown" || fail "Manpage braskon-cli ohne: $usage"
    done <<<"$commands"
  fi
done

# ---- as an unprivileged user, with a read-only program folder ----
chmod -R a-w "$STAGE"
# as_user HOME [NAME=VALUE...] PROGRAM ARGS...: a clean environment with
# every port pointing nowhere unless set, so the machine's own serial ports
# take no part.
as_user() {
  local home="$1"; shift
  local ports=()
  for n in 1 2 3 4 5 6 7 8 9; do ports+=("BRASKON_COM$n=/nonexistent/com$n"); done
  local run=(env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen "${ports[@]}" "$@")
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "${run[@]}"
  else
    "${run[@]}"
  fi
}
new_home() {
  local home="$WORK/home-$1"
  mkdir -p "$home"
  [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$home"
  echo "$home"
}

# The window fills an empty database with demo batteries; the command line
# then lists them: both use ~/.local/share/braskon.
HOME_A="$(new_home a)"
as_user "$HOME_A" "$BIN/braskon" --screenshot "$HOME_A/main.png" --demo 2> "$WORK/gui-a.err" \
  || { cat "$WORK/gui-a.err"; fail "braskon startet nicht als Benutzer ohne Rechte"; }
[ -f "$HOME_A/.local/share/braskon/braskon.db" ] || fail "keine Datenbank im Datenordner des Benutzers"
[ -f "$HOME_A/.local/state/braskon/log.txt" ] || fail "log.txt nicht im Zustandsordner des Benutzers"
listed="$(as_user "$HOME_A" "$BIN/braskon-cli" battery list)"
[ "$(wc -l <<<"$listed")" -eq 4 ] && grep -q "Empfänger-Akku Segler" <<<"$listed" \
  || fail "braskon-cli sieht die Akkus des Fensters nicht: $listed"

# The bash completion: commands and options, and the IDs from the user's database.
complete_line() {   # HOME LINE: the completions of LINE, one per line
  as_user "$1" PATH="$BIN:/usr/bin:/bin" bash -c '. "$0"; COMP_LINE="$1"; COMP_POINT=${#COMP_LINE}; _braskon_cli; printf "%s\n" "${COMPREPLY[@]}"' \
    "$STAGE/usr/share/bash-completion/completions/braskon-cli" "$2" | sort | tr '\n' ' '
}
for command in $(sed -n '/^Befehle:/,/^$/p' <<<"$("$BIN/braskon-cli" --help)" | grep -o '^  [a-z]*' | sort -u); do
  grep -qw -- "$command" <<<"$(complete_line "$HOME_A" "braskon-cli ")" || fail "Vervollständigung ohne den Befehl $command"
done
[ "$(complete_line "$HOME_A" "braskon-cli battery delete ")" = "1 2 3 4 " ] \
  || fail "Vervollständigung ohne die Akku-IDs der Datenbank: $(complete_line "$HOME_A" "braskon-cli battery delete ")"
[ "$(complete_line "$HOME_A" "braskon-cli battery add --type N")" = "NC NMH " ] || fail "Vervollständigung von --type"

# A battery added with the command line is there when the window starts: it
# finds a database that is not empty and adds no demo batteries.
HOME_B="$(new_home b)"
as_user "$HOME_B" "$BIN/braskon-cli" battery add --capacity 900 --type NMH --cells 4 --brand "Von der CLI" > /dev/null
as_user "$HOME_B" "$BIN/braskon" --screenshot "$HOME_B/main.png" --demo 2> "$WORK/gui-b.err" \
  || { cat "$WORK/gui-b.err"; fail "braskon startet nicht"; }
listed="$(as_user "$HOME_B" "$BIN/braskon-cli" battery list)"
[ "$(wc -l <<<"$listed")" -eq 1 ] && grep -q "Von der CLI" <<<"$listed" \
  || fail "das Fenster hat eine andere Datenbank geöffnet als braskon-cli: $listed"
[ ! -e "$BIN/database" ] || fail "Datenbankordner im Programmordner angelegt"

# A database folder the user may not write is opened read-only with a message,
# never swapped for another folder.
LOCKED="$WORK/locked"
mkdir "$LOCKED"
cp "$HOME_B/.local/share/braskon/braskon.db" "$LOCKED/"
chmod 755 "$LOCKED"; chmod 644 "$LOCKED/braskon.db"
[ "$(id -u)" -eq 0 ] || chmod a-w "$LOCKED" "$LOCKED/braskon.db"
as_user "$HOME_B" "$BIN/braskon-cli" --database "$LOCKED" battery list > "$WORK/locked.out" 2> "$WORK/locked.err" || true
grep -q "schreibgeschützt" "$WORK/locked.err" || fail "keine Meldung zum schreibgeschützten Datenbankordner: $(cat "$WORK/locked.err")"
[ ! -e "$HOME_B/.local/share/braskon/database" ] || fail "auf einen anderen Ordner ausgewichen"
grep -q "Von der CLI" "$WORK/locked.out" || fail "braskon-cli listet die schreibgeschützte Datenbank nicht: $(cat "$WORK/locked.err")"
# The window on it comes up (lists, no question that would have to write),
# a change is refused with the message, and the file stays as it was.
locked_sum="$(md5sum < "$LOCKED/braskon.db")"
as_user "$HOME_B" "$BIN/braskon" --database "$LOCKED" --screenshot "$HOME_B/locked.png" 2> "$WORK/locked-gui.err" \
  || { cat "$WORK/locked-gui.err"; fail "braskon startet nicht auf der schreibgeschützten Datenbank"; }
grep -q "schreibgeschützt" "$WORK/locked-gui.err" || fail "braskon meldet die schreibgeschützte Datenbank nicht"
grep -qi "readonly\|read-only" "$WORK/locked-gui.err" && fail "Meldung der Datenbank-Engine statt einer klaren: $(cat "$WORK/locked-gui.err")"
status=0
as_user "$HOME_B" "$BIN/braskon-cli" --database "$LOCKED" battery add --capacity 500 --type NC --cells 1 \
  > /dev/null 2> "$WORK/locked-add.err" || status=$?
[ "$status" -ne 0 ] && grep -q "schreibgeschützt: sie kann gelesen" "$WORK/locked-add.err" \
  || fail "Änderung an der schreibgeschützten Datenbank nicht klar abgelehnt: $(cat "$WORK/locked-add.err")"
[ "$(md5sum < "$LOCKED/braskon.db")" = "$locked_sum" ] || fail "schreibgeschützte Datenbank verändert"
# An empty folder that may not be written holds nothing to read: a clear reason.
EMPTY_LOCKED="$WORK/empty-locked"
mkdir "$EMPTY_LOCKED"; chmod 755 "$EMPTY_LOCKED"
[ "$(id -u)" -eq 0 ] || chmod a-w "$EMPTY_LOCKED"
for program in braskon-cli braskon; do
  args=(battery list); [ "$program" = braskon ] && args=(--screenshot "$HOME_B/empty.png")
  status=0
  as_user "$HOME_B" "$BIN/$program" --database "$EMPTY_LOCKED" "${args[@]}" > /dev/null 2> "$WORK/empty.err" || status=$?
  [ "$status" -ne 0 ] && grep -q "schreibgeschützt und enthält keine Datenbank" "$WORK/empty.err" \
    || fail "$program auf leerem schreibgeschütztem Ordner: Status $status, $(cat "$WORK/empty.err")"
done

# ---- a port the user may not open: the group hint only where it helps ----
"$BUILD/bin/braskon-sim" --port 1=lumo --env-file "$WORK/ports.env" > "$WORK/sim.log" 2>&1 &
SIM_PID=$!
for _ in $(seq 1 100); do
  [ -s "$WORK/ports.env" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/sim.log"; fail "braskon-sim startet nicht"; }
  sleep 0.1
done
PTY="$(sed -n 's/^export BRASKON_COM1=//p' "$WORK/ports.env")"
[ -c "$PTY" ] || fail "kein Pseudo-Terminal vom Simulator"
HOME_C="$(new_home c)"
# denied TEXT: scan finds nothing, status 1, and says TEXT about COM1.
denied() {
  local status=0
  as_user "$HOME_C" "$BIN/braskon-cli" --port "COM1=$PTY" scan > "$WORK/scan.out" 2> "$WORK/scan.err" || status=$?
  [ "$status" -eq 1 ] || fail "scan endet mit Status $status statt 1"
  grep -qF "braskon-cli scan: COM1 ($PTY): Zugriff verweigert. $1" "$WORK/scan.err" \
    || fail "scan meldet nicht \"$1\": $(cat "$WORK/scan.err")"
}
if [ "$(id -u)" -eq 0 ]; then
  # The device's group may open it and the user is not in it: join the group.
  chgrp dialout "$PTY"; chmod 660 "$PTY"
  denied "Serielle Schnittstellen dürfen nur Mitglieder der Gruppe „dialout“ öffnen: sudo usermod -aG dialout \$USER"
  as_user "$HOME_C" BRASKON_COM1="$PTY" "$BIN/braskon" --screenshot "$HOME_C/main.png" 2> "$WORK/gui-c.err" \
    || { cat "$WORK/gui-c.err"; fail "braskon startet nicht"; }
  [ "$(grep -c "COM1 ($PTY): Zugriff verweigert.*usermod -aG dialout" "$WORK/gui-c.err")" -eq 1 ] \
    || fail "braskon meldet den gesperrten Port nicht genau einmal: $(cat "$WORK/gui-c.err")"
  # root's device: no group helps; owner and mode are named.
  chown root:root "$PTY"; chmod 660 "$PTY"
  denied "Das Gerät gehört root:root und hat die Rechte rw-rw---- (660); eine Gruppe hilft hier nicht."
  grep -q "usermod" "$WORK/scan.err" && fail "Gruppenhinweis, wo keine Gruppe hilft: $(cat "$WORK/scan.err")"
  as_user "$HOME_C" "$BIN/braskon-cli" --port "COM1=$PTY" ports | grep -qF "Zugriff verweigert (root:root rw-rw----)" \
    || fail "ports nennt Eigentümer und Rechte nicht"
else
  chmod 000 "$PTY"
  denied "Das Gerät gehört $(id -un):"
fi
# Opened by its owner the same port answers: the message came from the mode.
if [ "$(id -u)" -eq 0 ]; then
  "$BIN/braskon-cli" --port "COM1=$PTY" scan | grep -q "an COM1" || fail "der Port selbst antwortet nicht"
fi

# Journal files another user left behind (a recorder run with sudo and killed)
# make the database read-only for this user: lists and the interrupted
# treatment are shown, changes refused with the message, nothing written.
if [ "$(id -u)" -eq 0 ]; then
  SHARED="$WORK/shared"
  mkdir "$SHARED"
  cp "$HOME_B/.local/share/braskon/braskon.db" "$SHARED/"
  timeout -s KILL 3 "$BIN/braskon-cli" --database "$SHARED" --port "COM1=$PTY" run --battery 1 \
    --terminal "Lumo an COM1" --program 1 --charge 30 --discharge 30 --tick-ms 100 > /dev/null 2>&1 || true
  [ -e "$SHARED/braskon.db-wal" ] && [ -e "$SHARED/braskon.db-shm" ] || fail "keine Journaldateien nach dem Abbruch"
  chmod 777 "$SHARED"; chmod 666 "$SHARED/braskon.db"
  shared_sum="$(cat "$SHARED"/braskon.db* | md5sum)"
  listed="$(as_user "$HOME_B" "$BIN/braskon-cli" --database "$SHARED" service list 2> "$WORK/shared.err")" \
    || fail "service list: $(cat "$WORK/shared.err")"
  grep -q "unterbrochen" <<<"$listed" || fail "unterbrochene Behandlung nicht gelistet: $listed"
  grep -q "für diesen Benutzer schreibgeschützt" "$WORK/shared.err" || fail "keine Meldung: $(cat "$WORK/shared.err")"
  status=0
  as_user "$HOME_B" "$BIN/braskon-cli" --database "$SHARED" battery add --capacity 500 --type NC --cells 1 \
    > /dev/null 2> "$WORK/shared-add.err" || status=$?
  [ "$status" -ne 0 ] && grep -q "schreibgeschützt: sie kann gelesen" "$WORK/shared-add.err" \
    || fail "Änderung nicht klar abgelehnt: $(cat "$WORK/shared-add.err")"
  as_user "$HOME_B" "$BIN/braskon" --database "$SHARED" --screenshot "$HOME_B/shared.png" 2> "$WORK/shared-gui.err" \
    || { cat "$WORK/shared-gui.err"; fail "braskon startet nicht"; }
  [ "$(cat "$SHARED"/braskon.db* | md5sum)" = "$shared_sum" ] || fail "Datenbank eines anderen Benutzers verändert"
fi

echo "Installation, Desktop-Dateien, gemeinsame Datenbank und dialout-Meldung: in Ordnung"
