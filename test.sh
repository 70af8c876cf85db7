#!/usr/bin/env bash
# Installs what is missing, builds with the sanitizers and runs every test headless.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=ON -DVISTREL_TESTS=ON >/dev/null
cmake --build build/test -j"$jobs"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build/test
ctest --output-on-failure -j"$jobs" --timeout 300
