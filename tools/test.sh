#!/bin/sh
# Builds Orvane and runs every test: the full suite (the window's on Qt's
# offscreen platform), the suite again under AddressSanitizer +
# UndefinedBehaviorSanitizer, the engine, document and window suites under
# ThreadSanitizer, then each fuzz target for a bounded time from its seeds.
# The first run also checks what an installation puts in place (label
# "package": desktop entry, AppStream metainfo, manual pages against --help,
# shell completion, and lintian on a Debian package of that build).
# Tests start the FTP servers they need themselves, on loopback.
set -eu
cd "$(dirname "$0")/.."
./tools/deps.sh

JOBS=$(nproc)
FUZZ_SECONDS=${ORVANE_FUZZ_SECONDS:-30}

echo "== checks"
# No std::filesystem call that throws: each has an std::error_code overload.
python3 tools/check_fs_throws.py

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$JOBS"
ctest --test-dir build --output-on-failure -j "$JOBS" --timeout 600

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=address \
  -DORVANE_BENCH=OFF >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$JOBS" --timeout 900 -L 'catalog|update|document|cli|views|frame'

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_SANITIZE=thread \
  -DORVANE_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$JOBS"
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/tests/qt.tsan-suppressions" \
  ctest --test-dir build-tsan --output-on-failure -j "$JOBS" --timeout 900 -L 'update|document|views|frame'

echo "== fuzz (${FUZZ_SECONDS}s per target)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVANE_FUZZ=ON -DORVANE_GUI=OFF >/dev/null
cmake --build build-fuzz -j "$JOBS"
for target in build-fuzz/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  work=$(mktemp -d)
  if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$work/"; fi
  echo "-- $name"
  log="$work.log"
  if ! "$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/" "$work" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz target $name found a failure; input kept in $work" >&2
    exit 1
  fi
  tail -n 1 "$log"
  rm -rf "$work" "$log"
done
echo "== all tests passed"
