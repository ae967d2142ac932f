#!/usr/bin/env bash
# The main job: sets up, builds, computes the proton-proton kernel (Reid93 +
# Coulomb) unless a current one exists, lays out the driver's working
# directory and runs the driver there.
#
#   run/parameters/pp/   array and kernel parameter files (copied from data/pp)
#   kdata/pp/            the kernel tables K_l(q, r)
#   run/work/            the driver's working directory; output in run/work/GX1d/
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

# The build is current when both programs are newer than every file they are
# built from; then set-up and build are skipped, so that a run with a cached
# kernel takes a fraction of a second. (FEMTOKIT_REBUILD=1 forces them.)
build_current() {
  [ "${FEMTOKIT_REBUILD:-0}" = 0 ] && [ -f build/CMakeCache.txt ] || return 1
  local program
  for program in build/femtodriver build/ppkernel; do
    [ -x "$program" ] || return 1
    [ -z "$(find CMakeLists.txt cmake config arrays source wavefunction kernel math fit apps -newer "$program" \
      -print -quit)" ] || return 1
  done
}
if ! build_current; then
  scripts/deps.sh
  # A first configuration leaves out the tests, benchmarks, tools and the
  # Python module, which the main job does not need (scripts/test.sh turns
  # them on); later ones keep what the build directory has.
  lean=()
  [ -f build/CMakeCache.txt ] || lean=(-DFEMTOKIT_BUILD_TESTS=OFF -DFEMTOKIT_BUILD_BENCH=OFF
    -DFEMTOKIT_BUILD_TOOLS=OFF -DFEMTOKIT_BUILD_PYTHON=OFF)
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${lean[@]}" >/dev/null
  cmake --build build -j "$(nproc)" --target femtodriver ppkernel >/dev/null
fi

mkdir -p run/parameters/pp run/work kdata
cp data/pp/aparsCH_source.dat data/pp/aparsCH_CF.dat data/pp/kparameters.dat run/parameters/pp/

# The kernel is current when it was computed from these parameter files by this
# build of the kernel program.
stamp="$(cat data/pp/wfparameters.dat data/pp/kparameters.dat build/ppkernel | sha256sum | cut -d' ' -f1)"
if [ ! -f kdata/pp/.stamp ] || [ "$(cat kdata/pp/.stamp)" != "$stamp" ]; then
  echo "computing the proton-proton kernel into kdata/pp"
  rm -rf kdata/pp.new
  mkdir -p kdata/pp.new
  (cd data/pp && "$root/build/ppkernel" wfparameters.dat kparameters.dat "$root/kdata/pp.new") >kdata/ppkernel.log
  tail -n 2 kdata/ppkernel.log | head -n 1
  mv kdata/ppkernel.log kdata/pp.new/ppkernel.log
  echo "$stamp" > kdata/pp.new/.stamp
  rm -rf kdata/pp
  mv kdata/pp.new kdata/pp
fi

cd run/work
"$root/build/femtodriver"
echo "output: $root/run/work/GX1d/pp (noisy C(q)-1) and $root/run/work/GX1d/pp_errors (errors)"
