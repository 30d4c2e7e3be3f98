#!/usr/bin/env bash
# Set-up, build and every test, in this order: the set-up
# (scripts/install-deps); the normal build (release with debug info); a
# Release build of the library, the game and the tools, for the warnings the
# higher optimisation finds; the sanitizer build (address, undefined
# behaviour, leaks); a short run of each fuzz target (a clang build of its
# own); the sanitizer build's unit and whole-game tests; a ThreadSanitizer
# build of the library with the tests that start threads (label `threads`);
# the normal build's unit, whole-game and real-window tests; the game under
# tight address-space limits, headless and in a window on a virtual X server
# (scripts/oom-check); the picture tests again with three band workers and
# the plain spans. A test that fails once fails the run: nothing is retried.
# A compiler warning in our own code stops every build (RORUD_WERROR). In CI
# (CI=true) a skipped test fails the run too, but for an ordinary user the
# tests that need root (scripts/ctest-run).
set -euo pipefail
cd "$(dirname "$0")"
# Each stage's line says how long the run has taken so far.
started=$SECONDS
stage() { printf '== %s (%dm%02ds in)\n' "$1" $(((SECONDS - started) / 60)) $(((SECONDS - started) % 60)); }
stage "set-up"
./scripts/install-deps check

JOBS=${JOBS:-$(nproc)}
export RORUD_PLATFORM=headless
# Every build here, as in CI, stops at a compiler warning in our own code
# (scripts/tsan-check and scripts/fuzz-smoke read this too).
export RORUD_WERROR=ON
# Leak reports name only third-party allocations in the suppressions, each
# with its reason; a leak of our own fails the run. The sanitizers split
# their options at spaces and colons, so the checkout's path goes in quotes
# (of a kind it does not hold).
q='"'
[[ $PWD != *'"'* ]] || q="'"
export LSAN_OPTIONS="suppressions=$q$PWD/scripts/lsan.supp$q:print_suppressions=0"

stage "build (release with debug info)"
# The tests and benchmarks are named: a build folder that ./play.sh made
# leaves them out.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORUD_TESTS=ON -DRORUD_BENCH=ON \
  -DRORUD_WERROR=ON >/dev/null
cmake --build build -j "$JOBS"

# Release optimises harder, and GCC then warns about more (a value that "may
# be used uninitialized" once a call is inlined): a Release build must be
# free of warnings too. The tests and benchmarks are left out, to keep the
# run short.
stage "build (release: the library, the game and the tools)"
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DRORUD_TESTS=OFF -DRORUD_BENCH=OFF \
  -DRORUD_WERROR=ON >/dev/null
cmake --build build-release -j "$JOBS" --target quillona quillona-config rrpack make_placeholder_data

stage "build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRORUD_SANITIZE=ON -DRORUD_BENCH=OFF \
  -DRORUD_WERROR=ON >/dev/null
cmake --build build-san -j "$JOBS"

if [ -x scripts/fuzz-smoke ]; then
  stage "fuzz targets (short run)"
  scripts/fuzz-smoke
fi

stage "tests (sanitizers)"
(cd build-san && ASAN_OPTIONS=detect_leaks=1 ../scripts/ctest-run --output-on-failure -j "$JOBS")

stage "ThreadSanitizer build and the thread tests"
JOBS=$JOBS scripts/tsan-check

stage "tests"
(cd build && ../scripts/ctest-run --output-on-failure -j "$JOBS")

stage "the game under address-space limits"
scripts/oom-check

# The tests above draw with the default band workers and the widest vector
# spans the processor has; the pictures must be the same with three workers
# and the plain spans.
stage "picture tests with three band workers and the scalar spans"
WORKERS=3 LEVELS=0 JOBS=$JOBS scripts/raster-matrix
stage "done"
