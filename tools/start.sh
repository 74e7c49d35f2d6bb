#!/bin/sh
# Builds Orvane and starts it. Extra arguments go to the program.
set -eu
cd "$(dirname "$0")/.."
./tools/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/app/orvane ]; then
  exec build/app/orvane "$@"
fi
if [ $# -eq 0 ]; then set -- --help; fi
exec build/orvane-cli "$@"
