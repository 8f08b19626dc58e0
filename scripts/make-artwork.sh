#!/usr/bin/env bash
# Draws the screen's pictures into assets/ with tools/artwork, built in a folder of its own.
#   scripts/make-artwork.sh [BUILD_DIR]     (default build/artwork)
# The pictures are committed; run this after changing tools/artwork and commit the result.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/artwork}
cmake -S "$root/tools/artwork" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target jov-artwork
QT_QPA_PLATFORM=offscreen "$build/jov-artwork" "$root/assets"
echo "make-artwork: pictures written to $root/assets"
