#!/usr/bin/env bash
# Takes the documentation pictures of the main window, 1600 x 1000 pixels (or
# $LIVE_SCREENSHOT_SIZE, e.g. 1100x750), with two running treatments on
# simulated chargers: docs/screenshots/live.png shows the discharging page,
# docs/screenshots/live-2.png the charging one.
# Uses the built tool build/bin/live_screenshot (source in tools/screenshots/;
# or $LIVE_SCREENSHOT_BIN), which starts build/bin/braskon-sim itself; builds
# nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
tool="${LIVE_SCREENSHOT_BIN:-build/bin/live_screenshot}"
discharging="${1:-docs/screenshots/live.png}"
charging="${2:-docs/screenshots/live-2.png}"
if [[ ! -x "$tool" ]]; then
  echo "$tool not found: build the targets live_screenshot and braskon-sim first" >&2
  exit 1
fi
mkdir -p "$(dirname "$discharging")" "$(dirname "$charging")"
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
discharging_abs="$(absolute "$discharging")"
charging_abs="$(absolute "$charging")"
tool_abs="$(absolute "$tool")"
workdir="$(mktemp -d)"
trap 'rm -rf "$workdir"' EXIT
# Anything written to the current directory stays in the temporary one.
(
  cd "$workdir"
  QT_QPA_PLATFORM=offscreen "$tool_abs" --size "${LIVE_SCREENSHOT_SIZE:-1600x1000}" \
    "$discharging_abs" "$charging_abs"
)
