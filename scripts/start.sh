#!/usr/bin/env bash
# Installs what is missing, builds and starts Corvantis.
# Without a display it says so and stops; with --xvfb it starts on a virtual display instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
BUILD_TARGET=corvantis bash scripts/build.sh
exe=build/bin/corvantis
if [ "${1:-}" = "--xvfb" ]; then
  exec xvfb-run -a "$exe"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Corvantis is a desktop program and there is no display here (DISPLAY is not set)." >&2
  echo "Run it from a desktop session, or on a virtual display with: bash scripts/start.sh --xvfb" >&2
  exit 2
fi
exec "$exe"
