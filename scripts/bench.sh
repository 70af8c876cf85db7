#!/usr/bin/env bash
# Makes a release build and runs one benchmark from bench/.
# Usage: scripts/bench.sh NAME
# A benchmark is either a program bench_NAME or a script bench/NAME.sh that
# builds on the programs; its last line is "ratio <value> goal <= <goal>".
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/bench.sh NAME}
scripts/install-deps.sh
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVISTREL_TESTS=OFF -DVISTREL_BENCH=ON >/dev/null
cmake --build build/bench -j"$(nproc)"
if [ -x "bench/$name.sh" ]; then
  exec "bench/$name.sh" build/bench/bench
fi
exec "build/bench/bench/bench_$name"
