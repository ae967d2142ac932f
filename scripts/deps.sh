#!/usr/bin/env bash
# Installs what femtokit needs to build on Debian 12: a C++ compiler, CMake,
# GSL, GoogleTest and Google Benchmark, clang 14 with its libFuzzer and
# sanitizer runtimes for the fuzzing harnesses (scripts/fuzz.sh), CLI11 (the
# femtokit program's command line), gnuplot (its plots), and for the Python
# module pybind11, the Python headers, NumPy, pytest, Matplotlib, SciPy and
# iminuit (Debian's python3) with what pip and build need to install it
# offline (setuptools, wheel, build, venv), and the optional engines the build uses when present
# (so that CI tests them): zlib (gzip-compressed event files), HepMC3
# (HepMC event files) and OpenMPI (pair binning across processes), and
# Doxygen for the API reference (scripts/docs.sh). The build
# and tests also pass without the optional ones. Idempotent and quiet when
# all is there.
set -euo pipefail

need=()
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v make >/dev/null 2>&1 || need+=(make)
command -v clang++-14 >/dev/null 2>&1 || need+=(clang-14)
for pkg in libgsl-dev libgtest-dev libbenchmark-dev libclang-rt-14-dev libcli11-dev gnuplot-nox pybind11-dev \
  python3-dev python3-numpy python3-pytest python3-matplotlib python3-scipy \
  python3-build python3-venv python3-setuptools python3-wheel python3-iminuit \
  python3-pybind11 zlib1g-dev libhepmc3-dev libopenmpi-dev openmpi-bin doxygen; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >/dev/null
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
