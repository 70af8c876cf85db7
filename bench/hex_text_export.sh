#!/usr/bin/env bash
# Exports a 64 MB file as hex text with our routine and with xxd -c 16 (both
# writing a file in the same folder), and prints both times and their ratio.
# Opening a 1.9 MB text file in the text view is printed above.
# Usage: bench/hex_text_export.sh BENCH_BUILD_DIR
set -euo pipefail
bin="${1:?usage: bench/hex_text_export.sh BENCH_BUILD_DIR}/bench_hex_text_export"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bin" --make-files="$dir"

out="$dir/out.txt"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} VXBENCH_DIR="$dir" "$bin" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true | tee "$out"
ours=$(awk '$1 == "BM_ExportHexText/real_time_median" { print $2 }' "$out")
view=$(awk '$1 == "BM_OpenTextView/real_time_median" { print $2 }' "$out")

times=()
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  xxd -c 16 "$dir/data.bin" > "$dir/xxd.txt"
  end=$(date +%s%N)
  times+=("$(( (end - start) / 1000 ))")
done
theirs=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p | awk '{ printf "%.3f", $1 / 1000 }')

echo "open_text_view 1.9 MB ${view} ms"
echo "hex_text_export 64 MB ours ${ours} ms, xxd -c 16 ${theirs} ms"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "ratio %.3f goal <= 2\n", a / b }'
