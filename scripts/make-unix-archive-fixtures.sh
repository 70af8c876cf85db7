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
# Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/archive_unix/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC LC_ALL=C.UTF-8
rm -rf "$out"
mkdir -p "$out"/names

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
