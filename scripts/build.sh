#!/usr/bin/env bash
# Configures and builds Braskon into ./build (programs in ./build/bin).
#   scripts/build.sh                 everything: programs, tests, benchmarks
#   scripts/build.sh TARGET...       only these targets (and what they need)
#   BRASKON_WERROR=ON                compiler warnings fail the build (the tests'
#                                    run sets it; a user's build only warns)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASKON_WERROR="${BRASKON_WERROR:-OFF}" > /dev/null
if [ $# -eq 0 ]; then
  cmake --build build -j"$(nproc)"
else
  cmake --build build -j"$(nproc)" --target "$@"
fi
