#!/usr/bin/env bash
# Takes the documentation picture of the main window: starts the built program
# (build/bin/braskon, or $BRASKON_BIN) on a temporary database with a few demo
# batteries, without a display, and saves docs/screenshots/main.png.
# Builds nothing itself.
set -euo pipefail
cd "$(dirname "$0")/.."
program="${BRASKON_BIN:-build/bin/braskon}"
output="${1:-docs/screenshots/main.png}"
if [[ ! -x "$program" ]]; then
  echo "$program not found: build first (scripts/build.sh)" >&2
  exit 1
fi
workdir="$(mktemp -d)"
trap 'rm -rf "$workdir"' EXIT
mkdir -p "$(dirname "$output")"
# log.txt goes to the state folder: keep it (and the settings) in the temporary one.
output_abs="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"
program_abs="$(cd "$(dirname "$program")" && pwd)/$(basename "$program")"
(
  cd "$workdir"
  XDG_STATE_HOME="$workdir/state" XDG_CONFIG_HOME="$workdir/config" QT_QPA_PLATFORM=offscreen "$program_abs" --database "$workdir/database" --demo --screenshot "$output_abs"
)
echo "saved $output"
