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
# tests that need root (scripts/ctest-run). Root's run first refuses, in one
# line, a temporary folder that another user could change (see below).
set -euo pipefail
# The checkout is the folder this script lies in, named exactly: $(...)
# drops the newlines that end a command's output, and a folder's name may
# end in one (beside it, the same name without the newline may be another
# user's checkout). A relative name is the current folder's, here and in
# every cd below, whatever CDPATH names, and one named "-" is a folder, not
# $OLDPWD.
unset CDPATH
# Nothing here takes git's variables from the caller (a hook's GIT_DIR or
# GIT_INDEX_FILE): the script tests' set-up, git init, add and commit in a
# folder of their own, would write to the repository and index they name.
unset "${!GIT_@}"
# Nor does root take the sanitizers' options from its caller (sudo -E, su
# without -): one such as log_path would have root's programs write where
# the caller names.
[ "$EUID" != 0 ] || unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS TSAN_OPTIONS MSAN_OPTIONS
here=$(dirname -- "$0" && echo .)
here=${here%$'\n.'}
[[ $here == /* ]] || here=./$here
cd -- "$here"

# One line, whatever a path in it holds, and status 1.
refuse() {
  local line="check.sh: $*"
  echo "${line//$'\n'/\\n}" >&2
  exit 1
}
# The sanitizers are given the suppressions' path (below) in quotes of a
# kind it does not hold: one that holds both kinds cannot be given.
if [[ $PWD == *"'"* && $PWD == *'"'* ]]; then
  refuse "the sanitizers cannot read a path that holds both kinds of quote, as $PWD does: run the check from" \
    "a checkout whose path holds one kind at most"
fi

# The temporary folder, checked once before anything is run. Root's build
# and tests make files there (the compiler, mktemp, the test programs), in
# the folder that TMPDIR, TMP, TEMP or TEMPDIR names (each program reads its
# own of them, and the compiler and Python fall back to the next), else in
# /tmp: root takes none that another user could change (the rule in
# scripts/temp-folder-rule). A relative name is refused too: each program
# would find it from its own folder. For anyone, the folder mktemp uses must
# take a new folder: the stages below make theirs there.
. "$PWD/scripts/temp-folder-rule"
# Refuses the folder $2 (named by $1) for root's files, or returns when it
# is safe.
roots_folder() {
  local problem status=0
  local way_out="Run root's check.sh with TMPDIR, TMP, TEMP and TEMPDIR unset or naming a folder of root's."
  unusable() { refuse "$1 names no folder the build and the tests can use ($2). $way_out"; }
  [ -n "$2" ] || unusable "$1" "it is empty"
  [[ $2 == /* ]] || unusable "$1" "it is no absolute path, so each program would find it from its own folder"
  problem=$(temp_folder_problem "$2") || status=$?
  case $status in
    0) ;;
    1) refuse "$1: the temporary folder is not root's alone ($problem): another" \
         "user could turn what the build and the tests make there into a file of root's. $way_out" ;;
    *) unusable "$1" "$problem" ;;
  esac
  [ -d "$2" ] || unusable "$1" "it is no folder"
}
if [ "$EUID" = 0 ]; then
  for name in TMPDIR TMP TEMP TEMPDIR; do
    [ -z "${!name+set}" ] || roots_folder "$name=${!name}" "${!name}"
  done
  roots_folder /tmp /tmp
fi
probe=$(mktemp -d 2>&1) || refuse "no folder can be made in the temporary folder (${probe#mktemp: }):" \
  "run check.sh with TMPDIR unset or naming a folder with room"
rmdir -- "$probe"
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
