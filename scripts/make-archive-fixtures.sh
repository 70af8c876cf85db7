#!/usr/bin/env bash
# Makes the archive fixtures under tests/archive/fixtures with real tools
# (Info-ZIP zip, fastjar's jar, tar, gzip). Run from anywhere; the outputs
# are small and committed. Dates are fixed so reruns give the same entries.
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/tests/archive/fixtures"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TZ=UTC

mkdir -p src/docs/sub src/empty
printf 'Hello, archive!\n' > src/hello.txt
printf 'first line\nsecond line\n' > src/docs/notes.txt
for i in $(seq 1 200); do echo "line $i of a text that compresses well"; done > src/docs/sub/long.txt
printf 'caf\xc3\xa9\n' > src/docs/utf.txt
touch -d '2004-03-01 12:00:10' src/hello.txt src/docs/notes.txt src/docs/sub/long.txt src/docs/utf.txt
touch -d '2004-03-01 12:00:10' src/docs/sub src/docs src/empty src

# Stored and deflated, with folders.
(cd src && zip -q -X -0 "$out/stored.zip" hello.txt docs/notes.txt)
(cd src && zip -q -X -r -9 "$out/deflated.zip" hello.txt docs empty)

# Archive comment and entry comments (one line per entry from stdin).
(cd src && zip -q -X "$work/comments.zip" hello.txt docs/notes.txt)
printf '@ hello.txt\ncomment of hello\n@=hello.txt\n@ docs/notes.txt\ncomment of notes\n@=docs/notes.txt\n@ (zip file comment below this line)\nThe archive comment.\n' |
  zipnote -w "$work/comments.zip"
cp "$work/comments.zip" "$out/comments.zip"

# Written to a pipe: sizes and CRCs follow the data in data descriptors.
(cd src && zip -q -X - hello.txt docs/notes.txt | cat > "$out/pipe.zip")

# Streamed from stdin: Info-ZIP marks the entry ZIP64.
printf 'streamed data\n' | zip -q -X "$out/zip64.zip" - >/dev/null

# A self-extractor: a 512-byte DOS stub (pages 1, 512 bytes on the last page)
# with the archive appended; -A adjusts the offsets, the second copy keeps
# the offsets of the plain archive.
python3 - <<'PY'
stub = bytearray(512)
stub[0:2] = b'MZ'
stub[2:4] = (512).to_bytes(2, 'little')
stub[4:6] = (1).to_bytes(2, 'little')
stub[64:80] = b'self-extractor!!'
open('stub.bin', 'wb').write(stub)
PY
cat stub.bin "$out/stored.zip" > "$out/sfx-unadjusted.exe"
cp "$out/sfx-unadjusted.exe" sfx.exe
zip -q -A sfx.exe
cp sfx.exe "$out/sfx.exe"

# Traditional encryption with a known password ("secret"), stored and deflated.
(cd src && zip -q -X -0 -P secret "$out/encrypted-stored.zip" hello.txt)
(cd src && zip -q -X -9 -P secret "$out/encrypted.zip" hello.txt docs/sub/long.txt)

# A name longer than 255 bytes.
deep=src2/$(printf 'd%.0s' $(seq 1 60))/$(printf 'e%.0s' $(seq 1 60))/$(printf 'f%.0s' $(seq 1 60))/$(printf 'g%.0s' $(seq 1 60))
mkdir -p "$deep"
printf 'deep\n' > "$deep/$(printf 'n%.0s' $(seq 1 40)).txt"
touch -d '2004-03-01 12:00:10' "$deep"/*.txt
(cd src2 && zip -q -X -r -D "$out/longname.zip" .)

# A ZIP64 archive with every ZIP64 record (end record, locator, 0xFFFFFFFF
# header fields with their values in the ZIP64 extra field), built by hand
# because zip only writes them for huge archives; unzip checks it below.
python3 - "$out/zip64-full.zip" <<'PY'
import struct, sys, zlib
data = b'zip64 entry data\n'
name = b'big/entry.txt'
crc = zlib.crc32(data)
dos_time, dos_date = (12 << 11) | 5, ((2004 - 1980) << 9) | (3 << 5) | 1
local_extra = struct.pack('<HHQQ', 1, 16, len(data), len(data))
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 0, dos_time, dos_date, crc,
                    0xFFFFFFFF, 0xFFFFFFFF, len(name), len(local_extra)) + name + local_extra
central_extra = struct.pack('<HHQQQ', 1, 24, len(data), len(data), 0)
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 45, 0, 0, dos_time, dos_date, crc,
                      0xFFFFFFFF, 0xFFFFFFFF, len(name), len(central_extra), 0, 0, 0, 0x20, 0xFFFFFFFF) + name + central_extra
cd_offset = len(local) + len(data)
end64_offset = cd_offset + len(central)
end64 = struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 1, 1, len(central), cd_offset)
locator = struct.pack('<IIQI', 0x07064b50, 0, end64_offset, 1)
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
open(sys.argv[1], 'wb').write(local + data + central + end64 + locator + end)
PY
unzip -tq "$out/zip64-full.zip"

# A JAR (fastjar) and the same data as a plain tar and gzip.
(cd src && jar cf "$out/test.jar" hello.txt docs/notes.txt)
(cd src && tar --format=ustar --mtime='2004-03-01 12:00:10' --owner=0 --group=0 -cf "$out/small.tar" hello.txt)
gzip -9 -n -c src/hello.txt > "$out/hello.txt.gz"
ls -l "$out"
