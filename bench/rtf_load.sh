#!/usr/bin/env bash
# Makes two RTF documents of 10 MB: paragraphs of plain text, in the second
# one each with a group in a Cyrillic font (\fcharset204, its words in
# \'hh bytes of code page 1251). Then bench_rtf_load loads each into the
# rich-text view and times it against "unrtf --text" on the same file, in
# alternating pairs: the plain document is printed above, the one with the
# code-page groups is the last line.
# Usage: bench/rtf_load.sh BENCH_BUILD_DIR
set -euo pipefail
bin="${1:?usage: bench/rtf_load.sh BENCH_BUILD_DIR}/bench_rtf_load"
dir="${VISTREL_BENCH_DIR:-${TMPDIR:-/tmp}/vistrel-bench}"
mkdir -p "$dir"

# size: bytes to write at least; cp: 1 for a Cyrillic group per paragraph.
make_rtf() {
  awk -v size="$1" -v cp="$2" 'BEGIN {
    printf "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
    printf "{\\f1\\fswiss\\fcharset204 Arial Cyr;}}\r\n{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
    printf "\\viewkind4\\uc1\\pard\\f0\\fs24 "
    split("the quick brown fox jumps over the lazy dog and then runs far away into the forest", w, " ")
    # The Cyrillic words as RTF hex escapes of their bytes ("\047" is a quote).
    split("cf f0 e8 e2 e5 f2 - ec e8 f0", h, " ")
    cyr = ""
    for (i = 1; i in h; i++)
      cyr = cyr (h[i] == "-" ? " " : "\\\047" h[i])
    total = 0
    for (n = 0; total < size; n++) {
      line = "Paragraph " n ": "
      for (k = 0; k < 12; k++)
        line = line w[(n + k) % 17 + 1] " "
      if (cp)
        line = line "{\\f1 " cyr "} "
      line = line "{\\b bold} {\\cf1 red} end.\\par\r\n"
      printf "%s", line
      total += length(line)
    }
    printf "}\r\n"
  }'
}

make_rtf 10000000 0 > "$dir/rtf_load_plain.rtf"
make_rtf 10000000 1 > "$dir/rtf_load_codepages.rtf"
trap 'rm -f "$dir/rtf_load_plain.rtf" "$dir/rtf_load_codepages.rtf"' EXIT
"$bin" "$dir/rtf_load_plain.rtf" "$dir/rtf_load_codepages.rtf"
