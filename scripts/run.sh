#!/usr/bin/env bash
# Builds the program and runs it. Without a display it runs under Xvfb for a
# few seconds and leaves a screenshot in shots/kestrava.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
program=build/app/kv

if [ -n "${DISPLAY:-}" ]; then
  exec "$program" "$@"
fi

mkdir -p shots
export KESTRAVA_RUNTIME="${KESTRAVA_RUNTIME:-$(mktemp -d)}"
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  "$0" "${@:1}" &
  pid=$!
  sleep "${KV_SHOW_SECONDS:-4}"
  import -window root shots/kestrava.png
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
' "$program" "$@"
echo "No display: ran under Xvfb; screenshot in shots/kestrava.png"
