#!/usr/bin/env bash
# Makes the fixtures of the WAV to MP3 converter and the PDF text window in
# tests/app/fixtures/convert: short WAV files made by sox with MP3 files that
# lame makes of them at the converter's settings, and PDF documents made by
# qpdf from hand-written content streams. The fixtures are committed, so this
# only runs again when one is added.
#
#   scripts/make-convert-fixtures.sh                all fixtures
#   scripts/make-convert-fixtures.sh wav10 OUT      the wav2mp3 benchmark's
#                                                   10-minute stereo WAV
#   scripts/make-convert-fixtures.sh pdf500 OUT     the pdf_text benchmark's
#                                                   500-page PDF of text and pictures
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The converter's settings as lame's options: constant 192 kbit/s, stereo
# or mono, not original, no info tag, quality 3.
lame_like() { lame --quiet --cbr -b 192 -m "$1" -o -t -q 3 "$2" "$3"; }

# A PDF in qpdf's editable form from pages given as content files (one
# argument each), made whole by fix-qdf; the caller's qpdf options then
# write it out. With a picture, every page carries its own copy of it as
# /Im1, as a scanned or illustrated document does.
make_pdf() {
  local out=$1 picture=$2
  shift 2
  local pages=$# src="$tmp/src.qdf" per=5
  {
    printf '%%PDF-1.5\n%%QDF-1.0\n\n'
    printf '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n\n'
    printf '2 0 obj\n<< /Type /Pages /Count %d /Kids [' "$pages"
    for ((i = 0; i < pages; i++)); do printf ' %d 0 R' $((4 + per * i)); done
    printf ' ] >>\nendobj\n\n'
    printf '3 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n\n'
    local i=0
    for content in "$@"; do
      local page=$((4 + per * i)) object=$((5 + per * i)) length=$((6 + per * i))
      local image=$((7 + per * i)) imageLength=$((8 + per * i))
      printf '%%%% Page %d\n%d 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]' $((i + 1)) "$page"
      printf ' /Resources << /Font << /F1 3 0 R >> /XObject << /Im1 %d 0 R >> >>' "$image"
      printf ' /Contents %d 0 R >>\nendobj\n\n' "$object"
      printf '%d 0 obj\n<< /Length %d 0 R >>\nstream\n' "$object" "$length"
      cat "$content"
      printf 'endstream\nendobj\n\n%d 0 obj\n%d\nendobj\n\n' "$length" "$(wc -c < "$content")"
      if [ -n "$picture" ]; then
        printf '%d 0 obj\n<< /Type /XObject /Subtype /Image /Width 256 /Height 256 /ColorSpace /DeviceRGB' "$image"
        printf ' /BitsPerComponent 8 /Filter /DCTDecode /Length %d 0 R >>\nstream\n' "$imageLength"
        cat "$picture"
        printf '\nendstream\nendobj\n\n%d 0 obj\n%d\nendobj\n\n' "$imageLength" "$(wc -c < "$picture")"
      else
        printf '%d 0 obj\nnull\nendobj\n\n%d 0 obj\nnull\nendobj\n\n' "$image" "$imageLength"
      fi
      i=$((i + 1))
    done
    printf 'xref\n0 1\n0000000000 65535 f \ntrailer <<\n  /Root 1 0 R\n  /Size %d\n>>\nstartxref\n0\n%%%%EOF\n' \
      $((4 + per * pages))
  } > "$src"
  fix-qdf "$src" > "$out"
}

if [ "${1:-}" = wav10 ]; then
  sox -R -n -r 44100 -c 2 -b 16 "${2:?output}" synth 600 sine 440 sine 660 pinknoise remix 1,3 2,3 gain -6
  exit 0
fi

if [ "${1:-}" = pdf500 ]; then
  out=${2:?output}
  # A photograph-like picture of 256 x 256 pixels, and 500 pages of forty
  # lines of text each, every page showing the picture.
  convert -size 256x256 plasma:fractal -seed 7 -quality 85 "$tmp/pic.jpg"
  pages=()
  for ((p = 1; p <= 500; p++)); do
    {
      printf 'q 200 0 0 200 350 550 cm /Im1 Do Q\n'
      printf 'BT /F1 18 Tf 72 740 Td (Page %d of the long document) Tj ET\n' "$p"
      printf 'BT /F1 10 Tf 72 520 Td 12 TL\n'
      for ((l = 1; l <= 40; l++)); do
        printf '(Line %d of page %d: the quick brown fox jumps over the lazy dog, %d times.) Tj T*\n' "$l" "$p" $((l * p))
      done
      printf 'ET\n'
    } > "$tmp/page$p"
    pages+=("$tmp/page$p")
  done
  make_pdf "$tmp/fixed.pdf" "$tmp/pic.jpg" "${pages[@]}"
  qpdf --object-streams=generate --compress-streams=y "$tmp/fixed.pdf" "$out"
  exit 0
fi

out="$here/tests/app/fixtures/convert"
mkdir -p "$out"

# WAV files of a quarter second, 16-bit unless named otherwise: stereo
# files carry a different tone in each channel. Their sample data is no
# whole number of the converter's chunks.
sox -R -n -r 44100 -c 2 -b 16 "$out/stereo44100.wav" synth 0.25 sine 440 sine 660
sox -R -n -r 44100 -c 1 -b 16 "$out/mono44100.wav" synth 0.25 sine 440
sox -R -n -r 48000 -c 2 -b 16 "$out/stereo48000.wav" synth 0.25 sine 300 sine 500
sox -R -n -r 32000 -c 1 -b 16 "$out/mono32000.wav" synth 0.25 sine 700
sox -R -n -r 22050 -c 1 -b 16 "$out/mono22050.wav" synth 0.25 sine 440
sox -R -n -r 44100 -c 1 -b 8 "$out/mono44100_8bit.wav" synth 0.25 sine 440
sox -R -n -r 44100 -c 1 -b 32 -e floating-point "$out/mono44100_float.wav" synth 0.25 sine 440
# sox writes samples wider than 16 bits in the extensible format, with a
# "fact" chunk before "data".
sox -R -n -r 44100 -c 1 -b 24 "$out/mono44100_24bit.wav" synth 0.25 sine 440
for f in stereo44100 stereo48000; do lame_like s "$out/$f.wav" "$out/$f.mp3"; done
for f in mono44100 mono32000 mono44100_8bit; do lame_like m "$out/$f.wav" "$out/$f.mp3"; done

# PDF documents of one page, from a content stream that holds the cases of
# the text writer: text moves down a line (-14) and along it (0), a TJ array
# with wide (-1200), middle (-250) and narrow (-50) gaps, an escaped
# parenthesis, and text outside BT ... ET that is never written.
cat > "$tmp/cases" <<'CONTENT'
(Outside) Tj
BT /F1 12 Tf 72 720 Td (First line) Tj 0 -14 TD (Second) Tj 40 0 TD (line) Tj ET
BT /F1 12 Tf 72 680 Td [(Hello) -250 (World)] TJ 0 -14 TD [(Left) -1200 (Right)] TJ 0 -14 TD [(Ke) -50 (rned)] TJ ET
BT /F1 12 Tf 72 620 Td (a\)b) Tj ET
CONTENT
make_pdf "$tmp/cases.pdf" "" "$tmp/cases"
qpdf --compress-streams=y --object-streams=disable "$tmp/cases.pdf" "$out/cases.pdf"
qpdf --compress-streams=y --object-streams=generate "$tmp/cases.pdf" "$out/cases_objstm.pdf"
qpdf --compress-streams=n --object-streams=disable "$tmp/cases.pdf" "$out/cases_plain.pdf"

# The seeds of the fuzz corpora fuzz/corpus/wav_header and fuzz/corpus/pdf_text
# (what fuzzing found is kept beside them as found-*): the heads of the WAV
# files, WAV files spliced into the converter's odd cases, the PDF files, and
# stream blocks with the extractor's odd cases.
seeds="$here/fuzz/corpus"
mkdir -p "$seeds/wav_header" "$seeds/pdf_text"
for f in stereo44100 mono44100 mono22050 mono44100_8bit mono44100_float stereo48000; do
  head -c 700 "$out/$f.wav" > "$seeds/wav_header/${f}_head.wav"
done
for f in cases cases_objstm cases_plain; do cp "$out/$f.pdf" "$seeds/pdf_text/"; done
perl -MCompress::Zlib - "$out/mono44100.wav" "$seeds" <<'PERL'
use strict;
my ($wav, $seeds) = @ARGV;
open(my $in, '<:raw', $wav) or die;
local $/;
my $base = <$in>;
my ($riff, $fmt, $samples) = (substr($base, 0, 12), substr($base, 20, 16), substr($base, 44, 1000));
sub u32 { pack('V', shift) }
sub put { my ($name, $bytes) = @_; open(my $o, '>:raw', "$seeds/$name") or die; print $o $bytes; }
my $head = $riff . 'fmt ' . u32(16) . $fmt;
put('wav_header/odd_chunk_before_data.wav', $head . 'junk' . u32(3) . "abc\0" . 'data' . u32(length $samples) . $samples);
put('wav_header/fmt_18_bytes.wav', $riff . 'fmt ' . u32(18) . $fmt . "\0\0" . 'data' . u32(length $samples) . $samples);
put('wav_header/data_longer_than_file.wav', $head . 'data' . u32(0xFFFFFFFF) . $samples);
put('wav_header/no_data_chunk.wav', $head . 'LIST' . u32(4) . 'INFO');
put('wav_header/chunk_size_wraps.wav', $head . 'LIST' . u32(0xFFFFFFFF) . 'data' . u32(8) . ("\1" x 8));
sub block { my ($data, $eol) = @_; $eol //= "\r\n"; "<< >>\nstream$eol$data${eol}endstream\nendobj\n" }
my $c = compress("BT /F1 12 Tf (a\\)b) Tj 0 -14 TD [(Hello) -250 (World) -1200 (x)] TJ 10 0 TD (y) Tj ET\nQ\n");
put('pdf_text/content_cases.bin', block($c) . block($c, "\n"));
put('pdf_text/empty_and_negative_blocks.bin', "stream\r\nendstream\nstream\nendstream\nstreamendstream" . block($c));
put('pdf_text/inflates_past_ten_times.bin', block(compress('BT ' . ('(aaaa) Tj ' x 5000) . "ET\nQ\n", 9)));
put('pdf_text/truncated_block.bin', block($c) . "stream\r\n" . substr($c, 0, 20));
PERL
