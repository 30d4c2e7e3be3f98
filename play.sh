#!/usr/bin/env bash
# Set-up, build, placeholder data, and start the game in a real window.
# The game runs in game-data/, outside build/: its settings, high scores and
# replays stay there when build/ is deleted; the data set is linked in from
# build/data.
set -euo pipefail
# The checkout is the folder this script lies in, named exactly: $(...)
# drops the newlines that end a command's output, and a folder's name may
# end in one (beside it, the same name without the newline may be another
# user's checkout). A relative name is the current folder's, here and in
# every cd below, whatever CDPATH names, and one named "-" is a folder, not
# $OLDPWD.
unset CDPATH
here=$(dirname -- "$0" && echo .)
here=${here%$'\n.'}
[[ $here == /* ]] || here=./$here
cd -- "$here"
# As root, the build's files go only where no other user could change them
# (the rule in scripts/temp-folder-rule).
. "$PWD/scripts/temp-folder-rule"
refuse_roots_temp_folders play.sh
# A build/ or game-data/ that another user made (./play.sh run once as root)
# stops CMake with a bare "Permission denied"; said first, with the way out.
unwritable=$(find build game-data ! -type l ! -writable -print -quit 2>/dev/null || true)
if [ -n "$unwritable" ]; then
  owner=$(stat -c %u "$unwritable")
  if [ "$owner" = "$(id -u)" ]; then
    why="it is yours, without write permission"
    way="run chmod -R u+w $PWD/build $PWD/game-data"
  else
    name=$(stat -c %U "$unwritable")
    if [ "$name" = UNKNOWN ]; then name="user id $owner"; fi
    why="it belongs to $name"
    way="have root run chown -R $(id -u):$(id -g) $PWD/build $PWD/game-data"
  fi
  echo "play.sh: $PWD/$unwritable cannot be written by user id $(id -u) ($why): $way," \
    "then run ./play.sh again" >&2
  exit 1
fi
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
