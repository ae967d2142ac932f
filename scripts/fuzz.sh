#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ and runs a fuzzing campaign.
#
#   scripts/fuzz.sh [--seconds N | --runs N | --replay] [--seed S] [--jobs J | --parallel P] [harness ...]
#
#   --seconds N   run each harness for N seconds (default 300)
#   --runs N      run each harness for N inputs instead
#   --replay      the test command's run: every seed and every input of the
#                 committed corpus fuzz/corpus/<harness>, then a fixed number
#                 of new inputs (FEMTOKIT_FUZZ_RUNS, default 20000; a half to a
#                 fifth of that for the harnesses with costly inputs) from a fixed
#                 random seed; a fresh copy of the corpus each time, so two
#                 runs on the same commit run the same inputs
#   --seed S      libFuzzer's random seed (default 1 with --replay, else random)
#   --jobs J      parallel fuzzing processes per harness (default 1)
#   --parallel P  P harnesses at once, one process each (default 1)
#   harness ...   names without the fuzz_ prefix (default: every fuzz/fuzz_*.cpp):
#                 parameterfile, harmonic_array, array3d, kernel, qmesh, wavefunction_pp,
#                 event_file, event_file_oscar2013, event_file_gzip, event_file_hepmc, kernel3d,
#                 kernel3d_pars, feeddown, smearing, phase_table, table3d, potential_table
#
# Harnesses are built with clang++-14 -fsanitize=fuzzer,address,undefined in
# build-fuzz/. Each starts from seeds written by fuzz/make_seeds from the shipped files (data/),
# the committed corpus fuzz/corpus/<harness> (every input that ever found a
# fault) and, in a campaign, its growing corpus in build-fuzz/corpus/<harness>,
# with the dictionary fuzz/femtokit.dict. A crash, sanitizer report, leak,
# timeout (10 s per input) or memory excess ends the run with a non-zero
# status; the input that caused it is kept in build-fuzz/findings/<harness>/
# and the command that replays it is printed. Once the fault is mended, copy
# the input into fuzz/corpus/<harness>/ so that every later test run replays
# it. Each harness prints how many inputs it ran.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

seconds=300
runs=""
replay=0
seed=""
jobs=1
parallel_harnesses=1
names=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --replay) replay=1; shift ;;
    --seed) seed="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --parallel) parallel_harnesses="$2"; shift 2 ;;
    -h|--help) sed -n '2,31p' "$0"; exit 0 ;;
    *) names+=("$1"); shift ;;
  esac
done
if [ "$jobs" -gt 1 ] && [ "$parallel_harnesses" -gt 1 ]; then
  echo "fuzz.sh: --jobs and --parallel do not go together" >&2
  exit 2
fi
if [ "$replay" = 1 ]; then
  [ "$jobs" -gt 1 ] && { echo "fuzz.sh: --replay runs one process per harness (no --jobs)" >&2; exit 2; }
  runs="${FEMTOKIT_FUZZ_RUNS:-20000}"
  seed="${seed:-1}"
fi
if [ ${#names[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do n="$(basename "$f" .cpp)"; names+=("${n#fuzz_}"); done
fi

scripts/deps.sh
cxx="$(command -v clang++-14 || command -v clang++ || true)"
if [ -z "$cxx" ]; then
  echo "fuzz.sh: clang++ is missing (scripts/deps.sh installs clang-14)" >&2
  exit 1
fi

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DFEMTOKIT_FUZZ=ON \
  -DFEMTOKIT_BUILD_TESTS=OFF -DFEMTOKIT_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_DISABLE_FIND_PACKAGE_OpenMP=ON >/dev/null
targets=(make_seeds)
for n in "${names[@]}"; do targets+=("fuzz_$n"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
rm -rf "$build/seeds"
"$build/fuzz/make_seeds" data "$build/seeds"

# Runs one harness; its verdict goes to $build/findings/<harness>/verdict
# (first line "ok" or "FAIL").
fuzz_one() {
  local h="fuzz_$1" rc inputs log f corpus
  mkdir -p "$build/findings/$h"
  local dirs=()
  [ -d "fuzz/corpus/$h" ] && dirs+=("$root/fuzz/corpus/$h")
  dirs+=("$root/$build/seeds/$h")
  if [ "$replay" = 1 ]; then
    # libFuzzer adds new inputs to its first corpus directory: a fresh one.
    corpus="$root/$build/replay/$h"
    rm -rf "$corpus"
  else
    corpus="$root/$build/corpus/$h"
  fi
  mkdir -p "$corpus"
  local limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  # Harnesses whose inputs cost more (each pp input solves the Schroedinger
  # equation; event files, phase tables and smearing matrices fill tables on
  # meshes) take a fraction of the new inputs in a replay, so that none takes
  # much longer than 15 s; the fraction is fixed, so a replay stays the same.
  if [ "$replay" = 1 ]; then
    local share=1
    case "$1" in
      wavefunction_pp|smearing|event_file_hepmc|phase_table) share=5 ;;
      event_file|event_file_gzip|event_file_oscar2013) share=4 ;;
      feeddown|potential_table|table3d) share=2 ;;
    esac
    limit=(-runs="$((runs / share))")
  fi
  [ -n "$seed" ] && limit+=(-seed="$seed")
  log="$build/findings/$h/last.log"
  local parallel=()
  [ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
  # Paths are absolute: each harness works inside its own scratch directory.
  local options=("${limit[@]}" -timeout=10 -rss_limit_mb=2048 -dict="$root/fuzz/femtokit.dict"
    -artifact_prefix="$root/$build/findings/$h/" -print_final_stats=1)
  [ "$replay" = 1 ] && options+=(-reload=0)
  set +e
  "${norandom[@]}" "$build/fuzz/$h" "${options[@]}" "${parallel[@]}" "$corpus" "${dirs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  # With several jobs each writes fuzz-<i>.log in the working directory.
  local logs=("$log")
  for f in fuzz-*.log; do [ -e "$f" ] && logs+=("$f"); done
  # Inputs run, summed over the jobs.
  inputs=$(cat "${logs[@]}" | awk '/^stat::number_of_executed_units/ {s += $2} END {print s + 0}')
  if [ $rc -ne 0 ]; then
    {
      echo "FAIL $h after $inputs inputs (status $rc); log: $log"
      cat "${logs[@]}" | grep -m 8 -E 'ERROR|FINDING|runtime error|Test unit written|SUMMARY' || true
      for f in "$root/$build/findings/$h"/crash-* "$root/$build/findings/$h"/leak-* "$root/$build/findings/$h"/timeout-* \
        "$root/$build/findings/$h"/oom-* "$root/$build/findings/$h"/slow-unit-*; do
        [ -e "$f" ] && [ "$f" -nt "$build/findings/$h/start" ] && echo "  replay the input:  $root/$build/fuzz/$h $f"
      done
      if [ "$replay" = 1 ]; then
        echo "  repeat this run:   FEMTOKIT_FUZZ_RUNS=$runs scripts/fuzz.sh --replay --seed $seed $1"
      fi
    } >"$build/findings/$h/verdict"
  else
    echo "ok   $h: $inputs inputs" >"$build/findings/$h/verdict"
  fi
  if [ ${#logs[@]} -gt 1 ]; then cat "${logs[@]:1}" >>"$log" && rm -f "${logs[@]:1}"; fi
}

# Heap and stack addresses steer a few code paths (and so libFuzzer's choice of
# inputs): a replay runs with address randomisation off where the system allows.
norandom=()
if [ "$replay" = 1 ]; then
  if setarch -R true 2>/dev/null; then
    norandom=(setarch -R)
  else
    echo "fuzz.sh: address randomisation cannot be turned off here; new inputs may differ from run to run" >&2
  fi
fi

running=0
for n in "${names[@]}"; do
  rm -f "$build/findings/fuzz_$n/verdict"
  mkdir -p "$build/findings/fuzz_$n" && touch "$build/findings/fuzz_$n/start"
  if [ "$parallel_harnesses" -gt 1 ]; then
    fuzz_one "$n" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel_harnesses" ]; then
      wait -n || true
      running=$((running - 1))
    fi
  else
    fuzz_one "$n"
  fi
done
wait

status=0
for n in "${names[@]}"; do
  verdict="$build/findings/fuzz_$n/verdict"
  if [ -f "$verdict" ]; then cat "$verdict"; else echo "FAIL fuzz_$n: no verdict" && status=1; fi
  [ -f "$verdict" ] && ! head -n 1 "$verdict" | grep -q '^ok' && status=1
done
exit $status
