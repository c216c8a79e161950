#!/usr/bin/env bash
# Configures and builds one configuration: build.sh <folder> [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Paths relative to the checkout, so that work trees share the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
dir="$1"
shift
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
# One build at a time on this machine: builds of several work trees queue here.
flock /tmp/kestrava-build.lock cmake --build "$dir" -j2
