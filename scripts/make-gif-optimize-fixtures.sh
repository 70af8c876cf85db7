#!/usr/bin/env bash
# Makes the animations the GIF optimisation tests run every pass over, in
# tests/gif/fixtures (all 8 x 8, made by gifsicle from ImageMagick frames):
#  opt_cleanup.gif  frames that clear to the background or restore the
#                   previous picture, with smaller and larger frames after
#                   them, one restoring over the cleared area; a loop count
#                   and a comment.
#  opt_crop.gif     transparent frames: an all-transparent first frame shown
#                   for no time (it holds the loop extension), an
#                   all-transparent frame after an opaque one, one that
#                   clears to the background, and frames with transparent
#                   borders, one of them clearing to the background.
#  opt_merge.gif    frames that repeat most of the frame before, one that
#                   restores the previous picture, and frames with colour
#                   tables of their own.
# The tests compare what ImageMagick composes (-coalesce) from each file
# before and after optimising, so no reference pictures are kept. The
# fixtures are committed; run again only to change one.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../tests/gif/fixtures"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

# frame NAME WxH BACKGROUND [draw commands...]
frame() {
  local name=$1 size=$2 bg=$3
  shift 3
  convert -size "$size" "xc:$bg" "$@" "$name.gif"
}

frame blue 8x8 '#2040c0'
frame red6 6x6 '#e02020'
frame green2 2x2 '#20c020'
frame yellow2 2x2 '#e0e020'
frame cyan4 4x4 '#20e0e0'
frame white8 8x8 white
frame white4 4x4 white
frame redbox 6x6 white -fill '#e02020' -draw 'rectangle 2,2 3,3'
frame greenbox 8x8 white -fill '#20c020' -draw 'rectangle 3,3 4,5'

gifsicle --logical-screen 8x8 --loopcount=3 --delay 10 \
  --disposal none blue.gif \
  --disposal background --position 1,1 red6.gif \
  --comment "green inside red" --disposal none --position 3,3 green2.gif \
  --disposal background --position 0,0 yellow2.gif \
  --disposal none --position 0,0 cyan4.gif \
  --disposal background --position 4,4 yellow2.gif \
  --disposal previous --position 4,4 cyan4.gif \
  --disposal none --position 0,6 green2.gif > "$out/opt_cleanup.gif"

gifsicle --logical-screen 8x8 --loopcount=2 \
  --delay 0 --disposal none --transparent '#ffffff' white8.gif \
  --delay 10 --no-transparent blue.gif \
  --delay 20 --transparent '#ffffff' white8.gif \
  --delay 10 --position 1,1 redbox.gif \
  --disposal background --position 2,2 white4.gif \
  --disposal background --position 0,0 greenbox.gif \
  --disposal none --no-transparent yellow2.gif > "$out/opt_crop.gif"

frame pattern 8x8 '#2040c0' -fill '#e02020' -draw 'rectangle 0,0 3,3' -fill '#20c020' -draw 'rectangle 4,4 7,7'
frame pattern2 8x8 '#2040c0' -fill '#e02020' -draw 'rectangle 0,0 3,3' -fill '#20c020' -draw 'rectangle 4,4 7,6'
frame pattern3 6x6 '#2040c0' -fill '#e0e020' -draw 'point 1,1' -fill '#e02020' -draw 'rectangle 0,0 1,0'
frame grey8 8x8 '#808080' -fill '#2040c0' -draw 'rectangle 2,2 5,5' -fill '#101010' -draw 'point 0,0'
gifsicle --logical-screen 8x8 --loopcount --delay 10 \
  --disposal none pattern.gif \
  --disposal none pattern2.gif \
  --disposal previous --position 2,2 cyan4.gif \
  --disposal none --position 0,0 pattern3.gif \
  --disposal none --position 0,0 grey8.gif \
  --disposal none --position 0,0 pattern.gif > "$out/opt_merge.gif"

for f in opt_cleanup opt_crop opt_merge; do gifsicle --cinfo "$out/$f.gif" | head -40; done
