#!/usr/bin/env bash
# Builds the program and runs it. When no interceptor service answers on the
# device, a service of its own is started on a socket beside the program's
# runtime files. Without a display the program runs under Xvfb for a few
# seconds and leaves a screenshot in shots/kestrava.png.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
program=build/app/kv
service=build/driver/kvvxd
kvctl=build/driver/kvctl

own_service=""
cleanup() {
  if [ -n "$own_service" ]; then kill "$own_service" 2>/dev/null || true; fi
}
trap cleanup EXIT

if ! "$kvctl" status >/dev/null 2>&1; then
  runtime="$(mktemp -d)"
  export KESTRAVA_DEVICE="$runtime/VEVUZ"
  "$service" --foreground --socket "$KESTRAVA_DEVICE" --state "$runtime/kvvxd.state" \
    --settings "$(dirname "$program")/kv.dat" --program "$program" \
    >"$runtime/ready" 2>"$runtime/kvvxd.log" &
  own_service=$!
  for _ in $(seq 50); do
    grep -q ready "$runtime/ready" 2>/dev/null && break
    sleep 0.1
  done
  echo "Interceptor service started on $KESTRAVA_DEVICE"
fi

if [ -n "${DISPLAY:-}" ]; then
  "$program" "$@"
  exit $?
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
