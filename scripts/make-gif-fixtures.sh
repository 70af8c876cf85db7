#!/usr/bin/env bash
# Makes the GIF fixtures under tests/gif/fixtures with real tools, and the
# references the tests compare against:
#   - still_transparent.gif: pamtogif -transparent of a 6 x 4 picture (the
#     white pixels transparent); still_interlaced.gif: pamtogif -interlace.
#   - anim_*.gif: gifsicle animations of three 8 x 6 frames (the second and
#     third smaller and placed inside the screen, each with its own colours,
#     so the frames carry local tables):
#       anim_none.gif        --disposal none, --delay 10, --loopcount=0
#       anim_background.gif  --disposal background, --delay 5, --loopcount=3
#       anim_previous.gif    --disposal previous, --delay 0, transparent
#                            frames, --interlace, a --comment
#   - extensions.gif: gifbuild of a description holding a plain-text
#     extension, an application extension nobody registered, and a second,
#     interlaced frame with a local colour table (gifsicle merges the
#     frames' colours into one global table).
#   - Per fixture, raw frames by "giftopnm -image=all" split into
#     <name>.frame<N>.ppm (each frame at its own size, before any disposal)
#     and composed frames by "convert -coalesce" as <name>.coalesce<N>.ppm.
# Run from anywhere; the outputs are committed.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/gif/fixtures"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Pictures as plain PPM: rows of "r g b" triples.
ppm() { # name width height pixels...
    local name=$1 w=$2 h=$3
    shift 3
    { echo "P3 $w $h 255"; echo "$@"; } > "$name.ppm"
}

W='255 255 255' R='255 0 0' G='0 160 0' B='0 0 255' Y='250 220 0' K='0 0 0' P='128 0 128'
ppm still 6 4 "$W $R $R $W $G $W  $W $B $B $W $G $W  $R $R $W $W $Y $Y  $K $K $W $W $Y $Y"
pamtogif -transparent=rgb:ff/ff/ff still.ppm > "$out/still_transparent.gif"
pamtogif -interlace still.ppm > "$out/still_interlaced.gif"

ppm f1 8 6 "$(for i in $(seq 48); do [ $((i % 3)) = 0 ] && echo "$R" || echo "$W"; done)"
ppm f2 5 4 "$(for i in $(seq 20); do [ $((i % 2)) = 0 ] && echo "$B" || echo "$Y"; done)"
ppm f3 3 3 "$G $K $G  $K $P $K  $G $K $G"
for f in f1 f2 f3; do pamtogif "$f.ppm" > "$f.gif"; done
# Frames whose black is transparent, for the disposal "previous" file.
for f in f2 f3; do pamtogif -transparent=rgb:00/00/00 "$f.ppm" > "$f-t.gif"; done

gifsicle --disposal none --delay 10 --loopcount=0 \
    f1.gif --position 1,1 f2.gif --position 4,2 f3.gif > "$out/anim_none.gif"
gifsicle --disposal background --delay 5 --loopcount=3 \
    f1.gif --position 2,1 f2.gif --position 0,3 f3.gif > "$out/anim_background.gif"
gifsicle --disposal previous --delay 0 --interlace --comment "made by gifsicle" \
    f1.gif --position 3,2 f2-t.gif --position 5,0 f3-t.gif > "$out/anim_previous.gif"

cat > extensions.txt <<'DESC'
screen width 4
screen height 2
screen colors 4
screen background 0
pixel aspect byte 0

screen map
	rgb 255 000 000 is 0
	rgb 000 000 255 is 1
	rgb 255 255 255 is 2
	rgb 000 000 000 is 3
end

plaintext
\000\000\000\000\004\000\002\000\001\001\001\000
Hi
end

extension ff
VISTRELX1.0
abc
end

image # 1
image left 0
image top 0
image bits 4 by 2
0101
2323

image # 2
image left 1
image top 0
image interlaced
image map
	rgb 010 020 030 is 0
	rgb 040 050 060 is 1
	rgb 070 080 090 is 2
end
image bits 3 by 2
012
210
DESC
gifbuild extensions.txt > "$out/extensions.gif"

for gif in "$out"/*.gif; do
    name="$(basename "$gif" .gif)"
    rm -f "$out/$name".frame*.ppm "$out/$name".coalesce*.ppm
    giftopnm -image=all "$gif" 2>/dev/null | pnmsplit - "$out/$name.frame%d.ppm"
    convert "$gif" -coalesce -compress none "ppm:$work/$name.coalesce%d.ppm"
    for f in "$work/$name".coalesce*.ppm; do cp "$f" "$out/"; done
done
