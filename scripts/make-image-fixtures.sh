#!/usr/bin/env bash
# Makes the codec fixtures of tests/imaging/fixtures with netpbm and
# ImageMagick, each beside its reference decoding (.ref.pnm, or .ref.pam
# where the picture has alpha) made by the netpbm decoder of the same
# format, or by ImageMagick for what ImageMagick wrote. Run from anywhere; the fixtures are
# committed, so this only needs to run again when a fixture is added.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/imaging/fixtures"
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
# winicontoppm refuses icons that are not square; ImageMagick reads them.
convert "$out/ico4.ico" -depth 8 ppm:"$out/ico4.ref.pnm"
convert "$out/ico3.ico[2]" -depth 8 ppm:"$out/ico3_frame2.ref.pnm"
ls -l "$out"
