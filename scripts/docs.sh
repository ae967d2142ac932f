#!/usr/bin/env bash
# Builds the API reference (Doxygen, from the public headers) into
# build/docs/api; any Doxygen warning fails it. The manual itself is the
# Markdown in docs/, read as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v doxygen >/dev/null 2>&1 || { echo "scripts/docs.sh: doxygen is missing (scripts/deps.sh installs it)" >&2; exit 1; }
mkdir -p build/docs
log=build/docs/doxygen-warnings.log
if ! doxygen docs/Doxyfile 2>"$log"; then
  cat "$log" >&2
  echo "scripts/docs.sh: Doxygen warnings (above) fail the API reference" >&2
  exit 1
fi
if [ -s "$log" ]; then cat "$log" >&2; exit 1; fi
echo "API reference: build/docs/api/index.html"
