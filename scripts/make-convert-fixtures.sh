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

# The same document encrypted: with a user password (AES-256), and with an
# empty user password that only restricts changes (AES-128).
qpdf --encrypt secret owner 256 -- "$out/cases.pdf" "$out/cases_password.pdf"
qpdf --encrypt "" owner 128 --use-aes=y --modify=none -- "$out/cases.pdf" "$out/cases_restricted.pdf"

# One page in four fonts, one for each way a simple font maps its codes to
# characters: WinAnsi, MacRoman, the standard encoding (a Type 1 font that
# names none) and differences from WinAnsi by glyph name. Each line holds
# characters outside ASCII in that font's codes.
{
  printf '%%PDF-1.5\n%%QDF-1.0\n\n'
  printf '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n\n'
  printf '2 0 obj\n<< /Type /Pages /Count 1 /Kids [ 3 0 R ] >>\nendobj\n\n'
  printf '3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font'
  printf ' << /W 6 0 R /M 7 0 R /S 8 0 R /D 9 0 R >> >> >>\nendobj\n\n'
  printf '4 0 obj\n<< /Length 5 0 R >>\nstream\n'
  {
    printf 'BT /W 14 Tf 72 720 Td (WinAnsi: Caf\351 \223quoted\224 \200 5 na\357ve) Tj ET\n'
    printf 'BT /M 14 Tf 72 690 Td (MacRoman: Caf\216 na\225ve \322quoted\323 \245 x) Tj ET\n'
    printf 'BT /S 14 Tf 72 660 Td (Standard: it\047s \252fine\272 \320 dash \256ne) Tj ET\n'
    printf 'BT /D 14 Tf 72 630 Td (Differences: \001t\001 \002le \003 \004) Tj ET\n'
  } > "$tmp/encodings"
  cat "$tmp/encodings"
  printf 'endstream\nendobj\n\n5 0 obj\n%d\nendobj\n\n' "$(wc -c < "$tmp/encodings")"
  printf '6 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\nendobj\n\n'
  printf '7 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /MacRomanEncoding >>\nendobj\n\n'
  printf '8 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>\nendobj\n\n'
  printf '9 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /BaseEncoding /WinAnsiEncoding'
  printf ' /Differences [ 1 /eacute /fi /uni2192 /Euro ] >> >>\nendobj\n\n'
  printf 'xref\n0 1\n0000000000 65535 f \ntrailer <<\n  /Root 1 0 R\n  /Size 10\n>>\nstartxref\n0\n%%%%EOF\n'
} > "$tmp/encodings.qdf"
fix-qdf "$tmp/encodings.qdf" > "$tmp/encodings.pdf"
qpdf --compress-streams=y --object-streams=disable "$tmp/encodings.pdf" "$out/encodings.pdf"

# A manual page as groff sets it and ghostscript writes it: embedded subset
# fonts with differences from WinAnsi, spaces made by word and character
# spacing, a table, and letters outside ASCII. And a page of a repetitive
# listing, whose content stream inflates to more than ten times its size.
cat > "$tmp/page.man" <<'MAN'
.TH CAFE 1 "2024" "test" "Test Manual"
.SH NAME
café \- a test of the émission
.SH DESCRIPTION
Hello world, this is a test of the émission. Line two of the paragraph
goes on and on so that it wraps onto a second line of output text in the PDF.
.PP
"Quotes" and naïve façade \(em dashes \(en fi ligature office.
.TS
tab(;);
l l l.
Name;Count;Price
apples;12;0.50
pears;7;1.25
.TE
MAN
groff -Kutf8 -man -t -Tps "$tmp/page.man" > "$tmp/page.ps"
ps2pdf "$tmp/page.ps" "$out/groff_man.pdf"
# The same page with its content in ASCII85 over deflate.
ps2pdf -dASCII85EncodePages=true "$tmp/page.ps" "$out/groff_man_ascii85.pdf"
{
  printf '.TH LISTING 1\n.SH LISTING\n.nf\n'
  for ((i = 1; i <= 50; i++)); do printf 'entry %03d: the same words on every line of the listing\n' "$i"; done
  printf '.fi\n'
} > "$tmp/listing.man"
groff -man -Tps "$tmp/listing.man" > "$tmp/listing.ps"
ps2pdf "$tmp/listing.ps" "$out/groff_listing.pdf"

# A text document that LibreOffice writes as PDF: composite fonts (Identity-H)
# whose characters only their /ToUnicode maps give.
printf 'Caf\xc3\xa9 au lait, na\xc3\xafve fa\xc3\xa7ade.\n\nSecond paragraph with \xe2\x80\x9cquotes\xe2\x80\x9d \xe2\x80\x94 and a dash \xe2\x80\x93 ok.\n' > "$tmp/writer.txt"
soffice -env:UserInstallation="file://$tmp/profile" --headless --convert-to pdf --outdir "$tmp" "$tmp/writer.txt" > /dev/null
cp "$tmp/writer.pdf" "$out/writer.pdf"

# The seeds of the fuzz corpora fuzz/corpus/wav_header and fuzz/corpus/pdf_text
# (what fuzzing found is kept beside them as found-*): the heads of the WAV
# files, WAV files spliced into the converter's odd cases, the PDF files, and
# stream blocks with the extractor's odd cases.
seeds="$here/fuzz/corpus"
mkdir -p "$seeds/wav_header" "$seeds/pdf_text"
for f in stereo44100 mono44100 mono22050 mono44100_8bit mono44100_float stereo48000; do
  head -c 700 "$out/$f.wav" > "$seeds/wav_header/${f}_head.wav"
done
for f in cases cases_objstm cases_plain encodings groff_man writer; do cp "$out/$f.pdf" "$seeds/pdf_text/"; done
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
