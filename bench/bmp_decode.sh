#!/usr/bin/env bash
# Decodes a 24-bit 4000 x 3000 BMP with our decoder and with netpbm's
# bmptopnm (output to /dev/null), and prints both times and their ratio.
# The RLE8 decode and the scaled drawing are printed above.
# Usage: bench/bmp_decode.sh BENCH_BUILD_DIR
set -euo pipefail
bin="${1:?usage: bench/bmp_decode.sh BENCH_BUILD_DIR}/bench_bmp_decode"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --make-files="$dir"

out="$dir/out.txt"
VXBENCH_DIR="$dir" "$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true | tee "$out"
# The median of our 24-bit decode, in milliseconds.
ours=$(awk '$1 == "BM_Decode24/real_time_median" { print $2 }' "$out")

# bmptopnm: the median of five runs.
times=()
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  bmptopnm "$dir/rgb24.bmp" > /dev/null 2>&1
  end=$(date +%s%N)
  times+=("$(( (end - start) / 1000 ))")
done
theirs=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p | awk '{ printf "%.3f", $1 / 1000 }')

echo "bmp_decode ours ${ours} ms, bmptopnm ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio %.3f goal <= 1\n", a / b }'
