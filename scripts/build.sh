#!/usr/bin/env bash
# Configures and builds Braskon into ./build (programs in ./build/bin).
#   scripts/build.sh                 everything: programs, tests, benchmarks
#   scripts/build.sh TARGET...       only these targets (and what they need)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
if [ $# -eq 0 ]; then
  cmake --build build -j"$(nproc)"
else
  cmake --build build -j"$(nproc)" --target "$@"
fi
