#!/usr/bin/env bash
# Computes the kernel of one pair into kdata/<pair>:
#
#   scripts/kernel.sh <pair> [R]
#
# pair: pp, pkplus, ppiplus, pipluspiminus, nn (pairs with their own wave
# function), or pipluspiplus, kpluskplus, plambda, lambdalambda or any other
# directory data/<pair> whose wfparameters.dat describes a generic pair
# (CWaveFunction_generic).
# Sets up, builds the kernel program, and runs it with the pair's parameter
# files data/<pair>/wfparameters.dat and data/<pair>/kparameters.dat unless a
# kernel computed from them by this build is already there. Prints the
# correlation function of a Gaussian source of radius R, by default one
# typical of the pair (also kept in kdata/<pair>/pairkernel.log).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

pair="${1:-}"
usage="usage: scripts/kernel.sh <pair> [R]   (pp, pkplus, ppiplus, pipluspiminus, nn, pipluspiplus, kpluskplus, plambda, lambdalambda, or a generic pair's data directory name)"
kind="$pair"
case "$pair" in
  pp) R=5 ;;
  pkplus | ppiplus | nn) R=3 ;;
  pipluspiminus) R=10 ;;
  pipluspiplus) kind=generic; R=5 ;;
  kpluskplus) kind=generic; R=4 ;;
  plambda | lambdalambda) kind=generic; R=2 ;;
  "" | */* | .*) echo "$usage" >&2; exit 1 ;;
  *)
    if [ -f "data/$pair/wfparameters.dat" ] && [ -f "data/$pair/kparameters.dat" ]; then
      kind=generic; R=3
    else
      echo "$usage" >&2; exit 1
    fi ;;
esac
R="${2:-$R}"

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target pairkernel >/dev/null

mkdir -p kdata
# A generic pair's phase-shift tables (the other files of its directory) enter the stamp too.
stamp="$( (cat "data/$pair/wfparameters.dat" "data/$pair/kparameters.dat" build/pairkernel; echo "$R"
  if [ "$kind" = generic ]; then
    find "data/$pair" -maxdepth 1 -type f ! -name wfparameters.dat ! -name kparameters.dat | LC_ALL=C sort | xargs -r cat
  fi) | sha256sum | cut -d' ' -f1)"
if [ -f "kdata/$pair/.stamp" ] && [ "$(cat "kdata/$pair/.stamp")" = "$stamp" ]; then
  echo "kdata/$pair is current"
else
  echo "computing the $pair kernel into kdata/$pair"
  rm -rf "kdata/$pair.new"
  mkdir -p "kdata/$pair.new"
  (cd "data/$pair" && "$root/build/pairkernel" "$kind" wfparameters.dat kparameters.dat "$root/kdata/$pair.new" "$R") \
    >"kdata/$pair.log"
  mv "kdata/$pair.log" "kdata/$pair.new/pairkernel.log"
  echo "$stamp" >"kdata/$pair.new/.stamp"
  rm -rf "kdata/$pair"
  mv "kdata/$pair.new" "kdata/$pair"
fi
sed -n '/wave function built/,/^kernel object deleted/p' "kdata/$pair/pairkernel.log" | grep -v '^kernel object deleted'
