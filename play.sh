#!/usr/bin/env bash
# Set-up, build, placeholder data, and start the game in a real window.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target quillona
if [ -x scripts/make-placeholder-data ]; then
  scripts/make-placeholder-data build/data
fi
mkdir -p build/data
cd build/data
exec ../game/quillona "$@"
