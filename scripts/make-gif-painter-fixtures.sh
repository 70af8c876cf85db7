#!/usr/bin/env bash
# Makes the animation painter's fixtures in tests/gif/fixtures: 8 x 6
# animations by gifsicle, and the frames ImageMagick composes from them
# (-coalesce), each put on white, the colour the painter's target starts
# with:
#   painter_disposal.gif: frames that leave the screen as they were, restore
#     the background and restore the previous picture;
#   painter_disposal_first_previous.gif: a first frame that restores the
#     picture before it, the empty screen (white: the background colour, as
#     the target starts), then frames whose disposal field says 6 and 7,
#     values no method has, which every reader takes as "no disposal given".
# The fixtures are committed; run again only to add one.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../tests/gif/fixtures"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

convert -size 8x6 xc:'#2040c0' f0.gif
convert -size 4x3 xc:'#e02020' f1.gif
convert -size 3x3 xc:'#20c020' f2.gif
convert -size 2x2 xc:'#e0e020' f3.gif
gifsicle --logical-screen 8x6 --delay 5 \
  --disposal none f0.gif \
  --disposal background --position 1,1 f1.gif \
  --disposal previous --position 4,2 f2.gif \
  --disposal none --position 0,4 f3.gif > "$out/painter_disposal.gif"
convert "$out/painter_disposal.gif" -coalesce -background white -alpha remove -depth 8 "$tmp/frame_%d.ppm"
for i in 0 1 2 3; do cp "$tmp/frame_$i.ppm" "$out/painter_disposal_$i.ref.ppm"; done
convert -size 1x1 xc:white f4.gif
gifsicle --logical-screen 8x6 --background '#FFFFFF' --delay 5 \
  --disposal previous f0.gif \
  --disposal 6 --position 4,2 f2.gif \
  --disposal 7 --position 0,0 f3.gif \
  --disposal none --position 4,3 f1.gif \
  --position 7,0 f4.gif > "$out/painter_disposal_first_previous.gif"
convert "$out/painter_disposal_first_previous.gif" -coalesce -background white -alpha remove -depth 8 \
  "$tmp/first_previous_%d.ppm"
for i in 0 1 2 3 4; do cp "$tmp/first_previous_$i.ppm" "$out/painter_disposal_first_previous_$i.ref.ppm"; done
ls -l "$out"
