#!/usr/bin/env bash
# Makes the fixtures of the ARC, PAK, cabinet, RAR, ACE, HA and MsGZ tests
# under tests/arc_cab_rar/fixtures:
#   - arc/mixed.arc: "arc a" of inputs for which it chooses stored,
#     packed, squeezed and crunched; squashed.arc ("arc aq"), stored.arc
#     ("arc as"). "arc v" shows the methods. dated.arc ("arc as"): three
#     entries of different dates, the latest in the middle.
#   - arc/crunch5-7.arc: methods 5, 6 and 7 (the old 12-bit crunch, which no
#     Debian tool writes any more), a method-1 entry with its 25-byte
#     header, a directory header and entries inside it, written by the
#     encoder below; nomarch must read them back, which settles the old
#     hash of methods 5 and 6.
#   - arc/pak.pak: a PAK archive with a stored entry and entries of PAK's
#     own methods 10 and 11; arc/later.arc: the same methods after a
#     stored first entry, so that the archive is taken for ARC.
#   - cab/stored.cab, cab/mszip.cab: "gcab -c" and "gcab -c -z";
#     cab/stub.exe: a stub followed by mszip.cab; cab/set1.cab and
#     cab/set2.cab: a two-cabinet set whose folder runs on into the second,
#     written below (cabextract reads them back).
#   - rar/*.rar: RAR 4 archives of stored entries written below (no RAR
#     writer is in Debian main): single.rar (a folder, files, a 64-bit size
#     field), vol.part1.rar and vol.part2.rar (a file split over the two),
#     unicode.rar (UTF-8 names), long-name.rar (a name of 306 bytes),
#     encrypted.rar (an entry marked encrypted);
#     bsdtar reads them back.
#   - ace, ha, msgz: headers for listing.
#   - hostile/: an ARC with a huge packed size, a squeeze tree whose child is
#     out of range, crunched codes whose chain turns round (methods 5 and 7),
#     a MsGZ entry of length 0, a cabinet whose next cabinet is "../x.cab",
#     and RAR names with "../" and absolute paths, plain and Unicode.
# Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/arc_cab_rar/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC
rm -rf "$out"
mkdir -p "$out"/arc "$out"/cab "$out"/rar "$out"/list "$out"/hostile "$out"/inputs

# ---- inputs made with the archivers -------------------------------------------------
python3 - "$out/inputs" <<'PY'
import random, sys, os
d = sys.argv[1]
random.seed(29)
def put(name, data):
    open(os.path.join(d, name), 'wb').write(data)
put('tiny.txt', b'hi')
put('random.bin', bytes(random.getrandbits(8) for _ in range(3000)))
put('runs.txt', b'aaaaaaaaaaaaaaaaaaaaaaaaaaaaab')
put('four.bin', bytes(random.choice(b'ABCD') for _ in range(400)))
put('text.txt', b''.join(b'Line %d of a text that says much the same thing again.\n' % i for i in range(600)))
put('marker.bin', bytes([0x90, 0x90, 0x41, 0x90, 0x00]) * 50 + b'\x90')
PY
touch -d '2024-03-05 10:20:30' "$out"/inputs/*
(
  cd "$out/inputs"
  timeout 60 arc a "$work/mixed.arc" tiny.txt random.bin runs.txt four.bin text.txt marker.bin </dev/null >/dev/null
  timeout 60 arc aq "$work/squashed.arc" text.txt four.bin </dev/null >/dev/null
  timeout 60 arc as "$work/stored.arc" text.txt random.bin </dev/null >/dev/null
  mkdir "$work/dated"
  cp -p four.bin runs.txt tiny.txt "$work/dated/"
  touch -d '2021-07-01 08:00:00' "$work/dated/four.bin"
  touch -d '2019-11-20 16:45:10' "$work/dated/tiny.txt"
  (cd "$work/dated" && timeout 60 arc as "$work/dated.arc" four.bin runs.txt tiny.txt </dev/null >/dev/null)
  gcab -c "$work/stored.cab" text.txt random.bin four.bin
  gcab -c -z "$work/mszip.cab" text.txt random.bin four.bin
)
cp "$work"/*.arc "$out/arc/"
cp "$work"/stored.cab "$work"/mszip.cab "$out/cab/"
arc v "$out/arc/mixed.arc" </dev/null

# ---- archives written here ---------------------------------------------------------
python3 - "$out" <<'PY'
import os, struct, sys, zlib, random
out = sys.argv[1]
random.seed(290)

def crc16(data):
    c = 0
    for b in data:
        c ^= b
        for _ in range(8):
            c = (c >> 1) ^ 0xA001 if c & 1 else c >> 1
    return c

DOS = (((2024 - 1980) << 9) | (3 << 5) | 5) | ((((10 << 11) | (20 << 5) | 15)) << 16)  # date low, time high

# -- the 12-bit crunch of ARC methods 5 to 7 --------------------------------------------
NOPRED = 0xFFFF
class Table:
    def __init__(self, new):
        self.new = new
        self.used = [False] * 4096; self.nxt = [0] * 4096; self.pred = [0] * 4096; self.foll = [0] * 4096
        for c in range(256):
            self.insert(NOPRED, c)
    def home(self, pred, foll):
        s = (pred + foll) & 0xFFFF
        if self.new:
            return (s * 15073) & 0xFFF
        v = (s | 0x800) & 0xFFFF
        return ((v * v) >> 6) & 0xFFF
    def insert(self, pred, foll):
        slot = self.home(pred, foll)
        if self.used[slot]:
            while self.nxt[slot]:
                slot = self.nxt[slot]
            probe = (slot + 101) & 0xFFF
            while self.used[probe]:
                probe = (probe + 1) & 0xFFF
            self.nxt[slot] = probe
            slot = probe
        self.used[slot] = True; self.nxt[slot] = 0; self.pred[slot] = pred; self.foll[slot] = foll
        return slot
    def find(self, pred, foll):
        slot = self.home(pred, foll)
        while True:
            if self.used[slot] and self.pred[slot] == pred and self.foll[slot] == foll:
                return slot
            if not self.used[slot] or self.nxt[slot] == 0:
                return None
            slot = self.nxt[slot]

def rle(data):
    out = bytearray(); i = 0
    while i < len(data):
        c = data[i]
        if c == 0x90:
            out += b'\x90\x00'; i += 1; continue
        n = 1
        while i + n < len(data) and data[i + n] == c and n < 255:
            n += 1
        if n >= 3:
            out += bytes([c, 0x90, n])
        else:
            out += bytes([c]) * n
        i += n
    return bytes(out)

def pack_codes(codes):
    out = bytearray()
    for i in range(0, len(codes), 2):
        a = codes[i]
        if i + 1 < len(codes):
            b = codes[i + 1]
            out += bytes([a >> 4, ((a & 0xF) << 4) | (b >> 8), b & 0xFF])
        else:
            out += bytes([a >> 4, (a & 0xF) << 4])
    return bytes(out)

def crunch(data, new):
    t = Table(new)
    left = 4096 - 256
    codes = []
    w = t.find(NOPRED, data[0])
    for c in data[1:]:
        k = t.find(w, c)
        if k is not None:
            w = k
            continue
        codes.append(w)
        if left:
            t.insert(w, c); left -= 1
        w = t.find(NOPRED, c)
    codes.append(w)
    return pack_codes(codes)

def arc_header(method, name, packed, unpacked, crc):
    nm = name.encode('ascii')[:12].ljust(13, b'\0')
    h = bytes([0x1A, method]) + nm + struct.pack('<IIH', len(packed), DOS, crc)
    if method != 1:
        h += struct.pack('<I', unpacked)
    return h + packed

text = b''.join(b'crunch line %d: the quick brown fox jumps over the lazy dog\n' % (i % 37) for i in range(300))
runs = b'A' * 300 + b'\x90' * 5 + b'xyz' * 40 + bytes(range(256)) * 3
entries = [
    arc_header(5, 'OLD5.TXT', crunch(text, False), len(text), crc16(text)),
    arc_header(6, 'OLD6.BIN', crunch(rle(runs), False), len(runs), crc16(runs)),
    arc_header(7, 'NEW7.TXT', crunch(rle(text), True), len(text), crc16(text)),
    arc_header(1, 'OLDSTORE.TXT', b'stored the oldest way\n', 22, crc16(b'stored the oldest way\n')),
    bytes([0x1A, 30]) + b'SUB'.ljust(13, b'\0') + struct.pack('<IIHI', 0, DOS, 0, 0),
    arc_header(2, 'INSIDE.TXT', b'in the folder\n', 14, crc16(b'in the folder\n')),
    arc_header(7, 'DEEP.BIN', crunch(rle(runs), True), len(runs), crc16(runs)),
]
open(os.path.join(out, 'arc', 'crunch5-7.arc'), 'wb').write(b''.join(entries) + b'\x1a\x00')

# PAK: a stored entry and entries of PAK's own methods.
pak = [arc_header(10, 'CRUSHED.DAT', b'\x01\x02\x03\x04', 40, 0x1234),
       arc_header(2, 'PLAIN.TXT', b'plain\n', 6, crc16(b'plain\n')),
       arc_header(11, 'DISTILL.DAT', b'\x05\x06\x07', 30, 0x4321)]
open(os.path.join(out, 'arc', 'pak.pak'), 'wb').write(b''.join(pak) + b'\x1a\x00')
later = [arc_header(2, 'PLAIN.TXT', b'plain\n', 6, crc16(b'plain\n')),
         arc_header(10, 'TEN.DAT', b'\x01\x02\x03\x04', 40, 0x1234),
         arc_header(11, 'ELEVEN.DAT', b'\x05\x06\x07', 30, 0x4321)]
open(os.path.join(out, 'arc', 'later.arc'), 'wb').write(b''.join(later) + b'\x1a\x00')

# -- hostile ARC ---------------------------------------------------------------------
h = out + '/hostile/'
big = bytes([0x1A, 2]) + b'HUGE.BIN'.ljust(13, b'\0') + struct.pack('<IIHI', 0xFFFFFFF0, DOS, 0, 0xFFFFFFF0) + b'short data'
open(h + 'huge-size.arc', 'wb').write(arc_header(2, 'FIRST.TXT', b'first\n', 6, crc16(b'first\n')) + big)
# A squeeze tree of two nodes whose second child names node 7.
tree = struct.pack('<h', 2) + struct.pack('<hh', 1, -(ord('a') + 1)) + struct.pack('<hh', 7, -257)
bad_tree = tree + b'\x00\x00'
open(h + 'squeeze-child.arc', 'wb').write(
    arc_header(4, 'TREE.BIN', bad_tree, 10, 0) + arc_header(2, 'AFTER.TXT', b'after\n', 6, crc16(b'after\n')) + b'\x1a\x00')
# Crunched codes whose string table entry points at itself: code T is sent
# while unused, then the string (T, f) lands on slot T.
def cycle(new):
    t = Table(new)
    a = t.find(NOPRED, ord('a'))
    for T in range(4096):
        if t.used[T]:
            continue
        for f in range(256):
            probe = Table(new)
            s1 = probe.insert(a, ord('a'))
            if s1 == T or probe.used[T]:
                continue
            if probe.home(T, f) == T:
                return pack_codes([a, T, probe.find(NOPRED, f), T])
    raise SystemExit('no cycle found')
open(h + 'crunch-cycle.arc', 'wb').write(
    arc_header(5, 'CYCLE5.BIN', cycle(False), 50000, 0) + arc_header(7, 'CYCLE7.BIN', cycle(True), 50000, 0) +
    arc_header(2, 'AFTER.TXT', b'after\n', 6, crc16(b'after\n')) + b'\x1a\x00')

# -- cabinets: a two-cabinet set, stored, one folder running on -------------------------
def cab(files, folders, flags, next_name=b'', prev_name=b'', index=0):
    # header, folders (each a list of (bytes, unpacked size) blocks), file
    # entries, then each folder's data blocks
    names = b''
    if flags & 1:
        names += prev_name + b'\0' + b'DISK\0'
    if flags & 2:
        names += next_name + b'\0' + b'DISK\0'
    hdr_len = 36 + len(names)
    files_raw = b''
    for (name, size, offset, ifolder) in files:
        files_raw += struct.pack('<IIHHHH', size, offset, ifolder, DOS & 0xFFFF, DOS >> 16, 0x20) + name + b'\0'
    coff_files = hdr_len + 8 * len(folders)
    at = coff_files + len(files_raw)
    folder_raw = b''
    blocks = b''
    for fol in folders:
        folder_raw += struct.pack('<IHH', at + len(blocks), len(fol), 0)
        for blk, uncomp in fol:
            blocks += struct.pack('<IHH', 0, len(blk), uncomp) + blk
    total = coff_files + len(files_raw) + len(blocks)
    head = b'MSCF' + struct.pack('<IIIIIBBHHHHH', 0, total, 0, coff_files, 0, 3, 1, len(folders), len(files), flags,
                                 0x4D2, index)
    return head + names + folder_raw + files_raw + blocks

first = b''.join(b'first file of the set, line %d\n' % i for i in range(100))
second = b''.join(b'second file runs over into the next cabinet %d\n' % i for i in range(100))
third = b'third file, wholly in the second cabinet\n' * 20
stream = first + second
cut = len(first) + len(second) // 2
part1, part2 = stream[:cut], stream[cut:]
# The data block is split: its first part says 0 bytes unpacked, the
# second part the block's whole size. The second cabinet has a folder of
# its own after the continued one.
c1 = cab([(b'first.txt', len(first), 0, 0), (b'second.txt', len(second), len(first), 0xFFFE)], [[(part1, 0)]], 2,
         next_name=b'set2.cab', index=0)
c2 = cab([(b'second.txt', len(second), len(first), 0xFFFD), (b'third.txt', len(third), 0, 1)],
         [[(part2, len(stream))], [(third, len(third))]], 1, prev_name=b'set1.cab', index=1)
open(os.path.join(out, 'cab', 'set1.cab'), 'wb').write(c1)
open(os.path.join(out, 'cab', 'set2.cab'), 'wb').write(c2)
# A cabinet whose next cabinet is named outside its folder.
open(h + 'next-outside.cab', 'wb').write(
    cab([(b'only.txt', 5, 0, 0)], [[(b'only\n', 5)]], 2, next_name=b'../x.cab', index=0))
# Names that point outside the target folder, before a good one.
data = b'evil\n' + b'abs\n' + b'good\n'
open(h + 'names.cab', 'wb').write(cab([(b'..\\evil.txt', 5, 0, 0), (b'/abs.txt', 4, 5, 0), (b'good.txt', 5, 9, 0)],
                                     [[(data, len(data))]], 0))
# A cabinet whose data checksum is wrong: the file fails alone.
good = cab([(b'one.txt', 4, 0, 0)], [[(b'one\n', 4)]], 0)
i = good.index(b'one\n', 60)
bad = good[:i - 8] + struct.pack('<I', 0xDEADBEEF) + good[i - 4:]
open(h + 'bad-checksum.cab', 'wb').write(bad)

# -- RAR 4, stored entries --------------------------------------------------------------
MARK = b'Rar!\x1a\x07\x00'
def block(type_, flags, body):
    size = 7 + len(body)
    rest = struct.pack('<BHH', type_, flags, size) + body
    return struct.pack('<H', zlib.crc32(rest) & 0xFFFF) + rest
def main_header(flags=0):
    return block(0x73, flags, b'\0' * 6)
def end_block(flags=0x4000):
    return block(0x7B, flags, b'')
def file_header(name, data, flags=0, crc=None, unpacked=None, attr=0x20, host=2, wide=False):
    flags |= 0x8000
    if wide:
        flags |= 0x100
    if crc is None:
        crc = zlib.crc32(data)
    if unpacked is None:
        unpacked = len(data)
    body = struct.pack('<IIBIIBBHI', len(data) & 0xFFFFFFFF, unpacked & 0xFFFFFFFF, host, crc, DOS_RAR, 20, 0x30,
                       len(name), attr)
    if wide:
        body += struct.pack('<II', len(data) >> 32, unpacked >> 32)
    body += name
    return block(0x74, flags, body) + data
DOS_RAR = ((DOS & 0xFFFF) << 16) | (DOS >> 16)  # time low, date high

r = out + '/rar/'
alpha = b'alpha\n' * 100
beta = bytes(random.getrandbits(8) for _ in range(5000))
open(r + 'single.rar', 'wb').write(MARK + main_header() +
    file_header(b'docs', b'', attr=0x10) +
    file_header(b'docs\\alpha.txt', alpha) +
    file_header(b'beta.bin', beta, wide=True) +
    file_header(b'empty.txt', b'') + end_block())
big = b''.join(b'volume data %06d\n' % i for i in range(4000))
half = len(big) // 2
open(r + 'vol.part1.rar', 'wb').write(MARK + main_header(0x0001 | 0x0010) +
    file_header(b'before.txt', b'before\n') +
    file_header(b'split.txt', big[:half], flags=0x02, crc=zlib.crc32(big[:half]), unpacked=len(big)) + end_block(0x4001))
open(r + 'vol.part2.rar', 'wb').write(MARK + main_header(0x0001) +
    file_header(b'split.txt', big[half:], flags=0x01, crc=zlib.crc32(big), unpacked=len(big)) +
    file_header(b'after.txt', b'after\n') + end_block())
open(r + 'unicode.rar', 'wb').write(MARK + main_header() +
    file_header('grüße\\naïve.txt'.encode('utf-8'), b'unicode\n', flags=0x200) +
    file_header(b'plain.txt', b'plain\n') + end_block())
# A name longer than 255 bytes (its size field is 16 bits).
long_name = b'x' * 100 + b'\\' + b'y' * 100 + b'\\' + b'z' * 100 + b'.txt'
open(r + 'long-name.rar', 'wb').write(MARK + main_header() + file_header(long_name, b'long\n') + end_block())
open(r + 'encrypted.rar', 'wb').write(MARK + main_header() +
    file_header(b'secret.txt', b'not really encrypted', flags=0x04) +
    file_header(b'open.txt', b'open\n') + end_block())
open(h + 'names.rar', 'wb').write(MARK + main_header() +
    file_header(b'..\\evil.txt', b'evil\n') +
    file_header(b'/abs.txt', b'abs\n') +
    file_header('..\\évil.txt'.encode('utf-8'), b'evil unicode\n', flags=0x200) +
    file_header('/ábs.txt'.encode('utf-8'), b'abs unicode\n', flags=0x200) +
    file_header(b'good.txt', b'good\n') + end_block())
open(h + 'rar5.rar', 'wb').write(b'Rar!\x1a\x07\x01\x00' + bytes(40))

# -- ACE, HA and MsGZ headers, for listing ---------------------------------------------------
l = out + '/list/'
def ace_main():
    body = struct.pack('<BH', 0, 0x0000) + b'**ACE**' + bytes([20, 20, 2, 0]) + struct.pack('<I', DOS_RAR) + bytes(8) + bytes(10)
    return struct.pack('<HH', 0, len(body)) + body
def ace_file(name, packed, unpacked, attr=0x20, flags=0):
    body = struct.pack('<BHIIIIIBBHHH', 1, flags, len(packed), unpacked, DOS_RAR, attr, zlib.crc32(b'x'), 0, 2, 0, 0,
                       len(name)) + name + bytes(2)
    return struct.pack('<HH', 0, len(body)) + body + packed
open(l + 'files.ace', 'wb').write(ace_main() + ace_file(b'readme.txt', b'12345', 100) +
                                   ace_file(b'dir', b'', 0, attr=0x10) + ace_file(b'dir\\data.bin', b'abc', 9))
def ha_entry(path, name, packed, unpacked, method=2):
    return (bytes([0x20 | method]) + struct.pack('<IIII', len(packed), unpacked, 0xCAFEBABE, 0) +
            path + b'\0' + name + b'\0' + bytes([1, 0x20]) + packed)
open(l + 'files.ha', 'wb').write(b'HA' + struct.pack('<H', 2) + ha_entry(b'', b'one.txt', b'1234', 10) +
                                  ha_entry(b'sub/', b'two.txt', b'56', 4, method=0))
def msgz(entries):
    main = bytearray(54)
    main[0:4] = bytes([0x13, 0x5D, 0x65, 0x8C])
    main[41:45] = struct.pack('<I', 54)
    blocks = struct.pack('<BBBBH', 1, 0, 0, 0, 10) + bytes(4) + b'\0'
    recs = b''
    for name, size in entries:
        rec = bytes(2) + struct.pack('<IIIII', size, size // 2, 0x400, DOS, 0x20)
        length = 29 + len(name) if size else 0
        rec += struct.pack('<I', length if name != b'zero' else 0) + bytes(2) + bytes([len(name)]) + name
        recs += rec
    return bytes(main) + blocks + recs
open(l + 'files.msgz', 'wb').write(msgz([(b'setup.ini', 300), (b'\x81ber.txt', 80)]))
open(h + 'zero-length.msgz', 'wb').write(msgz([(b'first.txt', 300), (b'zero', 10), (b'never.txt', 20)]))
PY

# A stub in front of a cabinet.
python3 -c "import struct, sys; sys.stdout.buffer.write((b'MZ' + struct.pack('<HH', 0, 5)).ljust(2048, b'\\0'))" > "$out/cab/stub.exe"
cat "$out/cab/mszip.cab" >> "$out/cab/stub.exe"

# ---- the peers read them back ------------------------------------------------------
# nomarch knows methods 5 and 6 (not 7, nor directory headers).
nomarch -t "$out/arc/crunch5-7.arc" > "$work/nomarch.txt" || true
grep -q '^old5.txt.*ok' "$work/nomarch.txt" && grep -q '^old6.bin.*ok' "$work/nomarch.txt"
nomarch -t "$out/arc/mixed.arc"
cabextract -q -d "$work/cab" "$out/cab/set1.cab" "$out/cab/set2.cab"
python3 -c "import sys; sys.stdout.buffer.write(b'third file, wholly in the second cabinet\\n' * 20)" | cmp - "$work/cab/third.txt"
for f in single vol.part1 unicode; do
  bsdtar -tf "$out/rar/$f.rar" >/dev/null
done
echo "fixtures written to $out"
