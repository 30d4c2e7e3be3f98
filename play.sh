#!/usr/bin/env bash
# Set-up, build, placeholder data, and start the game in a real window.
# The game runs in game-data/, outside build/: its settings, high scores and
# replays stay there when build/ is deleted; the data set is linked in from
# build/data.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps play
# A build folder made here leaves out the tests and benchmarks, whose tools
# only ./check.sh installs; one that ./check.sh or a developer made keeps
# them.
options=()
if [ ! -f build/CMakeCache.txt ]; then options=(-DRORUD_TESTS=OFF -DRORUD_BENCH=OFF); fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
# The build's lines show only when it builds something or fails: with
# nothing to do, the check of the source folders and "no work to do" would
# stand before every start.
cmake --build build -j "$(nproc)" --target quillona quillona-config |
  sed -u -e '/^\(\[[0-9]*\/[0-9]*\] \)\{0,1\}Re-checking globbed directories\.\.\.$/d' \
    -e '/^ninja: no work to do\.$/d'
if [ -x scripts/make-placeholder-data ]; then
  scripts/make-placeholder-data build/data
fi
mkdir -p build/data game-data
for sub in grp se bgm; do
  # A folder of the player's own data stays; a link is brought up to date.
  if [ -L "game-data/$sub" ] || [ ! -e "game-data/$sub" ]; then
    ln -sfn "../build/data/$sub" "game-data/$sub"
  fi
done
# Records, replays and settings that earlier versions kept in build/data.
for own in rec.hsd replay system; do
  if [ -e "build/data/$own" ] && [ ! -e "game-data/$own" ]; then
    mv "build/data/$own" "game-data/$own"
  fi
done
cd game-data
exec ../build/game/quillona "$@"
