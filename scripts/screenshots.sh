#!/usr/bin/env bash
# Renders the start-up screen and the keyboard's branch prompt to docs/screen.png and
# docs/keyboard.png, on Qt's offscreen platform, through the screen's rendering tests.
#   scripts/screenshots.sh [BUILD_DIR]     (default build/screenshots)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/screenshots}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target screen_tests
mkdir -p "$root/docs"
JOV_SCREENSHOT_DIR="$root/docs" QT_QPA_PLATFORM=offscreen "$build/tests/screen/screen_tests" \
  --gtest_filter='RenderedFormTest.MainButtonsStandAtTheirPlacesInTheirColours:RenderedFormTest.KeyboardStandsAtItsPlacesWhenShown'
python3 "$root/scripts/check-pictures.py" "$root/docs/screen.png" "$root/docs/keyboard.png"
echo "screenshots: wrote $root/docs/screen.png and $root/docs/keyboard.png"
