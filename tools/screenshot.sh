#!/bin/sh
# Renders the main window over a sample catalog (five sites, one in each
# update state; names stored as GBK and as UTF-8; new entries) to
# docs/screenshot.png. Off screen: no display is needed.
set -eu
cd "$(dirname "$0")/.."
./tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target orvane_screenshot
QT_QPA_PLATFORM=offscreen build/app/orvane_screenshot docs/screenshot.png
echo "wrote docs/screenshot.png"
