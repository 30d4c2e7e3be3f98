#!/usr/bin/env bash
# Set-up, build and every test: the normal build with unit, whole-game and
# real-window tests, then the sanitizer build with the unit tests, then a short
# run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps

JOBS=${JOBS:-$(nproc)}
export RORUD_PLATFORM=headless

echo "== build (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRORUD_SANITIZE=ON -DRORUD_BENCH=OFF >/dev/null
cmake --build build-san -j "$JOBS"

if [ -x scripts/fuzz-smoke ]; then
  echo "== fuzz targets (short run)"
  scripts/fuzz-smoke
fi

# A test that fails is run once more before the run counts as failed: a few
# start-up tests have failed once on a heavily loaded machine and passed on
# every rerun. A second failure fails the run; the output shows the first too.
RETRY=(--repeat until-pass:2)

echo "== tests (sanitizers)"
(cd build-san && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$JOBS" "${RETRY[@]}" -LE wholegame)

echo "== tests"
(cd build && ctest --output-on-failure -j "$JOBS" "${RETRY[@]}")
