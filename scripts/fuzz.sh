#!/usr/bin/env bash
# Builds every libFuzzer target with the sanitizers and runs each for a while.
#
#   scripts/fuzz.sh [-m MINUTES] [-j JOBS] [TARGET...]
#
# MINUTES per target (default 5); JOBS targets at once (default: the number
# of cores); TARGET names without the fuzz_ prefix (default: all of them).
# Each target starts from its corpus in fuzz/corpus/<target> and from the
# test fixtures that suit it; what it finds new stays in the run folder
# ($VISTREL_FUZZ_DIR, default build/fuzz/runs), never in the repository.
# Prints a table: target, runs, coverage at the start and the end, findings
# (crash, leak, timeout and out-of-memory files, kept in the run folder).
# Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

minutes=5
jobs=$(nproc)
while getopts "m:j:" opt; do
  case $opt in
    m) minutes=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) echo "usage: $0 [-m MINUTES] [-j JOBS] [TARGET...]" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

all=$(sed -n 's/^vistrel_fuzz_target(fuzz_\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
targets=${*:-$all}
for t in $targets; do
  grep -qx "$t" <<<"$all" || { echo "no fuzz target '$t'" >&2; exit 2; }
done

# Test fixtures that make good seeds, by target: folders and name patterns.
declare -A seeds=(
  [imaging_decode]="tests/imaging/fixtures:* tests/gif/fixtures:*.gif"
  [exif]="tests/imaging/fixtures:*.jpg"
  [metafile]="tests/imaging/fixtures:*.wmf tests/imaging/fixtures:*.emf"
  [archive_list]="tests/archive/fixtures:* tests/archive_extract/fixtures:* tests/arc_arj/fixtures:* tests/arc_lzh/fixtures:* tests/arc_cab_rar/fixtures:*"
  [archive_extract]="tests/archive/fixtures:* tests/archive_extract/fixtures:* tests/arc_arj/fixtures:* tests/arc_lzh/fixtures:* tests/arc_cab_rar/fixtures:*"
  [rtf_read]="tests/app/fixtures:*.rtf"
  [mht_read]="tests/app/fixtures:*.mht tests/app/fixtures:*.html"
  [pdf_text]="tests/app/fixtures:*.pdf"
  [wav_header]="tests/app/fixtures:*.wav"
  [gif_load]="tests/gif/fixtures:*.gif tests/imaging/fixtures:*.gif"
  [gif_roundtrip]="tests/gif/fixtures:*.gif tests/imaging/fixtures:*.gif"
  [office_file]="tests/platform/fixtures/office:*"
)

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$top} CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISTREL_FUZZ=ON \
  -DVISTREL_SANITIZE=ON -DVISTREL_TESTS=OFF "${launcher[@]}" >/dev/null
# shellcheck disable=SC2046
cmake --build build/fuzz -j"$(nproc)" --target $(printf 'fuzz_%s ' $targets) >/dev/null

runs=${VISTREL_FUZZ_DIR:-$top/build/fuzz/runs}
mkdir -p "$runs"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Only the font caches that fontconfig keeps for the life of the process.
export LSAN_OPTIONS=suppressions=$top/fuzz/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen

run_one() {
  local t=$1 dir=$runs/$1
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/seeds" "$dir/findings"
  local spec folder pattern
  for spec in ${seeds[$t]:-}; do
    folder=${spec%%:*}
    pattern=${spec#*:}
    find "$top/$folder" -maxdepth 1 -type f -name "$pattern" -size -1M -exec cp -t "$dir/seeds" {} + 2>/dev/null || true
  done
  # The first folder takes what the run finds; the others are read only.
  # Findings and their reproducers go to findings/; after one, the target
  # goes on (fork mode), so one fault does not hide the rest.
  (cd "$dir/findings" &&
    "$top/build/fuzz/fuzz/fuzz_$t" -fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
      -max_total_time=$((minutes * 60)) -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$dir/findings/" \
      "$dir/corpus" "$top/fuzz/corpus/$t" "$dir/seeds" >"$dir/log" 2>&1) || true
  # libFuzzer's status lines: "#N ... cov: C ft: F ..." (fork mode: "#N: cov: C ...").
  local first last runs_done cov0 cov1 found
  first=$(grep -m1 -E '^#[0-9]+:? .*cov: ' "$dir/log" || true)
  last=$(grep -E '^#[0-9]+:? .*cov: ' "$dir/log" | tail -n 1 || true)
  runs_done=$(sed -E 's/^#([0-9]+).*/\1/' <<<"$last")
  cov0=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$first")
  cov1=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$last")
  # Fork mode counts what its jobs found ("oom/timeout/crash: O/T/C", leaks
  # among the crashes); the reproducers are the files in findings/.
  found=$(sed -nE 's#.*oom/timeout/crash: ([0-9]+)/([0-9]+)/([0-9]+).*#\1 \2 \3#p' <<<"$last" | awk '{print $1 + $2 + $3}')
  [ -n "$found" ] || found=$(find "$dir/findings" -maxdepth 1 -type f | wc -l)
  printf '%-20s %12s %10s %10s %9s\n' "$t" "${runs_done:-0}" "${cov0:-?}" "${cov1:-?}" "$found" >"$dir/row"
}
export -f run_one
SEEDS_DECL=$(declare -p seeds)
export top runs minutes SEEDS_DECL

echo "fuzzing $(wc -w <<<"$targets") targets for $minutes min each, $jobs at once; runs in $runs"
# shellcheck disable=SC2016
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'eval "$SEEDS_DECL"; run_one "$1"' _ {}

printf '%-20s %12s %10s %10s %9s\n' target runs cov-start cov-end findings
status=0
for t in $targets; do
  cat "$runs/$t/row"
  [ "$(awk '{print $5}' "$runs/$t/row")" = 0 ] || status=1
done
exit $status
