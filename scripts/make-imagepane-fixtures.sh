#!/usr/bin/env bash
# Makes the fixtures of the image pane's tests in tests/app/fixtures/images:
# a five-page TIFF whose pages differ in size and colour, and a three-page
# TIFF whose second directory is damaged (its width is 0, which libtiff
# refuses), so only its first page can be read.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/app/fixtures/images"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

colours=(red green blue yellow white)
pages=()
for i in 0 1 2 3 4; do
  w=$((8 + i)); h=$((6 + i))
  convert -size "${w}x${h}" "xc:${colours[$i]}" -depth 8 "p$i.tif"
  pages+=("p$i.tif")
done
tiffcp -c none "${pages[@]}" "$out/five_pages.tif"
tiffcp -c none p0.tif p1.tif p2.tif three.tif
python3 - three.tif "$out/damaged_page2.tif" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
order = '<' if data[:2] == b'II' else '>'
first = struct.unpack(order + 'I', data[4:8])[0]
count = struct.unpack(order + 'H', data[first:first + 2])[0]
second = struct.unpack(order + 'I', data[first + 2 + 12 * count:first + 6 + 12 * count])[0]
n = struct.unpack(order + 'H', data[second:second + 2])[0]
for k in range(n):
    at = second + 2 + 12 * k
    tag, kind = struct.unpack(order + 'HH', data[at:at + 4])
    if tag == 256:  # ImageWidth
        data[at + 8:at + 12] = b'\0\0\0\0'
open(sys.argv[2], 'wb').write(data)
PY
