#!/usr/bin/env bash
# Builds and runs every test: the full build, the logic tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a short fuzzing run;
# with --package also the Debian package, installed and removed here (root).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

echo "== full build and tests"
scripts/build.sh build
(cd build && ctest --output-on-failure -j2 --timeout 300)

echo "== logic tests under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DKV_WITH_GUI=OFF -DKV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2 --timeout 300)

echo "== fuzzing (short run)"
if command -v clang++ >/dev/null; then
  scripts/build.sh build-fuzz -DKV_FUZZ=ON -DKV_WITH_GUI=OFF \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
  for fuzzer in $(find build-fuzz/fuzz -type f -executable -name "fuzz_*" | sort); do
    [ -f "$fuzzer" ] && [ -x "$fuzzer" ] || continue
    corpus="build-fuzz/corpus/$(basename "$fuzzer")"
    mkdir -p "$corpus"
    "$fuzzer" -max_total_time="${KV_FUZZ_SECONDS:-20}" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
  done
else
  echo "clang++ not found: fuzzing skipped"
fi

echo "== benchmarks"
for bench in $(find build/bench -type f -executable -name "bench_*" | sort); do
  echo "-- $(basename "$bench")"
  "$bench"
done
if [ "${1:-}" = "--package" ]; then
  echo "== the Debian package, installed and removed on this machine"
  scripts/package-test.sh
fi
echo "All tests passed."
