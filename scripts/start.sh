#!/usr/bin/env bash
# Installs what is missing, builds the three programs, and starts Braskon.
# When no charger is configured (no BRASKON_COM<n> variable set and no port
# assigned on the "Schnittstellen" page of the options), a simulated charger lab is
# started first: a Lumo on COM1, a Varn on COM2, a Tesk on COM3 and a Kestrix
# logger on COM4, running 60 times faster than real time.
# Arguments go to braskon (e.g. --database DIR). Installs only what building
# and running need; the tests' packages come with scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh start
# Only the programs started here; scripts/test.sh builds the tests too.
bash scripts/build.sh braskon braskon-cli braskon-sim

BIN="$PWD/build/bin"
SETTINGS="${XDG_CONFIG_HOME:-$HOME/.config}/braskon/braskon.conf"
if ! env | grep -q '^BRASKON_COM[1-9]=' && ! grep -qs '^COM[1-9]=.' "$SETTINGS"; then
  RUN_DIR="$(mktemp -d)"
  trap 'kill "$SIM_PID" 2>/dev/null || true; rm -rf "$RUN_DIR"' EXIT
  "$BIN/braskon-sim" --port 1=lumo --port 2=varn --port 3=tesk --port 4=kestrix \
      --speed 60 --env-file "$RUN_DIR/ports.env" > "$RUN_DIR/sim.log" 2>&1 &
  SIM_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$RUN_DIR/ports.env" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || { cat "$RUN_DIR/sim.log"; exit 1; }
    sleep 0.1
  done
  # shellcheck disable=SC1091
  set -a; . "$RUN_DIR/ports.env"; set +a
  echo "Simulated charger lab:"; env | grep '^BRASKON_COM' | sort
fi

# Without a display braskon says so itself and ends with status 1.
"$BIN/braskon" "$@"
