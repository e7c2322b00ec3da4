#!/usr/bin/env bash
# Checks the README's promise on a clean machine: debootstraps a Debian 12
# (bookworm) with no extra packages into a folder, copies the committed tree
# of this checkout into it and runs there, as a new user would:
#   1. ./scripts/start.sh as a user without root and without sudo: it must
#      stop with its German message and install nothing;
#   2. ./scripts/start.sh as root (offscreen, taking a screenshot and ending,
#      as the chroot has no display); afterwards none of the tests' packages
#      may be installed;
#   3. ./scripts/test.sh as root; afterwards no PostgreSQL cluster of the
#      system may exist;
#   4. apt-get install ./build/braskon_*.deb and the installed programs.
# Prints each command with its time and exit status; exits 0 only when all
# of them did what they should. Needs root, debootstrap and a Debian mirror,
# and takes long (the whole build and test suite on a fresh system), so it
# is run by hand before a release, not in every CI run.
#
#   scripts/check-clean-debian.sh [FOLDER]
#     FOLDER   where the system is made (default: a new folder under /var/tmp);
#              it is removed at the end unless BRASKON_KEEP_CHROOT=1
#   BRASKON_DEBIAN_MIRROR   the mirror (default http://deb.debian.org/debian)
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
mirror="${BRASKON_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
[ "$(id -u)" -eq 0 ] || { echo "check-clean-debian.sh: braucht root (debootstrap, chroot, mount)" >&2; exit 1; }
command -v debootstrap > /dev/null || { echo "check-clean-debian.sh: debootstrap fehlt (apt-get install debootstrap)" >&2; exit 1; }

target="${1:-$(mktemp -d /var/tmp/braskon-clean-debian.XXXXXX)}"
mkdir -p "$target"
target="$(cd "$target" && pwd)"
# It becomes the system's root folder: mktemp makes it the owner's only, and
# the user without root could then not reach a single file in it.
chmod 755 "$target"
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2> /dev/null || true; done
  if [ "${BRASKON_KEEP_CHROOT:-0}" != 1 ]; then
    rm -rf --one-file-system "$target"
  else
    echo "Das System bleibt in $target"
  fi
}
trap cleanup EXIT

log="$target.log"
echo "== debootstrap bookworm nach $target ($mirror)"
SECONDS=0
debootstrap bookworm "$target" "$mirror" > "$log" 2>&1 || { tail -n 30 "$log"; exit 1; }
echo "   $SECONDS s"

# What a running system has and a chroot lacks: processes, devices, pseudo
# terminals (braskon-sim), shared memory, name resolution for apt.
for fs in proc sys dev dev/pts dev/shm; do
  mkdir -p "$target/$fs"
  mount --bind "/$fs" "$target/$fs"
  mounted+=("$target/$fs")
done
cp /etc/resolv.conf "$target/etc/resolv.conf"

# The checkout as the user gets it: the committed tree, nothing of the build.
mkdir -p "$target/root/braskon"
git -C "$repo" archive --format=tar HEAD | tar -x -C "$target/root/braskon"
chroot "$target" useradd --create-home neu
mkdir -p "$target/home/neu/braskon"
git -C "$repo" archive --format=tar HEAD | tar -x -C "$target/home/neu/braskon"
chroot "$target" chown -R neu:neu /home/neu/braskon

failures=0
# run NAME EXPECTED_STATUS USER DIR COMMAND: runs COMMAND in the chroot with a
# login's environment and prints its time and status.
run() {
  local name="$1" expected="$2" user="$3" dir="$4" command="$5" status=0
  echo "== $name"
  echo "   $command   (als $user, in $dir)"
  SECONDS=0
  chroot "$target" /usr/bin/env -i HOME="$( [ "$user" = root ] && echo /root || echo "/home/$user")" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb \
      setpriv --reuid="$user" --regid="$user" --init-groups -- \
      bash -c "cd $dir && $command" > "$target.$name.log" 2>&1 || status=$?
  local seconds=$SECONDS
  tail -n 15 "$target.$name.log" | sed 's/^/   | /'
  echo "   Zeit: $((seconds / 60)) min $((seconds % 60)) s, Status: $status (erwartet $expected)"
  if [ "$status" -ne "$expected" ]; then
    failures=$((failures + 1))
  fi
}
# check NAME CONDITION: a shell condition inside the chroot that must hold.
check() {
  if chroot "$target" bash -c "$2"; then
    echo "   in Ordnung: $1"
  else
    echo "   FEHLER: $1"
    failures=$((failures + 1))
  fi
}

run start-ohne-root 1 neu /home/neu/braskon ./scripts/start.sh
if grep -q "sudo gibt es nicht" "$target.start-ohne-root.log"; then
  echo "   in Ordnung: ohne root und ohne sudo die deutsche Meldung"
else
  echo "   FEHLER: keine Meldung ohne root und sudo"
  failures=$((failures + 1))
fi
check "dabei nichts installiert" "! dpkg-query -W -f='\${Status}' cmake 2>/dev/null | grep -q 'install ok installed'"

run start 0 root /root/braskon "QT_QPA_PLATFORM=offscreen ./scripts/start.sh --screenshot /root/start.png"
check "das Fenster kam hoch (Bild /root/start.png)" "test -s /root/start.png"
check "zum Starten keine Pakete der Tests (PostgreSQL, GoogleTest, lintian)" \
  "! dpkg-query -W -f='\${Status}\n' postgresql-common libgtest-dev lintian 2>/dev/null | grep -q 'install ok installed'"

run test 0 root /root/braskon ./scripts/test.sh
check "kein PostgreSQL-Cluster des Systems" "test -z \"\$(ls /etc/postgresql/*/ 2>/dev/null)\""

run paket 0 root /root/braskon \
  "apt-get install -y -qq ./build/braskon_*.deb && braskon-cli --version && braskon --version && ls /usr/share/man/man1/braskon*.1.gz"

echo
if [ "$failures" -eq 0 ]; then
  echo "Sauberes Debian 12: alle Befehle wie erwartet."
else
  echo "Sauberes Debian 12: $failures Abweichung(en), siehe oben und $target.*.log"
  exit 1
fi
