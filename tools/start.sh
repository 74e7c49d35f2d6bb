#!/bin/sh
# Builds Orvane and starts it; installs missing Debian packages first.
# Arguments go to the program (for instance --data-dir DIR).
set -eu
cd "$(dirname "$0")/.."
./tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target orvane orvane-cli orvane-cli-online
exec build/app/orvane "$@"
