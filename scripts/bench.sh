#!/usr/bin/env bash
# Makes a release build of one benchmark from bench/ and runs it.
# Usage: scripts/bench.sh NAME
# A benchmark is either a program bench_NAME or a script bench/NAME.sh that
# builds on it; it times ours and the peer in alternating pairs and its last
# line is "ratio <value> goal <= <goal>". Generated data goes to
# VISTREL_BENCH_DIR (default: vistrel-bench in the temporary folder).
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/bench.sh NAME}
scripts/install-deps.sh
# The machine may be shared: at most four compile jobs.
jobs=$(nproc)
if [ "$jobs" -gt 4 ]; then jobs=4; fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DVISTREL_TESTS=OFF -DVISTREL_BENCH=ON "${launcher[@]}" >/dev/null
cmake --build build/bench -j"$jobs" --target "bench_$name"
if [ -x "bench/$name.sh" ]; then
  exec "bench/$name.sh" build/bench/bench
fi
exec "build/bench/bench/bench_$name"
