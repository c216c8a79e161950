#!/usr/bin/env bash
# Builds the Debian package: build/kestrava_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
rm -f build/kestrava_*.deb
(cd build && cpack -G DEB >/dev/null)
ls build/kestrava_*.deb
