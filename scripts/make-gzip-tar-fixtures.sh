#!/usr/bin/env bash
# Makes the fixtures of the compress, gzip, TAR and text-encoded archive
# readers under tests/archive_extract/fixtures. Run from anywhere; the
# outputs are committed.
#
# lzw/: "compress -bN" for N = 10..16 of word text followed by random bytes
# (the random tail makes compress clear its full table). -b16 takes the
# whole text so that its codes grow through every width to 16 bits; the
# others a 48 KB prefix. expected.txt holds each file's decoded size and
# CRC-32 as "uncompress -c" gives them. There is no -b9 file: ncompress's
# encoder defines code 512 in a 9-bit stream, which no reader (its own
# neither) can take back.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/archive_extract/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C

# Size and CRC-32 of stdin, from gzip's trailer.
size_crc() { gzip -c | tail -c 8 | od -An -tu4 | awk '{ printf "%u %08x\n", $2, $1 }'; }

mkdir -p "$out/lzw"
rm -f "$out"/lzw/*
awk 'BEGIN { srand(7); split("the of and archive file entry code table string width group clear stream byte decode", v, " ");
  for (i = 0; i < 60000; i++) { w = v[1 + int(rand() * 15)]; if (rand() < 0.3) w = w sprintf("%c%c", 97 + int(rand() * 26), 97 + int(rand() * 26));
  printf "%s%s", w, (rand() < 0.1 ? "\n" : " ") } }' > "$work/text"
head -c 40000 /dev/urandom >> "$work/text"
head -c 48000 "$work/text" > "$work/short"
head -c 6000 /dev/urandom >> "$work/short"
for b in 10 11 12 13 14 15 16; do
  src="$work/short"; [ "$b" = 16 ] && src="$work/text"
  compress -b"$b" -c < "$src" > "$out/lzw/b$b.Z"
  uncompress -c < "$out/lzw/b$b.Z" | cmp -s - "$src"
  echo "b$b.Z $(uncompress -c < "$out/lzw/b$b.Z" | size_crc)"
done > "$out/lzw/expected.txt"
