#!/usr/bin/env bash
# Reruns the benchmarks behind bench/README.md and prints its table: medians of
# 5 repetitions, each target as a ratio against its straightforward version
# measured in the same run (repetitions interleaved at random, so that a busy
# spell of a shared machine falls on both alike). Also times the main job as a
# whole process: cached, with the kernel recomputed, and a first run from a
# fresh clone (configure, build, kernel, job).
#
#   bench/refresh.sh [build-dir]      (default: build; about 6 minutes)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build}"
cd "$root"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DFEMTOKIT_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target pair_kernel_bench s2cf_bench psisquared_bench arraycalc_bench \
  sourcecalc_pairs_bench kernelwf_s2c_bench femtodriver ppkernel >/dev/null
out="$build/bench/results"
mkdir -p "$out"
reps=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true --benchmark_format=json)
"$build/bench/pair_kernel_bench" --benchmark_filter='/pp/' "${reps[@]}" >"$out/pair_kernel.json" 2>/dev/null
"$build/bench/s2cf_bench" "${reps[@]}" >"$out/s2cf.json" 2>/dev/null
"$build/bench/psisquared_bench" "${reps[@]}" >"$out/psisquared.json" 2>/dev/null
"$build/bench/arraycalc_bench" "${reps[@]}" >"$out/arraycalc.json" 2>/dev/null
"$build/bench/sourcecalc_pairs_bench" "${reps[@]}" >"$out/sourcecalc_pairs.json" 2>/dev/null
"$build/bench/kernelwf_s2c_bench" "${reps[@]}" >"$out/kernelwf_s2c.json" 2>/dev/null

# The main job as a whole process: scripts/run.sh with a cached kernel, and
# with the kernel recomputed (the programs already built). Wall seconds of 5
# runs each.
time_runs() {
  local i
  for i in 1 2 3 4 5; do
    eval "$1"
    /usr/bin/time -f %e -a -o "$2" scripts/run.sh >/dev/null
  done
}
rm -f "$out/run_cached.txt" "$out/run_kernel.txt" "$out/run_first.txt"
scripts/run.sh >/dev/null
time_runs : "$out/run_cached.txt"
time_runs "rm -rf kdata/pp" "$out/run_kernel.txt"

# A first run: a fresh clone of the committed tree, set-up check, configure,
# build, kernel and job.
fresh="$(mktemp -d)"
git clone -q "$root" "$fresh/femtokit"
(cd "$fresh/femtokit" && /usr/bin/time -f %e -o "$root/$out/run_first.txt" scripts/run.sh >/dev/null)
rm -rf "$fresh"

python3 bench/summary.py "$out"
