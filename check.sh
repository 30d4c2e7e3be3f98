#!/usr/bin/env bash
# Set-up, build and every test: the normal build with unit, whole-game and
# real-window tests; the sanitizer build (address, undefined behaviour, leaks)
# with the unit and whole-game tests; a ThreadSanitizer build of the library with the tests
# that start threads (label `threads`); a short run of each fuzz target; the
# picture tests again with other band workers and spans; the game and a
# movie probe under tight address-space limits. A test that fails once fails
# the run: nothing is retried. A compiler warning in our own code stops every
# build (RORUD_WERROR). In CI (CI=true) a skipped test fails the run too
# (scripts/ctest-run).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps

JOBS=${JOBS:-$(nproc)}
export RORUD_PLATFORM=headless
# Every build here, as in CI, stops at a compiler warning in our own code
# (scripts/tsan-check and scripts/fuzz-smoke read this too).
export RORUD_WERROR=ON
# Leak reports name only third-party allocations in the suppressions, each
# with its reason; a leak of our own fails the run.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"

echo "== build (release with debug info)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORUD_WERROR=ON >/dev/null
cmake --build build -j "$JOBS"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRORUD_SANITIZE=ON -DRORUD_BENCH=OFF \
  -DRORUD_WERROR=ON >/dev/null
cmake --build build-san -j "$JOBS"

if [ -x scripts/fuzz-smoke ]; then
  echo "== fuzz targets (short run)"
  scripts/fuzz-smoke
fi

echo "== tests (sanitizers)"
(cd build-san && ASAN_OPTIONS=detect_leaks=1 ../scripts/ctest-run --output-on-failure -j "$JOBS")

echo "== ThreadSanitizer build and the thread tests"
JOBS=$JOBS scripts/tsan-check

echo "== tests"
(cd build && ../scripts/ctest-run --output-on-failure -j "$JOBS")

echo "== the game under address-space limits"
scripts/oom-check

# The tests above draw with the default band workers and the widest vector
# spans the processor has; the pictures must be the same with three workers
# and the plain spans.
echo "== picture tests with three band workers and the scalar spans"
WORKERS=3 LEVELS=0 JOBS=$JOBS scripts/raster-matrix
