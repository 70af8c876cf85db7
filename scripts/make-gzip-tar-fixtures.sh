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

# gztar/: gzip and TAR archives of one small tree, and their hostile copies.
#   plain.gz (gzip -n: no stored name), named.gz (the name "notes.txt"),
#   joined.gz (two gzip files joined with cat), fields.gz (extra field,
#   name, comment and header CRC, checked with gzip -t), padded.gz (zero
#   bytes after the last member), damaged-first.gz (joined.gz with the
#   first member's CRC changed), traversal.gz (a stored name "../../evil.txt");
#   gnu.tar, ustar.tar, pax.tar (GNU tar's formats), bsd.tar (bsdtar),
#   tree.tgz and tree.tar.gz (gzip of gnu.tar), tree.tar.Z (compress);
#   hostile tars: size-negative.tar, size-huge.tar, size-text.tar,
#   traversal.tar ("../evil.txt" and "/tmp/evil.txt"), link-then-file.tar
#   (a symbolic link "lnk" to /tmp, then "lnk/evil.txt").
g="$out/gztar"
mkdir -p "$g"
rm -f "$g"/*
src="$work/src"
mkdir -p "$src/tree/dir/sub" "$src/tree/empty"
long="a-folder-name-that-is-long-enough-to-need-more-than-the-hundred-bytes-of-the-name-field"
mkdir -p "$src/tree/$long"
printf 'alpha\n' > "$src/tree/dir/a.txt"
head -c 3000 "$work/text" > "$src/tree/dir/sub/words.txt"
head -c 1200 /dev/urandom > "$src/tree/dir/random.bin"
printf 'long\n' > "$src/tree/$long/inside-the-long-folder-with-a-long-name-too.txt"
n100=$(printf 'n%.0s' $(seq 1 100))
printf 'hundred\n' > "$src/tree/$n100"
ln -s dir/a.txt "$src/tree/link"
touch -d '2024-03-05 10:20:30' "$src/tree" -r /dev/null 2>/dev/null || true
find "$src/tree" -exec touch -h -d '2024-03-05 10:20:30' {} +
for f in gnu ustar pax; do
  if [ "$f" = ustar ]; then
    # ustar holds a name of up to 255 bytes only as prefix and name; the
    # long folder's file fits, the 100-byte name too.
    (cd "$src" && tar --format=ustar -cf "$g/ustar.tar" tree)
  else
    (cd "$src" && tar --format="$f" -cf "$g/$f.tar" tree)
  fi
done
(cd "$src" && bsdtar -cf "$g/bsd.tar" tree)
gzip -9 -n -c "$g/gnu.tar" > "$g/tree.tgz"
cp "$g/tree.tgz" "$g/tree.tar.gz"
compress -c < "$g/gnu.tar" > "$g/tree.tar.Z"
head -c 5000 "$work/text" > "$work/notes.txt"
gzip -n -c "$work/notes.txt" > "$g/plain.gz"
(cd "$work" && gzip -c notes.txt > "$g/named.gz")
printf 'second member\n' | gzip -n -c > "$work/second.gz"
cat "$g/plain.gz" "$work/second.gz" > "$g/joined.gz"
cp "$g/plain.gz" "$g/padded.gz"
head -c 1024 /dev/zero >> "$g/padded.gz"
python3 - "$g" "$work/notes.txt" <<'PY'
import os, struct, sys, zlib
g, src = sys.argv[1], sys.argv[2]
data = open(src, 'rb').read()
def raw(d):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(d) + c.flush()
def member(flags, extra=b'', name=b'', comment=b'', payload=data):
    h = b'\x1f\x8b\x08' + bytes([flags]) + struct.pack('<I', 1700000000) + b'\x00\x03'
    if flags & 4:
        h += struct.pack('<H', len(extra)) + extra
    if flags & 8:
        h += name + b'\x00'
    if flags & 16:
        h += comment + b'\x00'
    if flags & 2:
        h += struct.pack('<H', zlib.crc32(h) & 0xFFFF)
    return h + raw(payload) + struct.pack('<II', zlib.crc32(payload), len(payload) & 0xFFFFFFFF)
open(os.path.join(g, 'fields.gz'), 'wb').write(member(2 | 4 | 8 | 16, b'AB\x02\x00xy', b'fields.txt', b'a comment'))
open(os.path.join(g, 'traversal.gz'), 'wb').write(member(8, name=b'../../evil.txt'))
j = bytearray(open(os.path.join(g, 'joined.gz'), 'rb').read())
first = len(open(os.path.join(g, 'plain.gz'), 'rb').read())
j[first - 8] ^= 0xFF
open(os.path.join(g, 'damaged-first.gz'), 'wb').write(bytes(j))

def header(name, size_field, typeflag=b'0', link=b''):
    h = bytearray(512)
    h[0:len(name)] = name
    h[100:108] = b'0000644\x00'
    h[108:116] = b'0000000\x00'
    h[116:124] = b'0000000\x00'
    h[124:136] = size_field
    h[136:148] = b'14500000000\x00'
    h[156:157] = typeflag
    h[157:157 + len(link)] = link
    h[257:265] = b'ustar\x0000'
    h[148:156] = b' ' * 8
    h[148:156] = ('%06o\x00 ' % sum(h)).encode()
    return bytes(h)
def entry(name, body, typeflag=b'0', link=b''):
    pad = (-len(body)) % 512
    return header(name, ('%011o\x00' % len(body)).encode(), typeflag, link) + body + b'\x00' * pad
end = b'\x00' * 1024
good = entry(b'good.txt', b'good\n')
def write(name, blob):
    open(os.path.join(g, name), 'wb').write(blob)
write('size-negative.tar', good + header(b'neg.txt', b'\xff' * 12) + b'x' * 512 + end)
write('size-huge.tar', good + header(b'huge.txt', b'77777777777\x00') + b'x' * 512 + end)
write('size-text.tar', good + header(b'text.txt', b'12z4\x00       ') + b'x' * 512 + end)
write('traversal.tar', good + entry(b'../evil.txt', b'evil\n') + entry(b'/tmp/evil.txt', b'evil\n') + end)
write('link-then-file.tar', entry(b'lnk', b'', b'2', b'/tmp') + entry(b'lnk/evil.txt', b'evil\n') + good + end)
PY
gzip -t "$g"/plain.gz "$g"/named.gz "$g"/joined.gz "$g"/fields.gz

# text/: text archives of the files in text/originals, each checked here
# against the peer that reads it (uudecode, uudeview, munpack):
#   uu.uue (uuencode), small.uue (uuencode of 10 bytes: no full line),
#   b64.uue (uuencode -m: begin-base64), xx.xxe (uuenview -x), upper.uue
#   (BEGIN and END in capitals), mime.txt (two mpack -o messages, one
#   attachment each), split.uue, split.uu1, split.uu2 (uuencode cut with
#   split), zip.uue (a ZIP archive, for the panel's offer); hostile:
#   endline.txt (a MIME part whose Base64 line begins with "end"),
#   truncated.uue (no end line), traversal.uue (the name ../evil.txt).
t="$out/text"
rm -rf "$t"
mkdir -p "$t/originals"
o="$t/originals"
head -c 5000 /dev/urandom > "$o/data.bin"
printf '0123456789' > "$o/small.bin"
head -c 20000 "$work/text" > "$o/words.txt"
head -c 30000 /dev/urandom > "$o/big.bin"
(cd "$o" && uuencode data.bin data.bin) > "$t/uu.uue"
(cd "$o" && uuencode small.bin small.bin) > "$t/small.uue"
(cd "$o" && uuencode -m words.txt words.txt) > "$t/b64.uue"
(cd "$o" && uuenview -x data.bin 2>/dev/null) > "$t/xx.xxe"
sed -e 's/^begin 644/BEGIN 644/' -e 's/^end$/END/' -e 's/data\.bin/upper.bin/' "$t/uu.uue" > "$t/upper.uue"
cp "$o/data.bin" "$o/upper.bin"
(cd "$o" && mpack -s one -o "$work/m1.txt" data.bin && mpack -s two -o "$work/m2.txt" words.txt)
cat "$work/m1.txt" "$work/m2.txt" > "$t/mime.txt"
(cd "$o" && uuencode big.bin big.bin) > "$work/split.txt"
split -n l/3 -d -a 1 "$work/split.txt" "$work/part."
mv "$work/part.0" "$t/split.uue"
mv "$work/part.1" "$t/split.uu1"
mv "$work/part.2" "$t/split.uu2"
(cd "$work" && mkdir -p z && printf 'inside the zip\n' > z/inner.txt && cd z && zip -q -X ../inner.zip inner.txt)
cp "$work/inner.zip" "$o/inner.zip"
(cd "$o" && uuencode inner.zip inner.zip) > "$t/zip.uue"
python3 - "$t" <<'PY'
import base64, os, sys
t = sys.argv[1]
# Lines of four characters each; the second begins with "end".
data = base64.b64decode("QUJDendxZGVm")
lines = ["QUJD", "endx", "ZGVm"]
assert base64.b64decode("".join(lines)) == base64.b64decode("QUJD") + base64.b64decode("endx") + base64.b64decode("ZGVm")
msg = ("Content-Type: multipart/mixed; boundary=\"=-b\"\n\n--=-b\n"
       "Content-Transfer-Encoding: base64\n"
       "Content-Disposition: attachment; filename=\"endline.bin\"\n\n" + "\n".join(lines) + "\n--=-b--\n")
open(os.path.join(t, "endline.txt"), "w").write(msg)
open(os.path.join(t, "originals", "endline.bin"), "wb").write(base64.b64decode("".join(lines)))
PY
head -n 40 "$t/uu.uue" > "$t/truncated.uue"
sed -e 's/^begin 644 data\.bin/begin 644 ..\/evil.txt/' "$t/uu.uue" > "$t/traversal.uue"
# The peers read them back as the originals.
chk=$(mktemp -d)
(cd "$chk" && uudecode "$t/uu.uue" "$t/small.uue" "$t/b64.uue" && cmp data.bin "$o/data.bin" && cmp small.bin "$o/small.bin" && cmp words.txt "$o/words.txt")
(cd "$chk" && rm -f data.bin && uudeview -i -q "$t/xx.xxe" >/dev/null 2>&1 && cmp data.bin "$o/data.bin")
(cd "$chk" && cat "$t/split.uue" "$t/split.uu1" "$t/split.uu2" | uudecode && cmp big.bin "$o/big.bin")
(cd "$chk" && rm -f data.bin words.txt && munpack -q "$t/mime.txt" >/dev/null 2>&1; munpack -q -C "$chk" "$work/m2.txt" >/dev/null 2>&1; cmp data.bin "$o/data.bin" && cmp words.txt "$o/words.txt")
rm -rf "$chk"
