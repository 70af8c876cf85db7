#!/usr/bin/env bash
# Makes the fixtures of the web, PDF and media viewers and the playlists in
# tests/app/fixtures/players: PDF documents with qpdf from a hand-written
# one, sounds with sox, lame and ffmpeg, small videos with ffmpeg, a web page
# with its picture and style sheet, and a hand-written MHT archive. The
# fixtures are committed, so this only runs again when one is added.
#
#   scripts/make-media-fixtures.sh             all fixtures
#   scripts/make-media-fixtures.sh pdf N OUT   an N-page PDF (the pdf_view benchmark's)
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# A PDF of n pages in qpdf's editable form, then made whole (offsets and
# lengths) by fix-qdf and compressed into object streams by qpdf. Page i
# shows a red square at its top left, a heading and some lines of text;
# page 3 holds the word "zebra".
make_pdf() {
  local pages=$1 out=$2 src="$tmp/src.qdf"
  {
    printf '%%PDF-1.5\n%%QDF-1.0\n\n'
    printf '1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n\n'
    printf '2 0 obj\n<< /Type /Pages /Count %d /Kids [' "$pages"
    for ((i = 0; i < pages; i++)); do printf ' %d 0 R' $((4 + 3 * i)); done
    printf ' ] >>\nendobj\n\n'
    printf '3 0 obj\n<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>\nendobj\n\n'
    for ((i = 0; i < pages; i++)); do
      local page=$((4 + 3 * i)) content=$((5 + 3 * i)) length=$((6 + 3 * i)) word=""
      if [ $((i + 1)) -eq 3 ]; then word=" zebra"; fi
      printf '%%%% Page %d\n%d 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]' $((i + 1)) "$page"
      printf ' /Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>\nendobj\n\n' "$content"
      {
        printf '1 0 0 rg 36 720 36 36 re f\n0 g\nBT /F1 24 Tf 100 730 Td (Page %d of the sample%s) Tj ET\n' $((i + 1)) "$word"
        for ((l = 0; l < 30; l++)); do
          printf 'BT /F1 11 Tf 72 %d Td (Line %d of page %d: the quick brown fox jumps over the lazy dog.) Tj ET\n' \
            $((680 - 20 * l)) $((l + 1)) $((i + 1))
        done
      } > "$tmp/content"
      printf '%d 0 obj\n<< /Length %d 0 R >>\nstream\n' "$content" "$length"
      cat "$tmp/content"
      printf 'endstream\nendobj\n\n%d 0 obj\n%d\nendobj\n\n' "$length" "$(wc -c < "$tmp/content")"
    done
    printf 'xref\n0 1\n0000000000 65535 f \ntrailer <<\n  /Root 1 0 R\n  /Size %d\n>>\nstartxref\n0\n%%%%EOF\n' \
      $((4 + 3 * pages))
  } > "$src"
  fix-qdf "$src" > "$tmp/fixed.pdf"
  qpdf --object-streams=generate --compress-streams=y "$tmp/fixed.pdf" "$out"
}

if [ "${1:-}" = pdf ]; then
  make_pdf "${2:?pages}" "${3:?output}"
  exit 0
fi

out="$here/tests/app/fixtures/players"
mkdir -p "$out"
cd "$tmp"

# PDF: three pages; a copy that needs the user password "secret"; one that
# opens without a password but forbids copying its text; a cut-off copy.
make_pdf 3 "$out/sample.pdf"
qpdf --encrypt secret owner 256 -- "$out/sample.pdf" "$out/locked.pdf"
qpdf --encrypt "" owner 256 --extract=n -- "$out/sample.pdf" "$out/nocopy.pdf"
head -c $(($(wc -c < "$out/sample.pdf") / 2)) "$out/sample.pdf" > "$out/truncated.pdf"

# Sounds: two half-second WAVs (8 kHz mono), an MP3 of the first, a second
# of WMA and of RealMedia, and a MIDI file of one half-second note.
sox -n -r 8000 -c 1 -b 16 "$out/one.wav" synth 0.5 sine 440
sox -n -r 8000 -c 1 -b 16 "$out/two.wav" synth 0.5 sine 660
lame --quiet -b 32 "$out/one.wav" "$out/tune.mp3"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i sine=frequency=330:duration=1 -ac 1 -ar 22050 -c:a wmav2 -b:a 32k "$out/tone.wma"
ff -f lavfi -i sine=frequency=550:duration=1 -ac 1 -ar 44100 -c:a ac3 -b:a 64k -f rm "$out/tone.rm"
printf 'MThd\0\0\0\6\0\0\0\1\0\140MTrk\0\0\0\14\0\220\74\100\140\200\74\100\0\377\57\0' > "$out/note.mid"

# Videos of 64 x 48: a second of MPEG-1 with sound, a second of AVI.
ff -f lavfi -i testsrc=size=64x48:rate=25:duration=1 -f lavfi -i sine=duration=1 -ar 22050 \
  -c:v mpeg1video -c:a mp2 -b:a 32k -muxpreload 0 -muxdelay 0 -shortest "$out/clip.mpg"
ff -f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v mpeg4 -q:v 8 "$out/clip.avi"

# Files the players refuse: no MP3 inside, a RealAudio metafile that names a
# network stream, a Flash movie and a word-processor file.
printf 'This is no MP3 file, only text with an MP3 name.\n' > "$out/junk.mp3"
printf 'rtsp://example.invalid/stream.rm\n' > "$out/stream.ram"
printf 'FWS\6\25\0\0\0\0\0' > "$out/movie.swf"
printf '\320\317\21\340\241\261\32\341 not a real document\n' > "$out/letter.doc"

# A web page: a picture beside it (a red square), a style sheet (blue
# headings), and a picture on a web server that must never be fetched.
ppmmake red 32 32 | pnmtopng > "$out/pic.png"
ppmmake rgb:00/c0/00 24 24 | pnmtopng > "$tmp/green.png"
printf 'h1 { color: #0000ff; }\n' > "$out/style.css"
cat > "$out/page.html" <<'HTML'
<html>
<head><title>Sample page</title><link rel="stylesheet" type="text/css" href="style.css"></head>
<body>
<h1>A saved web page</h1>
<p>The local picture: <img src="pic.png" width="32" height="32"></p>
<p>The remote picture: <img src="http://127.0.0.1:9/remote.png" width="32" height="32"></p>
</body>
</html>
HTML

# The MHT: the page in quoted-printable Windows-1252 ("caf=E9"), a picture
# named by an http Content-Location and one named by Content-ID.
{
  printf 'From: <Saved by Windows Internet Explorer 8>\r\n'
  printf 'Subject: An archived page\r\nMIME-Version: 1.0\r\n'
  printf 'Content-Type: multipart/related;\r\n\ttype="text/html";\r\n\tboundary="----=_NextPart_000_0000_01D0"\r\n\r\n'
  printf 'This is a multi-part message in MIME format.\r\n\r\n'
  printf -- '------=_NextPart_000_0000_01D0\r\nContent-Type: text/html;\r\n\tcharset="Windows-1252"\r\n'
  printf 'Content-Transfer-Encoding: quoted-printable\r\nContent-Location: http://example.com/archive/page.htm\r\n\r\n'
  printf '<html><body><h1>Archived caf=E9</h1>\r\n<p>By address: <img src=3D"images/red.png" width=3D"32" =\r\n'
  printf 'height=3D"32"></p>\r\n<p>By id: <img src=3D"cid:green@archive" width=3D"24" height=3D"24"></p>\r\n'
  printf '</body></html>\r\n\r\n'
  printf -- '------=_NextPart_000_0000_01D0\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n'
  printf 'Content-Location: http://example.com/archive/images/red.png\r\n\r\n'
  base64 -w 76 "$out/pic.png" | sed 's/$/\r/'
  printf '\r\n------=_NextPart_000_0000_01D0\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n'
  printf 'Content-ID: <green@archive>\r\n\r\n'
  base64 -w 76 "$tmp/green.png" | sed 's/$/\r/'
  printf '\r\n------=_NextPart_000_0000_01D0--\r\n'
} > "$out/page.mht"
