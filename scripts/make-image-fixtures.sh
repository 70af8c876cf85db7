#!/usr/bin/env bash
# Makes the codec fixtures of tests/imaging/fixtures with netpbm and
# ImageMagick, each beside its reference decoding (.ref.pnm, or .ref.pam
# where the picture has alpha) made by the netpbm decoder of the same
# format, or by ImageMagick for what ImageMagick wrote. Run from anywhere; the fixtures are
# committed, so this only needs to run again when a fixture is added.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$here/../tests/imaging/fixtures"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"

# A 13 x 7 picture (odd sizes, so every row needs padding) with 91 colours.
awk 'BEGIN { w = 13; h = 7; printf "P3\n%d %d\n255\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++)
    printf "%d %d %d\n", (x * 19 + y * 7) % 256, (y * 37) % 256, (x * y * 11 + 50) % 256 }' > src.ppm
pnmquant 16 src.ppm > q16.ppm 2>/dev/null
pnmquant 2 src.ppm | ppmtopgm | pgmtopbm -threshold > bw.pbm 2>/dev/null
# 200 pixels wide: the WBMP width needs two bytes.
pbmmake -gray 200 3 > wide.pbm

q() { "$@" 2>/dev/null; }

# GIF, read by the image classes (the graphic class has its own fixtures):
# netpbm's pamtogif for stills of 2, 16 and 91 colours, interlaced frames
# of 1, 2, 3, 4 and 10 lines, and gifsicle for an animation whose second
# frame covers part of the first. References: giftopnm for the stills,
# ImageMagick's coalesced frames for the animation.
make_gif_fixtures() {
  q pamtogif src.ppm > "$out/gif_still91.gif"
  q pamtogif q16.ppm > "$out/gif_still16.gif"
  q pamtogif bw.pbm > "$out/gif_still2.gif"
  for f in still91 still16 still2; do q giftopnm "$out/gif_$f.gif" > "$out/gif_$f.ref.pnm"; done
  awk 'BEGIN { w = 11; h = 10; printf "P3\n%d %d\n255\n", w, h;
    for (y = 0; y < h; y++) for (x = 0; x < w; x++)
      printf "%d %d %d\n", (x * 23) % 256, (y * 25) % 256, (x * y * 7 + 90) % 256 }' > tall.ppm
  for h in 1 2 3 4 10; do
    pamcut -height "$h" tall.ppm > cut.ppm
    q pamtogif -interlace cut.ppm > "$out/gif_interlaced_h$h.gif"
    q giftopnm "$out/gif_interlaced_h$h.gif" > "$out/gif_interlaced_h$h.ref.pnm"
  done
  convert -size 13x7 xc:'#204080' f1.gif
  pamcut -left 3 -top 2 -width 6 -height 4 src.ppm | q pnmquant 8 | q pamtogif > f2.gif
  convert -size 13x7 xc:'#c0c020' f3.gif
  gifsicle --colors 256 --logical-screen 13x7 --delay 20 f1.gif --position 3,2 f2.gif --position 0,0 f3.gif > "$out/gif_anim3.gif"
  convert "$out/gif_anim3.gif" -coalesce -depth 8 "anim_%d.ppm"
  cp anim_1.ppm "$out/gif_anim3_frame1.ref.pnm"
  # Every disposal method: a full first frame, then frames with transparent
  # (black) pixels that go back to the background, give back the picture
  # before them, stay, and one more that stays. gifsicle puts their colours
  # in one global table; ImageMagick's coalesced frames, with alpha where
  # the background shows, are the references.
  printf 'P3 5 4 255\n0 0 0 224 32 32 224 32 32 0 0 0 224 32 32\n224 32 32 0 0 0 224 32 32 224 32 32 224 32 32\n'\
'224 32 32 224 32 32 224 32 32 0 0 0 224 32 32\n0 0 0 224 32 32 224 32 32 224 32 32 0 0 0\n' > t1.ppm
  printf 'P3 4 3 255\n32 192 32 0 0 0 32 192 32 32 192 32\n0 0 0 32 192 32 32 192 32 0 0 0\n'\
'32 192 32 32 192 32 0 0 0 32 192 32\n' > t2.ppm
  printf 'P3 3 3 255\n224 224 32 224 224 32 0 0 0\n224 224 32 0 0 0 224 224 32\n0 0 0 224 224 32 224 224 32\n' > t3.ppm
  for f in t1 t2 t3; do q pamtogif -transparent=rgb:00/00/00 $f.ppm > $f.gif; done
  gifsicle --logical-screen 13x7 --delay 5 f1.gif --disposal background --position 1,1 t1.gif \
    --disposal previous --position 6,2 t2.gif --disposal asis --position 8,3 t3.gif \
    --disposal none --position 2,3 t1.gif > "$out/gif_disposal.gif" 2>/dev/null
  convert "$out/gif_disposal.gif" -coalesce -depth 8 "disposal_%d.pam"
  for i in 0 1 2 3 4; do cp "disposal_$i.pam" "$out/gif_disposal.coalesce$i.ref.pam"; done
  # The screen around a first frame without transparency, and what that
  # frame gives back when it restores the picture before it: the screen's
  # background colour (blue, in the global table with the frame's red).
  # Then a frame with transparent pixels that goes back to the background,
  # and one more.
  printf 'P3 4 3 255\n224 32 32 224 32 32 224 32 32 32 64 192\n224 32 32 224 32 32 224 32 32 224 32 32\n'\
'224 32 32 224 32 32 224 32 32 224 32 32\n' > s0.ppm
  q pamtogif s0.ppm > s0.gif
  gifsicle --logical-screen 13x7 --background '#2040C0' --delay 5 --disposal previous --position 2,2 s0.gif \
    --disposal background --position 0,0 t2.gif --disposal none --position 9,4 t3.gif \
    > "$out/gif_screen_background.gif" 2>/dev/null
  convert "$out/gif_screen_background.gif" -coalesce -depth 8 "screen_%d.pam"
  for i in 0 1 2; do cp "screen_$i.pam" "$out/gif_screen_background.coalesce$i.ref.pam"; done
}
make_gif_fixtures
if [ "${1:-}" = gif ]; then exit 0; fi

# PAM (P7): netpbm's RGB, and ImageMagick's grey with alpha (8 bits) and
# RGB with alpha (16 bits), each against the tools' 8-bit reading.
make_pam_fixtures() {
  pamtopam < src.ppm > "$out/pam_rgb.pam"
  q pamtopnm "$out/pam_rgb.pam" > "$out/pam_rgb.ref.pnm"
  ppmtopgm src.ppm > grey.pgm
  pnminvert grey.pgm > greymask.pgm
  convert grey.pgm greymask.pgm -alpha off -compose CopyOpacity -composite -depth 8 pam:"$out/pam_ga.pam"
  convert src.ppm -alpha set -channel A -fx '((i*19+j*53)%256)/255' +channel -depth 16 pam:"$out/pam_rgba16.pam"
  for f in pam_ga pam_rgba16; do convert "$out/$f.pam" -depth 8 pam:"$out/$f.ref.pam"; done
}
make_pam_fixtures
if [ "${1:-}" = pam ]; then exit 0; fi

# Alpha and orientation as other readers keep them, on a 37 x 21 picture:
# PNG grey with alpha at 8 bits and colour with alpha at 16 (ImageMagick),
# and a colour file whose tRNS names a transparent colour (pnmtopng); TIFF
# with associated alpha (ImageMagick), unassociated alpha in 16 x 16 tiles
# and in separate planes (tiffcp of the fixture above), at 16 bits
# (ImageMagick), RGB pages of orientations 5 to 8 read in strips and one
# read through the RGBA reader, and CMYK; a JPEG 2000 file with an alpha
# component (opj_compress). References keep alpha: pngtopam, ImageMagick's
# reading, opj_decompress; pages are turned by ImageMagick's -auto-orient.
make_alpha_fixtures() {
  awk 'BEGIN { w = 37; h = 21; printf "P3\n%d %d\n255\n", w, h;
    for (y = 0; y < h; y++) for (x = 0; x < w; x++)
      printf "%d %d %d\n", (x * 7 + y * 3) % 256, (y * 12 + x) % 256, (x * y * 5 + 40) % 256 }' > a.ppm
  ppmtopgm a.ppm > a.pgm
  pnminvert a.pgm > amask.pgm
  png() { target=$1; shift; convert "$@" -strip -define png:exclude-chunks=date,time "$target"; }
  png "$out/png_ga8.png" a.pgm amask.pgm -alpha off -compose CopyOpacity -composite \
    -define png:bit-depth=8 -define png:color-type=4
  png "$out/png_rgba16.png" a.ppm amask.pgm -alpha off -compose CopyOpacity -composite \
    -define png:bit-depth=16 -define png:color-type=6
  first=$(pnmcut 0 0 1 1 a.ppm | pnmnoraw | tail -1 | awk '{ printf "rgb:%02x/%02x/%02x", $1, $2, $3 }')
  q pnmtopng -transparent="=$first" a.ppm > "$out/png_rgb_trns.png"
  for f in png_ga8 png_rgba16; do q pngtopam -alphapam "$out/$f.png" > "$out/$f.ref.pam"; done
  # pngtopam leaves a colour key of an RGB file opaque; ImageMagick does not.
  convert "$out/png_rgb_trns.png" -depth 8 pam:"$out/png_rgb_trns.ref.pam"

  convert a.ppm amask.pgm -alpha off -compose CopyOpacity -composite rgba.png
  convert rgba.png -define tiff:alpha=associated -compress lzw "$out/tif_rgba_assoc.tif"
  convert "$out/tif_rgba_assoc.tif" -depth 8 pam:"$out/tif_rgba_assoc.ref.pam"
  tiffcp -c lzw -t -w 16 -l 16 "$out/tif_rgba.tif" "$out/tif_rgba_tiled.tif"
  tiffcp -p separate "$out/tif_rgba.tif" "$out/tif_rgba_planar.tif"
  convert rgba.png -depth 16 -compress lzw "$out/tif_rgba16.tif"
  convert "$out/tif_rgba16.tif" -depth 8 pam:"$out/tif_rgba16.ref.pam"
  for o in 5 6 7 8; do
    cp "$out/tif_rgb.tif" "$out/tif_rgb_orient$o.tif"
    tiffset -s 274 $o "$out/tif_rgb_orient$o.tif"
    convert "$out/tif_rgb_orient$o.tif" -auto-orient -depth 8 ppm:"$out/tif_rgb_orient$o.ref.pnm"
  done
  cp "$out/tif_rgba_tiled.tif" "$out/tif_rgba_tiled_orient6.tif"
  tiffset -s 274 6 "$out/tif_rgba_tiled_orient6.tif"
  convert "$out/tif_rgba_tiled_orient6.tif" -auto-orient -depth 8 pam:"$out/tif_rgba_tiled_orient6.ref.pam"
  convert a.ppm -colorspace CMYK -compress lzw "$out/tif_cmyk.tif"
  convert "$out/tif_cmyk.tif" -colorspace sRGB -depth 8 ppm:"$out/tif_cmyk.ref.pnm"

  q opj_compress -i rgba.png -o "$out/jp2_rgba.jp2" -n 3
  q opj_decompress -i "$out/jp2_rgba.jp2" -o jp2back.png
  q pngtopam -alphapam jp2back.png > "$out/jp2_rgba.ref.pam"
}
if [ "${1:-}" = alpha ]; then
  make_alpha_fixtures
  exit 0
fi

# CMYK at 16 bits a sample, which libtiff's RGBA reader cannot take: a
# 16-bit picture of levels between the 8-bit ones, made CMYK by ImageMagick;
# the reference is ImageMagick's sRGB reading of it.
make_cmyk16_fixtures() {
  awk 'BEGIN { w = 23; h = 11; printf "P3\n%d %d\n65535\n", w, h;
    for (y = 0; y < h; y++) for (x = 0; x < w; x++)
      printf "%d %d %d\n", (x * 2851 + y * 97) % 65536, (y * 5923 + x * 131) % 65536, (x * y * 1013 + 4099) % 65536 }' > c16.ppm
  convert c16.ppm -colorspace CMYK -depth 16 -compress zip "$out/tif_cmyk16.tif"
  convert "$out/tif_cmyk16.tif" -colorspace sRGB -depth 8 ppm:"$out/tif_cmyk16.ref.pnm"
}
if [ "${1:-}" = cmyk16 ]; then
  make_cmyk16_fixtures
  exit 0
fi

# BMP: 24, 8, 4 and 1 bit, the 12-byte core header, RLE8, and a 124-byte header.
q ppmtobmp -bpp=24 src.ppm > "$out/bmp24.bmp"
q ppmtobmp -bpp=8 src.ppm > "$out/bmp8.bmp"
q ppmtobmp -bpp=4 q16.ppm > "$out/bmp4.bmp"
q ppmtobmp -bpp=1 bw.pbm > "$out/bmp1.bmp"
q ppmtobmp -os2 -bpp=8 src.ppm > "$out/bmp8_core.bmp"
convert src.ppm -colors 200 -compress RLE BMP3:"$out/bmp8_rle8.bmp"
convert src.ppm -type TrueColor BMP:"$out/bmp24_v5.bmp"

# ImageMagick's own BMP writer: 124-byte headers that give a palette count,
# run-length coding for 8 bits by default, 16 bits with bit fields (5-6-5
# and 5-5-5), 32 bits with an alpha mask. (Its 40-byte BMP3 header with
# bit fields comes without the masks, so that file is no fixture.)
convert src.ppm -alpha set -channel A -fx '((i*19+j*53)%256)/255' +channel alpha.pam
convert src.ppm -colors 200 -compress none BMP:"$out/bmp8_v5.bmp"
convert src.ppm -colors 200 BMP:"$out/bmp8_rle8_v5.bmp"
convert src.ppm -colors 16 BMP:"$out/bmp4_v5.bmp"
convert bw.pbm -colors 2 BMP:"$out/bmp1_v5.bmp"
convert src.ppm -define bmp:subtype=RGB565 BMP:"$out/bmp16_565_v5.bmp"
convert src.ppm -define bmp:subtype=RGB555 BMP:"$out/bmp16_555_v5.bmp"
convert alpha.pam BMP:"$out/bmp32_alpha.bmp"

# Icons: one 16-colour image, and three images of different sizes.
q ppmtowinicon q16.ppm > "$out/ico4.ico"
pnmscale -xsize 8 -ysize 8 src.ppm > s8.ppm 2>/dev/null
pnmscale -xsize 16 -ysize 16 src.ppm > s16.ppm 2>/dev/null
q ppmtowinicon -truetransparent s8.ppm s16.ppm src.ppm > "$out/ico3.ico" || q ppmtowinicon s8.ppm s16.ppm src.ppm > "$out/ico3.ico"
# ImageMagick's icons: a 256-pixel PNG entry (size byte 0), then 48 and 16
# pixels at 32 bits with alpha and an AND mask (scaled by pixel
# replication, which keeps the PNG small).
convert alpha.pam -filter point -define icon:auto-resize=256,48,16 ICO:"$out/ico_png256.ico"

# WBMP.
q pbmtowbmp bw.pbm > "$out/wbmp.wbmp"
q pbmtowbmp wide.pbm > "$out/wbmp_wide.wbmp"

# PCX: 24-bit (3 planes), 256 colours, 16 colours in 4 planes, 4-bit packed, monochrome.
q ppmtopcx -24bit src.ppm > "$out/pcx24.pcx"
q ppmtopcx -8bit src.ppm > "$out/pcx8.pcx"
q ppmtopcx -planes=4 q16.ppm > "$out/pcx4planes.pcx"
q ppmtopcx -packed q16.ppm > "$out/pcx4packed.pcx"
q ppmtopcx bw.pbm > "$out/pcx1.pcx"
# ImageMagick's PCX: 24 bits, 256 colours, and four planes with alpha.
convert src.ppm PCX:"$out/pcx24_im.pcx"
convert src.ppm -colors 200 PCX:"$out/pcx8_im.pcx"
convert alpha.pam PCX:"$out/pcx32_alpha.pcx"

# Targa: true colour plain and run-length, colour-mapped plain and run-length, grey.
q ppmtotga -rgb -norle src.ppm > "$out/tga24.tga"
q ppmtotga -rgb src.ppm > "$out/tga24_rle.tga"
q ppmtotga -cmap -norle src.ppm > "$out/tga8_cmap.tga"
q ppmtotga -cmap src.ppm > "$out/tga8_cmap_rle.tga"
q ppmtotga -mono src.ppm > "$out/tga8_grey_rle.tga"
# ImageMagick's Targa with alpha, plain and run-length.
convert alpha.pam TGA:"$out/tga32_alpha.tga"
convert alpha.pam -compress RLE TGA:"$out/tga32_alpha_rle.tga"

# ---- TIFF, JPEG and PNG ----
# A 37 x 21 picture: odd sizes, wider than one 16-pixel tile.
awk 'BEGIN { w = 37; h = 21; printf "P3\n%d %d\n255\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++)
    printf "%d %d %d\n", (x * 7 + y * 3) % 256, (y * 12 + x) % 256, (x * y * 5 + 40) % 256 }' > big.ppm
ppmtopgm big.ppm > big.pgm
pgmtopbm -threshold big.pgm > big.pbm
for n in 2 4 16 200; do pnmquant $n big.ppm > big$n.ppm 2>/dev/null; done

# TIFF: strips of 4 rows uncompressed, then tiffcp's compressions, 16 x 16
# tiles, the grey depths, palettes of 1 to 8 bits, alpha, three pages,
# orientation 3 and a resolution in centimetres.
q pnmtotiff -none -rowsperstrip 4 big.ppm > "$out/tif_rgb.tif"
tiffcp -c lzw:2 -r 5 "$out/tif_rgb.tif" "$out/tif_rgb_lzw.tif"
tiffcp -c packbits "$out/tif_rgb.tif" "$out/tif_rgb_packbits.tif"
tiffcp -c zip "$out/tif_rgb.tif" "$out/tif_rgb_deflate.tif"
tiffcp -c jpeg:r:90 -r 16 "$out/tif_rgb.tif" "$out/tif_rgb_jpeg.tif"
tiffcp -c jpeg:90 -r 16 "$out/tif_rgb.tif" "$out/tif_ycbcr_jpeg.tif"
tiffcp -c lzw -t -w 16 -l 16 "$out/tif_rgb.tif" "$out/tif_rgb_tiled.tif"
q pnmtotiff -lzw -rowsperstrip 8 big.pgm > "$out/tif_grey8.tif"
tiffcp -c packbits -t -w 16 -l 16 "$out/tif_grey8.tif" "$out/tif_grey8_tiled.tif"
pamdepth 65535 big.pgm | q pnmtotiff -none > "$out/tif_grey16.tif"
pamdepth 15 big.pgm | q pnmtotiff -none > "$out/tif_grey4.tif"
pamdepth 3 big.pgm | q pnmtotiff -none > "$out/tif_grey2.tif"
q pnmtotiff -g4 big.pbm > "$out/tif_bw_g4.tif"
q pnmtotiff -lzw big200.ppm > "$out/tif_pal8.tif"
convert big16.ppm -type Palette -depth 4 "$out/tif_pal4.tif"
convert big4.ppm -type Palette -depth 2 "$out/tif_pal2.tif"
convert big2.ppm -type Palette -depth 1 "$out/tif_pal1.tif"
convert big.ppm \( big.pgm -negate \) -alpha off -compose CopyOpacity -composite -compress lzw "$out/tif_rgba.tif"
tiffcp "$out/tif_bw_g4.tif" "$out/tif_pal4.tif" "$out/tif_rgb_lzw.tif" "$out/tif_pages.tif"
for o in 3 5 6 7 8; do
  cp "$out/tif_grey8.tif" "$out/tif_orient$o.tif"
  tiffset -s 274 $o "$out/tif_orient$o.tif"
done
cp "$out/tif_grey8.tif" "$out/tif_cm.tif"
tiffset -s 296 3 "$out/tif_cm.tif"
tiffset -s 282 118.11 "$out/tif_cm.tif"
tiffset -s 283 118.11 "$out/tif_cm.tif"

# JPEG: cjpeg at quality 90, grey and progressive; ImageMagick's CMYK
# (Adobe's inverted values); EXIF blocks written by exiftool, little- and
# big-endian, with a thumbnail, and with an ISO of 2 and an orientation of 9.
cjpeg -quality 90 big.ppm > "$out/jpg_rgb.jpg"
cjpeg -quality 90 -grayscale big.ppm > "$out/jpg_grey.jpg"
cjpeg -quality 90 -progressive big.ppm > "$out/jpg_progressive.jpg"
convert big.ppm -colorspace CMYK -quality 90 "$out/jpg_cmyk.jpg"
cp "$out/jpg_rgb.jpg" "$out/jpg_exif_ii.jpg"
exiftool -q -overwrite_original -ExifByteOrder=II -Make=Vistrel "-Model=Test Camera" \
  "-DateTimeOriginal=2024:01:02 03:04:05" -XResolution=72 -YResolution=72 -ResolutionUnit=inches \
  -ExposureTime=1/125 -FNumber=5.6 -ISO=200 -Orientation#=6 -FocalLength=35 -EXIF:Flash#=1 \
  "-UserComment=hello exif" "-Comment=a comment" "$out/jpg_exif_ii.jpg"
pnmscale -xsize 8 -ysize 5 big.ppm 2>/dev/null | cjpeg > thumb.jpg
cp "$out/jpg_rgb.jpg" "$out/jpg_exif_mm.jpg"
exiftool -q -overwrite_original -ExifByteOrder=MM -Make=Vistrel -XResolution=300 -YResolution=300 \
  -ResolutionUnit=inches "-ThumbnailImage<=thumb.jpg" -IFD1:XResolution=300 -IFD1:YResolution=300 \
  "$out/jpg_exif_mm.jpg"
cp "$out/jpg_rgb.jpg" "$out/jpg_exif_iso2.jpg"
exiftool -q -overwrite_original -ISO=2 -Orientation#=9 "$out/jpg_exif_iso2.jpg"

# PNG: pnmtopng's colour, grey (8, 2 and 1 bit), palettes of 8, 4 and 2
# bits, a palette and a grey file with tRNS, interlaced files, 16 bits,
# alpha and pHYs; ImageMagick's interlaced alpha and 16-bit grey with alpha
# (without its date chunks, so the files stay the same).
pamdepth 3 big.pgm > grey2.pgm
pnminvert big.pgm > mask.pgm
# 16-bit samples whose low bytes differ from their high bytes.
awk 'BEGIN { w = 37; h = 21; printf "P3\n%d %d\n65535\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++)
    printf "%d %d %d\n", (x * 1789 + y * 997) % 65536, (y * 4099 + x * 13) % 65536, (x * y * 211 + 7) % 65536 }' > wide.ppm
q pnmtopng big.ppm > "$out/png_rgb.png"
q pnmtopng big.pgm > "$out/png_grey8.png"
q pnmtopng grey2.pgm > "$out/png_grey2.png"
q pnmtopng big.pbm > "$out/png_bw.png"
q pnmtopng big200.ppm > "$out/png_pal8.png"
q pnmtopng big16.ppm > "$out/png_pal4.png"
q pnmtopng big4.ppm > "$out/png_pal2.png"
first16=$(pnmcut 0 0 1 1 big16.ppm | pnmnoraw | tail -1 | awk '{ printf "rgb:%02x/%02x/%02x", $1, $2, $3 }')
q pnmtopng -transparent="=$first16" big16.ppm > "$out/png_pal_trns.png"
firstgrey=$(pnmcut 0 0 1 1 big.pgm | pnmnoraw | tail -1 | awk '{ printf "rgb:%02x/%02x/%02x", $1, $1, $1 }')
q pnmtopng -transparent="=$firstgrey" big.pgm > "$out/png_grey_trns.png"
q pnmtopng -interlace big.ppm > "$out/png_interlaced.png"
q pnmtopng -interlace grey2.pgm > "$out/png_grey2_interlaced.png"
q pnmtopng wide.ppm > "$out/png_rgb16.png"
q pnmtopng -alpha=mask.pgm big.ppm > "$out/png_rgba.png"
q pnmtopng -size="2835 2835 1" big.ppm > "$out/png_phys.png"
png() { target=$1; shift; convert "$@" -strip -define png:exclude-chunks=date,time "$target"; }
png "$out/png_rgba_interlaced.png" big.ppm mask.pgm -alpha off -compose CopyOpacity -composite -interlace PNG
png "$out/png_ga16.png" big.pgm mask.pgm -alpha off -compose CopyOpacity -composite \
  -define png:bit-depth=16 -define png:color-type=4

# Reference decodings by the netpbm decoders; ImageMagick decodes what
# bmptopnm does not read (run-length BMP).
for f in "$out"/bmp{24,24_v5,8,4,1,8_core,8_rle8}.bmp; do
  q bmptopnm "$f" > "${f%.bmp}.ref.pnm" || convert "$f" -depth 8 ppm:"${f%.bmp}.ref.pnm"
done
for f in bmp8_v5 bmp8_rle8_v5 bmp4_v5 bmp1_v5 bmp16_565_v5 bmp16_555_v5; do
  convert "$out/$f.bmp" -depth 8 ppm:"$out/$f.ref.pnm"
done
# With alpha: PAM references that keep it.
convert "$out/bmp32_alpha.bmp" -depth 8 pam:"$out/bmp32_alpha.ref.pam"
convert "$out/ico_png256.ico[1]" -depth 8 pam:"$out/ico_png256_frame1.ref.pam"
convert "$out/ico_png256.ico[2]" -depth 8 pam:"$out/ico_png256_frame2.ref.pam"
for f in "$out"/pcx{24,8,4planes,4packed,1}.pcx; do q pcxtoppm "$f" > "${f%.pcx}.ref.pnm"; done
for f in "$out"/tga{24,24_rle,8_cmap,8_cmap_rle,8_grey_rle}.tga; do q tgatoppm "$f" > "${f%.tga}.ref.pnm"; done
for f in pcx24_im pcx8_im; do convert "$out/$f.pcx" -depth 8 ppm:"$out/$f.ref.pnm"; done
# ImageMagick's Targa reader keeps the rows in file order and only notes the
# orientation, so its references are turned the way the file says.
for f in pcx32_alpha.pcx tga32_alpha.tga tga32_alpha_rle.tga; do
  convert "$out/$f" -auto-orient -depth 8 pam:"$out/${f%.*}.ref.pam"
done
for f in "$out"/*.wbmp; do q wbmptopbm "$f" > "${f%.wbmp}.ref.pnm"; done
# tifftopnm writes every page of a file: each page of the multi-page file
# gets its own reference.
# tifftopnm knows no YCbCr: libtiff's own tiff2rgba converts that file first.
for f in "$out"/tif_*.tif; do
  case "$f" in
  */tif_pages.tif) ;;
  # tifftopnm does not turn pages whose rows are columns (orientations 5 to
  # 8); ImageMagick does.
  */tif_orient[5-8].tif) convert "$f" -auto-orient -depth 8 pgm:"${f%.tif}.ref.pnm" ;;
  */tif_ycbcr_jpeg.tif) tiff2rgba -n "$f" rgb.tif; q tifftopnm rgb.tif > "${f%.tif}.ref.pnm"; rm rgb.tif ;;
  # tifftopnm premultiplies unassociated alpha; images keep the colours as
  # stored, as ImageMagick reads them.
  */tif_rgba.tif) convert "$f" -depth 8 pam:"${f%.tif}.ref.pam" ;;
  *) q tifftopnm "$f" > "${f%.tif}.ref.pnm" ;;
  esac
done
for p in 0 1 2; do
  tiffcp "$out/tif_pages.tif,$p" page.tif
  q tifftopnm page.tif > "$out/tif_pages_$p.ref.pnm"
  rm page.tif
done
# djpeg converts CMYK with rounding, the decoder truncates as its format's
# rule says: the CMYK reference may differ by one.
for f in "$out"/jpg_*.jpg; do q djpeg -pnm "$f" > "${f%.jpg}.ref.pnm"; done
# How ImageMagick shows the four-colour file (its writer makes YCCK).
convert "$out/jpg_cmyk.jpg" -colorspace sRGB -depth 8 ppm:"$out/jpg_cmyk.im.ref.pnm"
# The same file decoded to grey, and quantised to 16 colours (two passes,
# Floyd-Steinberg dithering: libjpeg's defaults, which the decoder keeps).
q djpeg -pnm -grayscale "$out/jpg_rgb.jpg" > "$out/jpg_rgb.grey.ref.pnm"
q djpeg -pnm -colors 16 "$out/jpg_rgb.jpg" > "$out/jpg_rgb.q16.ref.pnm"
# Palette files keep their colours, with tRNS as alpha. Files with an alpha
# channel, or a colour key (tRNS) that makes one, have their reference with
# alpha.
for f in "$out"/png_*.png; do
  case "$f" in
  */png_rgba*.png | */png_ga16.png | */png_grey_trns.png) q pngtopam -alphapam "$f" > "${f%.png}.ref.pam" ;;
  *) q pngtopam "$f" > "${f%.png}.ref.pnm" ;;
  esac
done
# winicontoppm refuses icons that are not square; ImageMagick reads them.
convert "$out/ico4.ico" -depth 8 ppm:"$out/ico4.ref.pnm"
convert "$out/ico3.ico[2]" -depth 8 ppm:"$out/ico3_frame2.ref.pnm"
# The entry nearest 32 x 32, which the class library's icon shows.
convert "$out/ico3.ico[1]" -depth 8 ppm:"$out/ico3_frame1.ref.pnm"

# The JPEG 2000 family. A 37 x 23 picture: large enough for four wavelet
# resolutions. JPEG 2000 by opj_compress (lossy at ratio 20, lossless,
# grey, 12-bit grey, and a 4:2:0 YCbCr raw picture as code stream and as an
# sYCC JP2), each decoded by opj_decompress as its reference; PGX written by
# opj_decompress from the grey code streams; PNM in every form netpbm
# writes; Sun raster by pnmtorast (runs by default, -standard, 24 bits,
# grey, monochrome) against rasttopnm. Precisions above 8 bits are
# referenced at 8 bits by pamdepth.
awk 'BEGIN { w = 37; h = 23; printf "P3\n%d %d\n255\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++)
    printf "%d %d %d\n", (x * 7 + y * 3) % 256, (y * 11 + x) % 256, (x * y * 3 + 50) % 256 }' > j.ppm
# A smooth grey ramp: at the encoder's default rate (0.9 of the raw size)
# it still fits losslessly, so it round-trips unchanged.
awk 'BEGIN { w = 37; h = 23; printf "P2\n%d %d\n255\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++) printf "%d\n", x * 5 + y * 3 }' > j.pgm
awk 'BEGIN { w = 37; h = 23; printf "P2\n%d %d\n4095\n", w, h;
  for (y = 0; y < h; y++) for (x = 0; x < w; x++) printf "%d\n", (x * 97 + y * 151) % 4096 }' > j12.pgm
# Y at full size, then Cb and Cr at half size each way (19 x 12). Byte
# values need the C locale, or awk writes characters above 127 as UTF-8.
LC_ALL=C awk 'BEGIN { for (y = 0; y < 23; y++) for (x = 0; x < 37; x++) printf "%c", (x * 6 + y * 4) % 256;
  for (y = 0; y < 12; y++) for (x = 0; x < 19; x++) printf "%c", 100 + x * 3;
  for (y = 0; y < 12; y++) for (x = 0; x < 19; x++) printf "%c", 90 + y * 6 }' > j420.raw
# Two components, the first subsampled: the second is wider than the first.
LC_ALL=C awk 'BEGIN { for (y = 0; y < 12; y++) for (x = 0; x < 19; x++) printf "%c", 10 + x * 5 + y;
  for (y = 0; y < 23; y++) for (x = 0; x < 37; x++) printf "%c", (x * 6 + y * 4) % 256 }' > j2c.raw
q opj_compress -i j2c.raw -o "$out/j2k_two_cmpts.j2k" -n 3 -F 37,23,2,8,u@2x2:1x1
q opj_compress -i j.ppm -o "$out/jp2_rgb.jp2" -r 20 -n 4
q opj_compress -i j.ppm -o "$out/j2k_rgb.j2k" -n 4
q opj_compress -i j.pgm -o "$out/jp2_grey.jp2" -n 4
q opj_compress -i j12.pgm -o "$out/j2k_grey12.j2k" -n 4
q opj_compress -i j420.raw -o "$out/j2k_ycc420.j2k" -n 3 -F 37,23,3,8,u@1x1:2x2:2x2
q opj_compress -i j420.raw -o "$out/jp2_sycc420.jp2" -n 3 -F 37,23,3,8,u@1x1:2x2:2x2
q opj_decompress -i "$out/jp2_grey.jp2" -o "$out/pgx8.pgx"
mv "$out/pgx8_0.pgx" "$out/pgx8.pgx" 2>/dev/null || true
q opj_decompress -i "$out/j2k_grey12.j2k" -o "$out/pgx12.pgx"
mv "$out/pgx12_0.pgx" "$out/pgx12.pgx" 2>/dev/null || true
for f in jp2_rgb.jp2 j2k_rgb.j2k j2k_ycc420.j2k jp2_sycc420.jp2; do
  q opj_decompress -i "$out/$f" -o "$tmp/ref.ppm"; cp "$tmp/ref.ppm" "$out/${f%.*}.ref.pnm"
done
q opj_decompress -i "$out/jp2_grey.jp2" -o "$tmp/ref.pgm"; cp "$tmp/ref.pgm" "$out/jp2_grey.ref.pnm"
cp "$out/jp2_grey.ref.pnm" "$out/pgx8.ref.pnm"
# Its second component as opj_decompress writes it (8-bit PGX: a header
# line, then one byte a sample), made a PGM.
q opj_decompress -i "$out/j2k_two_cmpts.j2k" -o "$tmp/two.pgx"
{ printf 'P5\n37 23\n255\n'; tail -c 851 "$tmp/two_1.pgx"; } > "$out/j2k_two_cmpts_frame1.ref.pnm"
q opj_decompress -i "$out/j2k_grey12.j2k" -o "$tmp/ref.pgm"; pamdepth 255 "$tmp/ref.pgm" > "$out/j2k_grey12.ref.pnm"
cp "$out/j2k_grey12.ref.pnm" "$out/pgx12.ref.pnm"

pnmtopnm j.ppm > "$out/pnm_p6.ppm" 2>/dev/null || cp j.ppm "$out/pnm_p6.ppm"
q pamtopnm -plain < "$out/pnm_p6.ppm" > "$out/pnm_p3.ppm" || q pnmtoplainpnm "$out/pnm_p6.ppm" > "$out/pnm_p3.ppm"
q pnmtopnm j.pgm > "$out/pnm_p5.pgm" || cp j.pgm "$out/pnm_p5.pgm"
q pnmtoplainpnm "$out/pnm_p5.pgm" > "$out/pnm_p2.pgm"
q pamdepth 65535 "$out/pnm_p6.ppm" > "$out/pnm_p6_16bit.ppm"
pgmtopbm -threshold j.pgm > "$out/pnm_p4.pbm" 2>/dev/null
q pnmtoplainpnm "$out/pnm_p4.pbm" > "$out/pnm_p1.pbm"
q pamdepth 100 "$out/pnm_p5.pgm" > "$out/pnm_p5_maxval100.pgm"
for f in pnm_p6.ppm pnm_p3.ppm pnm_p5.pgm pnm_p2.pgm pnm_p4.pbm pnm_p1.pbm; do
  q pamtopnm < "$out/$f" > "$out/${f%.*}.ref.pnm" || q pnmtopnm "$out/$f" > "$out/${f%.*}.ref.pnm"
done
q pamdepth 255 "$out/pnm_p6_16bit.ppm" > "$out/pnm_p6_16bit.ref.pnm"
q pamdepth 255 "$out/pnm_p5_maxval100.pgm" > "$out/pnm_p5_maxval100.ref.pnm"

q pnmtorast src.ppm > "$out/ras8_cmap_rle.ras"
q pnmtorast -standard src.ppm > "$out/ras8_cmap.ras"
q pnmtorast j.ppm > "$out/ras24.ras"
q pnmtorast j.pgm > "$out/ras8_grey_rle.ras"
q pnmtorast bw.pbm > "$out/ras1_rle.ras"
q pnmtorast -standard bw.pbm > "$out/ras1.ras"
for f in "$out"/*.ras; do q rasttopnm "$f" > "${f%.ras}.ref.pnm"; done

# Metafiles. Placeable WMF written record by record by
# make-wmf-fixtures.pl and rendered by libwmf's wmf2gd at the size the
# placeable header gives at 96 dpi. EMF by fig2dev (1200 dpi device units)
# against fig2dev's own PPM of the same figure at 1200 dpi, and by pstoedit
# (OpenOffice-compatible EMF, 72 dpi) against Ghostscript at 72 dpi,
# unantialiased. The EMF references are cut to the drawing (the two tools
# frame it with different margins); the tests cut the decoded image alike.
perl "$here/make-wmf-fixtures.pl" "$out"
wmf2gd --maxwidth=96 --maxheight=64 --maxsize -o ref.png "$out/wmf_shapes.wmf" > /dev/null 2>&1
pngtopnm ref.png > "$out/wmf_shapes.ref.pnm"
wmf2gd --maxwidth=192 --maxheight=128 --maxsize -o ref.png "$out/wmf_window.wmf" > /dev/null 2>&1
pngtopnm ref.png > "$out/wmf_window.ref.pnm"
# Filled shapes only: fig2dev's EMF and PostScript drivers draw outlines
# of different widths.
cat > shapes.fig <<'FIG'
#FIG 3.2
Landscape
Center
Inches
Letter
100.00
Single
-2
1200 2
2 2 0 0 0 4 50 -1 20 0.000 0 0 -1 0 0 5
	 30 30 150 30 150 90 30 90 30 30
1 1 0 0 1 2 50 -1 20 0.000 1 0.0000 210 75 60 38 210 75 270 75
2 3 0 0 0 1 50 -1 20 0.000 0 0 -1 0 0 7
	 30 120 90 165 150 120 210 165 210 180 30 180 30 120
2 3 0 0 0 6 50 -1 20 0.000 0 0 -1 0 0 4
	 210 135 270 180 180 180 210 135
2 2 0 0 0 5 40 -1 20 0.000 0 0 -1 0 0 5
	 120 60 240 60 240 110 120 110 120 60
FIG
fig2dev -L emf shapes.fig "$out/emf_fig2dev.emf"
fig2dev -L ppm -m 15 shapes.fig ref.ppm
convert ref.ppm -trim +repage -depth 8 ppm:"$out/emf_fig2dev.ref.pnm"
cat > shapes.ps <<'PS'
%!PS-Adobe-3.0 EPSF-3.0
%%BoundingBox: 0 0 160 100
1 0 0 setrgbcolor 10 50 60 40 rectfill
0 0.6 0 setrgbcolor newpath 110 70 25 0 360 arc closepath fill
0 0 1 setrgbcolor newpath 10 10 moveto 80 45 lineto 150 10 lineto closepath fill
0.5 0.2 0.6 setrgbcolor /Helvetica-Bold findfont 18 scalefont setfont 60 20 moveto (Vx) show
showpage
PS
pstoedit -q -f "emf:-OO" shapes.ps "$out/emf_pstoedit.emf" > /dev/null 2>&1
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -dEPSCrop -dTextAlphaBits=1 -dGraphicsAlphaBits=1 \
  -sOutputFile=ref.ppm shapes.ps
convert ref.ppm -trim +repage -depth 8 ppm:"$out/emf_pstoedit.ref.pnm"

ls -l "$out"
