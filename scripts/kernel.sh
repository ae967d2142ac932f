#!/usr/bin/env bash
# Computes the kernel of one pair into kdata/<pair>:
#
#   scripts/kernel.sh <pair>      pair: pp, pkplus, ppiplus, pipluspiminus, nn
#
# Sets up, builds the kernel program, and runs it with the pair's parameter
# files data/<pair>/wfparameters.dat and data/<pair>/kparameters.dat unless a
# kernel computed from them by this build is already there. Prints the
# correlation function of a Gaussian source of a radius typical of the pair
# (also kept in kdata/<pair>/pairkernel.log).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

pair="${1:-}"
case "$pair" in
  pp) R=5 ;;
  pkplus | ppiplus | nn) R=3 ;;
  pipluspiminus) R=10 ;;
  *) echo "usage: scripts/kernel.sh <pair>   (pp, pkplus, ppiplus, pipluspiminus, nn)" >&2; exit 1 ;;
esac

scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target pairkernel >/dev/null

mkdir -p kdata
stamp="$(cat "data/$pair/wfparameters.dat" "data/$pair/kparameters.dat" build/pairkernel | sha256sum | cut -d' ' -f1)"
if [ -f "kdata/$pair/.stamp" ] && [ "$(cat "kdata/$pair/.stamp")" = "$stamp" ]; then
  echo "kdata/$pair is current"
else
  echo "computing the $pair kernel into kdata/$pair"
  rm -rf "kdata/$pair.new"
  mkdir -p "kdata/$pair.new"
  (cd "data/$pair" && "$root/build/pairkernel" "$pair" wfparameters.dat kparameters.dat "$root/kdata/$pair.new" "$R") \
    >"kdata/$pair.log"
  mv "kdata/$pair.log" "kdata/$pair.new/pairkernel.log"
  echo "$stamp" >"kdata/$pair.new/.stamp"
  rm -rf "kdata/$pair"
  mv "kdata/$pair.new" "kdata/$pair"
fi
sed -n '/wave function built/,/^kernel object deleted/p' "kdata/$pair/pairkernel.log" | grep -v '^kernel object deleted'
