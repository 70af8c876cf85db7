#!/usr/bin/env bash
# Installs what is missing, makes a release build and starts the program.
# Usage: ./run.sh [FILE]   (needs a display; without one: xvfb-run ./run.sh)
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DVISTREL_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target vistrel
exec build/release/app/vistrel "$@"
