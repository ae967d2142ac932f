#!/usr/bin/env bash
# Sets up, builds and runs every test. With --sanitize the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer (separate build directory).
# Without it, every fuzzing harness then replays its seeds and committed
# corpus and runs a fixed number of new inputs from a fixed random seed
# (scripts/fuzz.sh --replay: the same inputs on every run of one commit;
# FEMTOKIT_FUZZ_RUNS sets the number, 0 skips fuzzing); any finding fails.
# The API reference (scripts/docs.sh) is built too; a Doxygen warning fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything is turned on explicitly: the main job's first run configures
# build/ without tests, benchmarks, tools and the Python module.
build=build
# The test executables and the Python module compile their files in batches
# (the pip build compiles the module so too).
flags=(-DFEMTOKIT_BUILD_TESTS=ON -DFEMTOKIT_BUILD_BENCH=ON -DFEMTOKIT_BUILD_TOOLS=ON -DFEMTOKIT_BUILD_PYTHON=AUTO
  -DFEMTOKIT_TEST_UNITY_BUILD=ON -DFEMTOKIT_PYTHON_UNITY_BUILD=ON)
if [ "${1:-}" = "--sanitize" ]; then
  # The library file by file rather than in batches, so that a library file
  # missing an include of its own is caught here (the test executables in
  # batches: most of their time is GoogleTest's headers); -O1 with line
  # tables, as the sanitizers advise (half the compile time of -O2 -g, stack
  # traces intact).
  build=build-sanitize
  flags=(-DFEMTOKIT_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
    -DFEMTOKIT_BUILD_TESTS=ON -DFEMTOKIT_BUILD_BENCH=OFF -DFEMTOKIT_BUILD_TOOLS=ON -DFEMTOKIT_UNITY_BUILD=OFF
    -DFEMTOKIT_TEST_UNITY_BUILD=ON)
fi

# Where the time goes, printed at the end: "phase N s" for each step.
times=()
mark() { times+=("$1 $((SECONDS - since)) s"); since=$SECONDS; }
since=$SECONDS
trap 'IFS=";"; echo "scripts/test.sh ($build): ${times[*]}"' EXIT

scripts/deps.sh
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
mark build
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
mark tests
if [ "$build" = build ]; then
  scripts/docs.sh   # the API reference: any Doxygen warning fails the run
  mark docs
fi
# The Python package as a user installs it: a wheel and pip into a fresh venv
# from a copy of the checkout, imported elsewhere (about two minutes on 2 cores;
# FEMTOKIT_PIP_TEST=0 skips it). Only where Debian's python3 has what it needs.
if [ "$build" = build ] && [ "${FEMTOKIT_PIP_TEST:-1}" != 0 ] && \
  /usr/bin/python3 -c "import build, setuptools, wheel, pybind11, numpy, venv" 2>/dev/null; then
  /usr/bin/python3 scripts/test_pip_install.py
  mark pip
elif [ "$build" = build ] && [ "${FEMTOKIT_PIP_TEST:-1}" != 0 ]; then
  echo "scripts/test.sh: the pip install test is skipped: Debian's python3 lacks build, setuptools, wheel, pybind11, numpy or venv" >&2
fi
if [ "$build" = build ] && [ "${FEMTOKIT_FUZZ_RUNS:-20000}" != 0 ]; then
  scripts/fuzz.sh --replay --parallel "$(nproc)"
  mark fuzz
fi
