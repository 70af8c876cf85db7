#!/usr/bin/env bash
# Makes the fixtures of tests/archive_unix: archives as Linux tools write
# them, with the names, dates, links and modes of files made on Linux.
# Needs zip, arj, tar, gzip, jlha-utils (Java) and python3; the results are
# checked here against unzip, 7z, bsdtar and lhasa where those read them.
#
#   names/infozip.zip     zip of grüße.txt and a name that is no UTF-8 (host Unix, no UTF-8 flag)
#   names/dos.zip         host MS-DOS, code page 437 name bytes (written below: no Debian tool
#                         writes a DOS host)
#   names/unicode-path.zip  host MS-DOS, the stored name "????.txt" and Info-ZIP's Unicode path
#                         field (0x7075) with "Ελλάδα.txt" in local and central headers (written
#                         below: Debian's zip stores UTF-8 names and never this field)
#   names/grüße.arj       arj a (host Unix)
#   names/gnu.tar, names/pax.tar  GNU tar in its own and in the pax format
#   names/grüße.txt.gz    gzip -N (the stored name)
#   names/jlha.lzh        jlha c1 (level 1, generic system id, Latin-1 name bytes)
#   names/unix.lzh        a level-2 LHA header of system 'U' with a UTF-8 name (written below:
#                         no LHA writer in Debian sets 'U'); lhasa reads it
#   names/unix.rar        a RAR 4 header of host Unix with a UTF-8 name and no Unicode field
#                         (written below: no RAR writer in Debian main); bsdtar reads it
#
#   unix/times.tar        GNU tar (gnu format) of files dated 2050-01-01 12:00, 1975-06-01 and
#                         1960-06-01 (a negative time, base-256)
#   unix/fraction.tar     GNU tar (pax format) of a file dated 2024-03-05 10:20:30.123456789
#   unix/links.tar        GNU tar of lt/file.txt, a hard link lt/hard_link to it, a symbolic
#                         link lt/sym, run.sh (0755), private.txt (0600), setuid.sh (04755)
#   unix/dot.tar          GNU tar of "." (first entry "./") holding private/ (0700, dated
#                         2022-02-02 02:02:02), private/inner/ (0750, 2021-07-01 08:00) and
#                         shared/ (0755, 2022-02-02 02:02:02) with a file each
#   unix/folders.zip      zip -r of the same folders (their modes and universal times)
#   unix/sparse-gnu.tar, unix/sparse-0.0.tar, unix/sparse-0.1.tar, unix/sparse-1.0.tar
#                         GNU tar -S of a 300,003-byte file of two data runs and holes, in the
#                         gnu format and the pax formats 0.0, 0.1 and 1.0
#   unix/unix.zip         zip of run.sh (0755) and files dated 2039-06-01 and 2090-06-01
#                         12:00 UTC, with the universal-time field
#   unix/tokyo.zip        zip made with TZ=Asia/Tokyo of a file dated 2024-03-05 10:20:30 UTC:
#                         its DOS time is Tokyo's, its universal-time field the truth
#   unix/dos1980.zip      zip -X (DOS time only) of a file dated 1980-01-01 00:00:00 UTC
#   unix/unix.arj         arj a of run.sh (0755) dated 2024-03-05 10:20:30 UTC
#   unix/unix.lzh         level-2 LHA headers of system 'U' (written below: no LHA writer in
#                         Debian keeps Unix modes or links): run.sh with mode 0100755 (0x50),
#                         old.txt dated 1975-03-05 10:20:30 UTC (before 1980), a symbolic link
#                         "sym|run.sh"; lhasa reads them
#   unix/level1-time.lzh  a level-1 header with the Unix time field (0x54) 2024-03-05 10:20:30
#   unix/unix.rar         RAR 4 headers of host Unix (written below): run.sh (mode 0100755) and a
#                         symbolic link sym to run.sh; bsdtar reads them
#   unix/solid.rar        a solid RAR 4 archive of two files, the second continuing the first's
#                         stream (the RAR library here refuses that)
#   unix/hostile-links.tar  python's tarfile: a hard link to a member the archive does not hold,
#                         then a sparse member (pax 0.1) whose map passes its real size, then a
#                         plain file
#
#   silent/descriptor-cut.zip  zip writing to a pipe (data descriptors) of three files, cut
#                         before its central directory
#   silent/two.uue        uuencode of two files, one after the other
#   silent/letter.uue     150 lines of a letter, then uuencode of a file
#   silent/many.uue       uuencode of 2,000 small files, one after the other
#   silent/cut-header.arc arc a, cut inside its first header (20 bytes)
#   silent/cut.bh         the BH archive of tests/arc_lzh cut to 20 bytes
#   silent/damaged-main.arj  arj a of an empty file and another, the main header's id byte
#                         changed (the first header found is then the empty file's)
#   silent/damaged-entry.arj  the same with the first entry's header id byte changed instead
#   silent/b9.Z, silent/b12.Z  compress -b9 (which no decoder reads) and compress -b12
#   messages/garbled.arc  arc ag (garbled with the password "secret")
#   messages/garbled.arj  arj a -g (garbled with the password "secret")
#   messages/hardlink.arj arj a of a file and a hard link to it (a special entry of a later
#                         version, which arj itself makes as a link)
#   messages/zoo210.zoo   a ZOO archive laid out as zoo 2.10 writes it (written below: zoo is not
#                         in Debian), its chain ending with a 56-byte entry at the end of the
#                         file; unar reads it
# Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/archive_unix/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
rm -rf "$out"
mkdir -p "$out"/names "$out"/unix

# ---- names ---------------------------------------------------------------------------------
n="$work/names"
mkdir -p "$n"
printf 'grüße\n' > "$n/grüße.txt"
printf 'latin one\n' > "$n/$(printf 'caf\xe9.txt')"
touch -d '2024-03-05 10:20:30' "$n"/*
(
  cd "$n"
  zip -q -X "$out/names/infozip.zip" grüße.txt "$(printf 'caf\xe9.txt')"
  arj a -i "$out/names/grüße.arj" grüße.txt >/dev/null
  tar --format=gnu -cf "$out/names/gnu.tar" grüße.txt "$(printf 'caf\xe9.txt')"
  tar --format=posix --pax-option=delete=atime,delete=ctime -cf "$out/names/pax.tar" grüße.txt
  gzip -N -c grüße.txt > "$out/names/grüße.txt.gz"
  jlha c1o5 "$out/names/jlha.lzh" grüße.txt >/dev/null 2>&1
)
python3 - "$out/names" <<'PY'
import struct, sys, zlib
d = sys.argv[1]
DOS = (44 << 25) | (3 << 21) | (5 << 16) | (10 << 11) | (20 << 5) | 15   # 2024-03-05 10:20:30

def zip_archive(entries):
    """entries: (raw name, data, version made by, flags, extra)"""
    local, central = b'', b''
    for name, data, made_by, flags, extra in entries:
        crc = zlib.crc32(data)
        fixed = struct.pack('<HHHHHIIIHH', 10, flags, 0, DOS & 0xFFFF, DOS >> 16, crc, len(data), len(data), len(name), len(extra))
        offset = len(local)
        local += b'PK\x03\x04' + fixed + name + extra + data
        central += (b'PK\x01\x02' + struct.pack('<H', made_by) + fixed +
                    struct.pack('<HHHII', 0, 0, 0, 0, offset) + name + extra)
    end = b'PK\x05\x06' + struct.pack('<HHHHIIH', 0, 0, len(entries), len(entries), len(central), len(local), 0)
    return local + central + end

grusse = 'grüße.txt'.encode('cp437')
open(d + '/dos.zip', 'wb').write(zip_archive([(grusse, b'dos\n', 20, 0, b'')]))
greek = 'Ελλάδα.txt'.encode()
stored = b'??????.txt'
up = struct.pack('<BI', 1, zlib.crc32(stored)) + greek
extra = struct.pack('<HH', 0x7075, len(up)) + up
open(d + '/unicode-path.zip', 'wb').write(zip_archive([(stored, b'greek\n', 20, 0, extra)]))

# LHA level 2: a 24-byte base, then extended headers, each its type, its
# data and the size of the next (the first size stands at 24).
def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
def lha2(name, data, os_id=b'U', extras=(), unix_time=1709634030):
    exts = [(0x01, name)] + list(extras)
    chain = b''
    for i, (kind, body) in enumerate(exts):
        nxt = 3 + len(exts[i + 1][1]) if i + 1 < len(exts) else 0
        chain += bytes([kind]) + body + struct.pack('<H', nxt)
    total = 26 + len(chain)
    return (struct.pack('<H', total) + b'-lh0-' + struct.pack('<IIIBB', len(data), len(data), unix_time, 0x20, 2) +
            struct.pack('<H', crc16(data)) + os_id + struct.pack('<H', 3 + len(name)) + chain + data)
open(d + '/unix.lzh', 'wb').write(lha2('grüße.txt'.encode(), b'unix lha\n') + b'\x00')

# RAR 4, host Unix (3), a UTF-8 name without the Unicode flag.
MARK = b'Rar!\x1a\x07\x00'
def block(type_, flags, body):
    rest = struct.pack('<BHH', type_, flags, 7 + len(body)) + body
    return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest
def rar_file(name, data, host=3, attr=0o100644, flags=0):
    body = struct.pack('<IIBIIBBHI', len(data), len(data), host, zlib.crc32(data), DOS, 29, 0x30, len(name), attr) + name
    return block(0x74, 0x8000 | flags, body) + data
open(d + '/unix.rar', 'wb').write(MARK + block(0x73, 0, b'\0' * 6) + rar_file('grüße.txt'.encode(), b'unix rar\n') +
                                  block(0x7B, 0x4000, b''))
PY

# What the peers make of them.
unzip -Z1 "$out/names/unicode-path.zip" | grep -q 'Ελλάδα.txt'
python3 -c 'import sys, zipfile; assert zipfile.ZipFile(sys.argv[1]).namelist() == ["grüße.txt"]' "$out/names/dos.zip"
bsdtar -tf "$out/names/unix.rar" | grep -q 'grüße.txt'
lhasa l "$out/names/unix.lzh" | grep -aq '^\[Unix\] .* gr.*e\.txt$'
7z l "$out/names/infozip.zip" | grep -q 'grüße.txt'

# ---- dates, links and modes -----------------------------------------------------------------
u="$work/unix"
mkdir -p "$u/lt" "$u/times" "$u/sparse"
(
  cd "$u/times"
  printf 'future\n' > future.txt; touch -d '2050-01-01 12:00:00' future.txt
  printf 'seventies\n' > seventies.txt; touch -d '1975-06-01 00:00:00' seventies.txt
  printf 'sixties\n' > sixties.txt; touch -d '1960-06-01 00:00:00' sixties.txt
  tar --format=gnu -cf "$out/unix/times.tar" future.txt seventies.txt sixties.txt
  printf 'fraction\n' > fraction.txt; touch -d '2024-03-05 10:20:30.123456789' fraction.txt
  tar --format=posix --pax-option=delete=atime,delete=ctime -cf "$out/unix/fraction.tar" fraction.txt
)
(
  cd "$u"
  printf 'the file\n' > lt/file.txt
  ln lt/file.txt lt/hard_link
  ln -s file.txt lt/sym
  printf '#!/bin/sh\necho run\n' > run.sh; chmod 0755 run.sh
  printf 'private\n' > private.txt; chmod 0600 private.txt
  printf '#!/bin/sh\n' > setuid.sh; chmod 04755 setuid.sh
  touch -d '2024-03-05 10:20:30' lt/file.txt lt/sym run.sh private.txt setuid.sh
  touch -h -d '2024-03-05 10:20:30' lt/sym
  tar --format=gnu -cf "$out/unix/links.tar" lt/file.txt lt/hard_link lt/sym run.sh private.txt setuid.sh
)
# Folders with their own modes and dates; "tar cf x.tar ." begins with "./".
folders() {
  mkdir -p "$1/private/inner" "$1/shared"
  printf 'secret\n' > "$1/private/inner/key.txt"
  printf 'open\n' > "$1/shared/note.txt"
  chmod 0700 "$1/private"; chmod 0750 "$1/private/inner"; chmod 0755 "$1/shared"
  touch -d '2024-03-05 10:20:30' "$1/private/inner/key.txt" "$1/shared/note.txt"
  touch -d '2021-07-01 08:00:00' "$1/private/inner"
  touch -d '2022-02-02 02:02:02' "$1/private" "$1/shared" "$1"
}
(
  folders "$u/folders"
  cd "$u/folders"
  tar --format=gnu -cf "$out/unix/dot.tar" .
  zip -qr "$out/unix/folders.zip" private shared
)
# tar and unzip give the folders their stored modes and dates.
for peer in "tar -xf $out/unix/dot.tar" "unzip -q $out/unix/folders.zip"; do
  rm -rf "$work/peer"; mkdir "$work/peer"
  (cd "$work/peer" && $peer)
  [ "$(stat -c '%a %Y' "$work/peer/private" "$work/peer/private/inner" "$work/peer/shared" | tr '\n' ' ')" = \
    "700 1643767322 750 1625126400 755 1643767322 " ]
done
(
  cd "$u/sparse"
  python3 -c "
f = open('sparse.bin', 'wb')
f.seek(98304); f.write(b'middle data ' * 300)
f.seek(299008); f.write(b'end of the sparse file\n' * 43)
f.truncate(300003)"
  touch -d '2024-03-05 10:20:30' sparse.bin
  tar --format=gnu -S -cf "$out/unix/sparse-gnu.tar" sparse.bin
  for v in 0.0 0.1 1.0; do
    tar --format=posix --pax-option=delete=atime,delete=ctime --sparse-version=$v -S -cf "$out/unix/sparse-$v.tar" sparse.bin
  done
  cp sparse.bin "$work/sparse.expected"
)
(
  cd "$u/times"
  printf 'late\n' > y2039.txt; touch -d '2039-06-01 12:00:00' y2039.txt
  printf 'later\n' > y2090.txt; touch -d '2090-06-01 12:00:00' y2090.txt
  cp -p ../run.sh .
  zip -q "$out/unix/unix.zip" run.sh y2039.txt y2090.txt
  printf 'made in Tokyo\n' > tokyo.txt; touch -d '2024-03-05 10:20:30' tokyo.txt
  TZ=Asia/Tokyo zip -q "$out/unix/tokyo.zip" tokyo.txt
  printf 'first moment\n' > dos1980.txt; touch -d '1980-01-01 00:00:00' dos1980.txt
  zip -q -X "$out/unix/dos1980.zip" dos1980.txt
  arj a "$out/unix/unix.arj" run.sh >/dev/null
)
python3 - "$out/unix" <<'PY'
import struct, sys, zlib
d = sys.argv[1]
def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
def lha2(name, data, method=b'-lh0-', extras=(), unix_time=1709634030):
    exts = [(0x01, name)] + list(extras)
    chain = b''
    for i, (kind, body) in enumerate(exts):
        nxt = 3 + len(exts[i + 1][1]) if i + 1 < len(exts) else 0
        chain += bytes([kind]) + body + struct.pack('<H', nxt)
    total = 26 + len(chain)
    return (struct.pack('<H', total) + method + struct.pack('<IIIBB', len(data), len(data), unix_time, 0x20, 2) +
            struct.pack('<H', crc16(data)) + b'U' + struct.pack('<H', 3 + len(name)) + chain + data)
script = b'#!/bin/sh\necho run\n'
open(d + '/unix.lzh', 'wb').write(
    lha2(b'run.sh', script, extras=[(0x50, struct.pack('<H', 0o100755))]) +
    lha2(b'old.txt', b'old\n', unix_time=163246830) +
    lha2(b'sym|run.sh', b'', method=b'-lhd-', extras=[(0x50, struct.pack('<H', 0o120777))]) + b'\x00')
# Level 1: the base header (its size counts from the method), the name, the
# CRC, the system id and the first extended header's size; extended headers
# stand before the data and count in the packed size.
def lha1(name, data, extras):
    chain = b''
    for i, (kind, body) in enumerate(extras):
        nxt = 3 + len(extras[i + 1][1]) if i + 1 < len(extras) else 0
        chain += bytes([kind]) + body + struct.pack('<H', nxt)
    dos = (44 << 25) | (3 << 21) | (5 << 16) | (10 << 11) | (20 << 5) | 15
    base = (b'-lh0-' + struct.pack('<IIIBB', len(data) + len(chain), len(data), dos, 0x20, 1) + bytes([len(name)]) + name +
            struct.pack('<H', crc16(data)) + b'U' + struct.pack('<H', 3 + len(extras[0][1])))
    head = bytes([len(base)]) + bytes([sum(base) & 0xFF]) + base
    return head + chain + data
open(d + '/level1-time.lzh', 'wb').write(lha1(b'stamped.txt', b'stamped\n', [(0x54, struct.pack('<I', 1709634030))]) + b'\x00')

MARK = b'Rar!\x1a\x07\x00'
DOS = (44 << 25) | (3 << 21) | (5 << 16) | (10 << 11) | (20 << 5) | 15
def block(type_, flags, body):
    rest = struct.pack('<BHH', type_, flags, 7 + len(body)) + body
    return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest
def rar_file(name, data, attr, flags=0, method=0x30):
    body = struct.pack('<IIBIIBBHI', len(data), len(data), 3, zlib.crc32(data), DOS, 29, method, len(name), attr) + name
    return block(0x74, 0x8000 | flags, body) + data
open(d + '/unix.rar', 'wb').write(MARK + block(0x73, 0, b'\0' * 6) + rar_file(b'run.sh', script, 0o100755) +
                                 rar_file(b'sym', b'run.sh', 0o120777) + block(0x7B, 0x4000, b''))
# Main header flag 0x08: solid; file flag 0x10: continues the stream before it.
open(d + '/solid.rar', 'wb').write(MARK + block(0x73, 0x08, b'\0' * 6) + rar_file(b'one.txt', b'one\n', 0o100644) +
                                  rar_file(b'two.txt', b'two two\n', 0o100644, flags=0x10) + block(0x7B, 0x4000, b''))
PY
python3 - "$out/unix/hostile-links.tar" <<'PY'
import io, sys, tarfile
with tarfile.open(sys.argv[1], 'w', format=tarfile.PAX_FORMAT) as t:
    link = tarfile.TarInfo('orphan_link')
    link.type = tarfile.LNKTYPE
    link.linkname = 'not/in/the/archive.txt'
    link.mtime = 1709634030
    t.addfile(link)
    data = b'x' * 100
    bad = tarfile.TarInfo('GNUSparseFile.0/bad.bin')
    bad.size = len(data)
    bad.mtime = 1709634030
    bad.pax_headers = {'GNU.sparse.name': 'bad.bin', 'GNU.sparse.size': '50', 'GNU.sparse.map': '0,100'}
    t.addfile(bad, io.BytesIO(data))
    good = tarfile.TarInfo('good.txt')
    good.size = 5
    good.mtime = 1709634030
    t.addfile(good, io.BytesIO(b'good\n'))
PY

# What the peers make of them.
lhasa t "$out/unix/unix.lzh" >/dev/null
lhasa t "$out/unix/level1-time.lzh" >/dev/null
bsdtar -tvf "$out/unix/unix.rar" | grep -q 'sym -> run.sh'
unzip -tq "$out/unix/unix.zip" >/dev/null
for v in gnu 0.0 0.1 1.0; do
  rm -rf "$work/check" && mkdir "$work/check"
  tar -xf "$out/unix/sparse-$v.tar" -C "$work/check"
  cmp "$work/check/sparse.bin" "$work/sparse.expected"
done

# ---- what must not be lost in silence, and what must be said --------------------------------
mkdir -p "$out"/silent "$out"/messages
t="$work/text"
mkdir -p "$t"
(
  cd "$t"
  seq 1 400 > first.txt; seq 500 900 > second.txt; printf 'third\n' > third.txt
  touch -d '2024-03-05 10:20:30' first.txt second.txt third.txt
  zip -q - first.txt second.txt third.txt | cat > "$work/descriptor.zip"
  python3 -c "
import sys
b = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(b[:b.index(b'PK\x01\x02')])" "$work/descriptor.zip" "$out/silent/descriptor-cut.zip"
  { uuencode first.txt first.txt; uuencode second.txt second.txt; } > "$out/silent/two.uue"
  { for i in $(seq 1 150); do echo "Line $i of a letter about the attachment below."; done
    uuencode third.txt third.txt; } > "$out/silent/letter.uue"
  for i in $(seq 1 2000); do printf '%d\n' "$i" > f.txt; uuencode f.txt "f$i.txt"; done > "$out/silent/many.uue"
  timeout 20 arc a "$work/whole.arc" first.txt second.txt </dev/null >/dev/null
  head -c 20 "$work/whole.arc" > "$out/silent/cut-header.arc"
  : > empty.txt; touch -d '2024-03-05 10:20:30' empty.txt
  arj a "$work/two.arj" empty.txt first.txt >/dev/null
  python3 -c "
import sys
b = bytearray(open(sys.argv[1], 'rb').read())
main = bytes(b); main = main[:0] + b'\x61' + main[1:]
open(sys.argv[2], 'wb').write(main)
first = b.index(b'\x60\xea', 4)
b[first] = 0x61
open(sys.argv[3], 'wb').write(bytes(b))" "$work/two.arj" "$out/silent/damaged-main.arj" "$out/silent/damaged-entry.arj"
  compress -b9 -c first.txt > "$out/silent/b9.Z"
  compress -b12 -c first.txt > "$out/silent/b12.Z"
  timeout 20 arc agsecret "$out/messages/garbled.arc" first.txt third.txt </dev/null >/dev/null
  arj a -gsecret "$out/messages/garbled.arj" first.txt >/dev/null
  ln first.txt hard.txt
  arj a "$out/messages/hardlink.arj" first.txt hard.txt >/dev/null
  rm hard.txt
)
head -c 20 "$here/tests/arc_lzh/fixtures/bh/mixed.bh" > "$out/silent/cut.bh"
python3 - "$out/messages/zoo210.zoo" <<'PY'
import struct, sys
def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc
TAG = 0xFDC4A7DC
DOS_DATE, DOS_TIME = (44 << 9) | (3 << 5) | 5, (10 << 11) | (20 << 5) | 15
head = b'ZOO 2.10 Archive.\x1a'.ljust(20, b'\0') + struct.pack('<IIiBBBIHB', TAG, 42, -42, 2, 0, 1, 0, 0, 1)
body = bytearray(head)
for name, data in ((b'one.txt', b'one\n'), (b'two.txt', b'two two\n')):
    var = bytes([0, 0]) + struct.pack('<H', 0) + bytes(3) + b'\0' + struct.pack('<H', 0)  # no long name or folder
    pos = len(body)
    data_at = pos + 56 + len(var)
    fixed = struct.pack('<IBBiiHHHIIBBBBIH', TAG, 2, 0, data_at + len(data), data_at, DOS_DATE, DOS_TIME, crc16(data),
                        len(data), len(data), 1, 0, 0, 0, 0, 0) + name.ljust(13, b'\0')
    entry = bytearray(fixed + struct.pack('<HbH', len(var), 127, 0) + var)
    struct.pack_into('<H', entry, 54, crc16(bytes(entry)))
    body += entry + data
# The chain's end: a 56-byte entry whose next position is 0, the file's last bytes.
body += struct.pack('<IBBiiHHHIIBBBBIH', TAG, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) + bytes(13) + struct.pack('<HbH', 0, 127, 0)
open(sys.argv[1], 'wb').write(bytes(body))
PY
unar -q -f -D -o "$work/zoo" "$out/messages/zoo210.zoo" >/dev/null
cmp "$work/zoo/one.txt" <(printf 'one\n')
cmp "$work/zoo/two.txt" <(printf 'two two\n')
7z t "$out/silent/b12.Z" >/dev/null
! uncompress -c "$out/silent/b9.Z" 2>/dev/null | cmp -s - "$t/first.txt"
