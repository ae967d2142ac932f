#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer (separate build directory).
# Without it, every fuzzing harness then runs for a short time as well
# (FEMTOKIT_FUZZ_SECONDS each, default 10; 0 skips them) and any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags=(-DFEMTOKIT_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFEMTOKIT_BUILD_BENCH=OFF)
fi

scripts/deps.sh
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
if [ "$build" = build ] && [ "${FEMTOKIT_FUZZ_SECONDS:-10}" != 0 ]; then
  scripts/fuzz.sh --seconds "${FEMTOKIT_FUZZ_SECONDS:-10}"
fi
