#!/usr/bin/env bash
# Makes the fixtures of the BH, LHA/LZH and ZOO tests under
# tests/arc_lzh/fixtures (needs jlha-utils, lhasa and unar; jlha-utils only
# for making fixtures, since it brings a Java runtime):
#   - lzh/level0.lzh, level1.lzh, level2.lzh: "jlha c0o5", "c1o6", "c2o7" of
#     inputs in folders; lzh/stored.lzh: "jlha c1z"; lzh/folders.lzh:
#     "jlha c2" of a folder holding an empty folder and a file in another
#     (folder entries of their own); lhasa must read them.
#   - lzh/sfx.exe: a stub in front of level1.lzh; lzh/wrapped.lzh: the
#     128-byte wrapper of a zero byte in front of level0.lzh.
#   - lzh/lh1-level0.lzh, lzh/lh1-level1.lzh: an lh1 stream of our own
#     packer (the filter lzh_pack_tool of the test build, path in
#     $LZH_PACK_TOOL, default build/test/tests/arc_lzh/lzh_pack_tool),
#     wrapped in level-0 and level-1 headers here; "lhasa t" passes them. lzh/lh4.lzh: one hand-assembled lh4 block
#     of literals and matches.
#   - zoo/mixed.zoo: stored, LZW (the small encoder below) and method 2 (an
#     lh5 stream of jlha) entries, with long names and a folder; unar must
#     read them back.
#   - bh/mixed.bh: stored, raw deflate, method 1 (an lh5 stream) and method
#     3 (an lh6 stream whose matches reach 30,000 bytes back) entries, some
#     under the traditional ZIP cipher (password "secret"); bh/sfx.exe: a
#     stub in front of it. No tool reads BH: the tests compare with inputs.
#   - hostile/: traversal names of each format, unsupported methods, a ZOO
#     chain that turns back, a deleted ZOO entry and two sharing a short
#     name, LHA headers whose sizes contradict themselves, a level-2 header
#     of 300 bytes whose name comes after a long extended header, an lh1
#     entry that claims four times the bytes its data holds, and cut copies.
# Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/arc_lzh/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC
mkdir -p "$out"/lzh "$out"/zoo "$out"/bh "$out"/hostile "$out"/inputs
rm -f "$out"/lzh/* "$out"/zoo/* "$out"/bh/* "$out"/hostile/*

# ---- inputs -------------------------------------------------------------------------------
mkdir -p "$work/in/docs/sub"
python3 - "$work/in" "$out/inputs" <<'PY'
import random, sys, os
d, keep = sys.argv[1], sys.argv[2]
random.seed(28)
def put(name, data):
    open(os.path.join(d, name), 'wb').write(data)
text = b''.join(b'Line %d of a text that says much the same thing again.\n' % i for i in range(4000))
put('text.txt', text)
put('docs/readme.txt', b'read me first\n' * 40)
put('docs/sub/random.bin', bytes(random.getrandbits(8) for _ in range(3000)))
block = bytes(random.getrandbits(8) for _ in range(30000))
# Matches 30,000 bytes back: beyond an 8 KB window and a 26,624-byte one.
put('far.bin', block + block[:20000] + b'end')
PY
touch -d '2024-03-05 10:20:30' "$work"/in/text.txt "$work"/in/far.bin "$work"/in/docs/readme.txt "$work"/in/docs/sub/random.bin
(
  cd "$work/in"
  jlha c0o5 "$work/level0.lzh" text.txt docs/readme.txt docs/sub/random.bin >/dev/null
  jlha c1o6 "$work/level1.lzh" text.txt docs/readme.txt docs/sub/random.bin >/dev/null
  jlha c2o7 "$work/level2.lzh" text.txt docs/readme.txt docs/sub/random.bin >/dev/null
  jlha c1z "$work/stored.lzh" docs/readme.txt docs/sub/random.bin >/dev/null
  jlha c2o5 "$work/lh5.lzh" text.txt docs/readme.txt far.bin >/dev/null
  jlha c2o6 "$work/lh6.lzh" text.txt far.bin >/dev/null
  mkdir -p tree/empty tree/full
  cp -p docs/readme.txt tree/full/
  touch -d '2024-03-05 10:20:30' tree/empty tree/full tree
  jlha c2 "$work/folders.lzh" tree >/dev/null
)
for f in level0 level1 level2 stored folders; do
  lhasa t "$work/$f.lzh" >/dev/null
  cp "$work/$f.lzh" "$out/lzh/"
done
cp "$work"/in/text.txt "$work"/in/far.bin "$work"/in/docs/readme.txt "$out/inputs/"
"${LZH_PACK_TOOL:-$here/build/test/tests/arc_lzh/lzh_pack_tool}" < "$work/in/text.txt" > "$work/text.lh1"

python3 - "$out" "$work" <<'PY'
import os, struct, sys, zlib, random, time, calendar
out, work = sys.argv[1], sys.argv[2]
inp = os.path.join(out, 'inputs')
random.seed(28)

def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc

def read(name):
    return open(os.path.join(inp, name), 'rb').read()

def write(path, data):
    open(os.path.join(out, path), 'wb').write(data)

DOS_TIME = (10 << 11) | (20 << 5) | 15
DOS_DATE = ((2024 - 1980) << 9) | (3 << 5) | 5
DOS = DOS_TIME | (DOS_DATE << 16)

# ---- LHA headers --------------------------------------------------------------------

def lha_streams(path):
    """The entries of a level-2 archive: (method, name, packed, unpacked size, crc)."""
    b = open(path, 'rb').read()
    pos, out_ = 0, []
    while pos < len(b) and b[pos] != 0:
        size = struct.unpack_from('<H', b, pos)[0]
        method = b[pos + 2:pos + 7]
        packed, unpacked = struct.unpack_from('<II', b, pos + 7)
        crc = struct.unpack_from('<H', b, pos + 21)[0]
        at, nxt, name = pos + 26, struct.unpack_from('<H', b, pos + 24)[0], b''
        while nxt:
            if b[at] == 1:
                name = b[at + 1:at + nxt - 2]
            at, nxt = at + nxt, struct.unpack_from('<H', b, at + nxt - 2)[0]
        out_.append((method, name, b[pos + size:pos + size + packed], unpacked, crc))
        pos += size + packed
    return out_

def lha0(method, name, packed, unpacked, crc, rest_fix=None):
    body = method + struct.pack('<IIIBB', len(packed), unpacked, DOS, 0x20, 0) + bytes([len(name)]) + name + struct.pack('<H', crc)
    size = len(body) if rest_fix is None else rest_fix
    head = bytes([size, sum(body) & 0xFF]) + body
    return head + packed

def ext(kind, data):
    return (kind, data)

def lha1(method, name, packed, unpacked, crc, exts=()):
    blobs = []
    for kind, data in exts:
        blobs.append(bytes([kind]) + data)
    # each extended header: type, data, size of the next
    tail = b''
    sizes = [len(x) + 2 for x in blobs]
    for i, x in enumerate(blobs):
        tail += x + struct.pack('<H', sizes[i + 1] if i + 1 < len(sizes) else 0)
    first = sizes[0] if sizes else 0
    body = method + struct.pack('<IIIBB', len(packed) + len(tail), unpacked, DOS, 0x20, 1) + bytes([len(name)]) + name + \
        struct.pack('<H', crc) + b'U' + struct.pack('<H', first)
    return bytes([len(body), sum(body) & 0xFF]) + body + tail + packed

def lha2(method, packed, unpacked, crc, exts, unix_time=1709634030, os_id=b'U'):
    blobs = [bytes([k]) + d for k, d in exts]
    sizes = [len(x) + 2 for x in blobs]
    tail = b''
    for i, x in enumerate(blobs):
        tail += x + struct.pack('<H', sizes[i + 1] if i + 1 < len(sizes) else 0)
    total = 26 + len(tail)
    if total & 0xFF == 0:
        tail += b'\0'
        total += 1
    head = struct.pack('<H', total) + method + struct.pack('<IIIBB', len(packed), unpacked, unix_time, 0x20, 2) + \
        struct.pack('<H', crc) + os_id + struct.pack('<H', sizes[0] if sizes else 0)
    return head + tail + packed

lh5 = lha_streams(os.path.join(work, 'lh5.lzh'))
lh6 = lha_streams(os.path.join(work, 'lh6.lzh'))
text, readme, far = read('text.txt'), read('readme.txt'), read('far.bin')

# Self-extractor and wrapper forms.
level1 = open(os.path.join(out, 'lzh/level1.lzh'), 'rb').read()
level0 = open(os.path.join(out, 'lzh/level0.lzh'), 'rb').read()
# An MS-DOS program image of 3000 bytes: 6 pages, 440 bytes in the last.
stub = b'MZ' + struct.pack('<HH', 440, 6) + bytes(random.getrandbits(8) & 0x7F for _ in range(2994))
write('lzh/sfx.exe', stub + level1)
write('lzh/wrapped.lzh', b'\0' + bytes(127) + level0)

# lh1 streams from our own packer, in level-0 and level-1 headers.
for kind in ('level0', 'level1'):
    packed = open(os.path.join(work, 'text.lh1'), 'rb').read()
    make = lha0 if kind == 'level0' else lha1
    write('lzh/lh1-%s.lzh' % kind, make(b'-lh1-', b'text.txt', packed, len(text), crc16(text)) + b'\0')

# ---- one hand-assembled lh4 block --------------------------------------------------------

class Bits:
    def __init__(self):
        self.v, self.n, self.out = 0, 0, bytearray()
    def put(self, value, width):
        for i in range(width - 1, -1, -1):
            self.v = (self.v << 1) | ((value >> i) & 1)
            self.n += 1
            if self.n == 8:
                self.out.append(self.v)
                self.v, self.n = 0, 0
    def done(self):
        if self.n:
            self.out.append(self.v << (8 - self.n))
        return bytes(self.out)

def canonical(lengths):
    """Codes of a canonical Huffman code from its lengths (shorter first, then by symbol)."""
    codes, code = {}, 0
    for L in range(1, 17):
        for s, l in enumerate(lengths):
            if l == L:
                codes[s] = (code, L)
                code += 1
        code <<= 1
    return codes

# "abcabcabcabc!" as: a, b, c, match length 9 distance 3 (code 256 + 9 - 3), '!'.
# Every table must be a complete code: C gives a, b, c 2 bits and the match
# and '!' 3 bits; T (the code of the C lengths) gives symbol 2 (a run of 20
# or more zeros) 1 bit and symbols 4 and 5 (lengths 2 and 3) 2 bits; the
# distance table has the one symbol 2.
NC = 510
c_len = [0] * NC
for s_, l_ in ((ord('a'), 2), (ord('b'), 2), (ord('c'), 2), (256 + 9 - 3, 3), (ord('!'), 3)):
    c_len[s_] = l_
bits = Bits()
bits.put(5, 16)                       # five items in the block
t_len = [0, 0, 1, 0, 2, 2]
bits.put(len(t_len), 5)
for i, L in enumerate(t_len):
    if i == 3:
        bits.put(0, 2)                # after the third length: no zeros skipped
    bits.put(L, 3)
t_codes = canonical(t_len)
c_n = 256 + 9 - 3 + 1
bits.put(c_n, 9)
i = 0
while i < c_n:
    if c_len[i]:
        bits.put(*t_codes[c_len[i] + 2])
        i += 1
        continue
    run = 0
    while i + run < c_n and c_len[i + run] == 0:
        run += 1
    assert run >= 20
    bits.put(*t_codes[2]); bits.put(run - 20, 9)
    i += run
bits.put(0, 4)                        # the distance table: one symbol ...
bits.put(2, 4)                        # ... code 2 (distances 3 and 4)
c_codes = canonical(c_len)
for s_ in (ord('a'), ord('b'), ord('c')):
    bits.put(*c_codes[s_])
bits.put(*c_codes[256 + 9 - 3])
bits.put(0, 1)                        # code 2's extra bit: distance 2 + 0 + 1 = 3
bits.put(*c_codes[ord('!')])
lh4_data = bits.done()
lh4_plain = b'abcabcabcabc!'
write('lzh/lh4.lzh', lha1(b'-lh4-', b'abc.txt', lh4_data, len(lh4_plain), crc16(lh4_plain)) + b'\0')
write('inputs/abc.txt', lh4_plain)

# ---- ZOO ---------------------------------------------------------------------------------

def zoo_lzw(data):
    CLEAR, END, FIRST, MAXC = 256, 257, 258, 8192
    codes = []
    table = {}
    free = FIRST
    width, maxcode, dec_free = 9, 512, FIRST
    bits = []
    def emit(code, w):
        bits.append((code, w))
    emit(CLEAR, 9)
    w = None
    n = 0
    for c in data:
        if w is None:
            w = bytes([c]); continue
        wc = w + bytes([c])
        if wc in table:
            w = wc; continue
        code = table[w] if len(w) > 1 else w[0]
        emit(code, width); n += 1
        if n >= 2 and dec_free < MAXC:
            dec_free += 1
            if dec_free >= maxcode and width < 13:
                width += 1; maxcode <<= 1
        if free < MAXC:
            table[wc] = free; free += 1
        w = bytes([c])
    if w is not None:
        emit(table[w] if len(w) > 1 else w[0], width); n += 1
        if n >= 2 and dec_free < MAXC:
            dec_free += 1
            if dec_free >= maxcode and width < 13:
                width += 1; maxcode <<= 1
    emit(END, width)
    acc, nb, outb = 0, 0, bytearray()
    for code, wd in bits:
        acc |= code << nb; nb += wd
        while nb >= 8:
            outb.append(acc & 0xFF); acc >>= 8; nb -= 8
    if nb:
        outb.append(acc & 0xFF)
    return bytes(outb)

ZOO_TAG = 0xFDC4A7DC

def zoo_archive(entries, link_back=False):
    """entries: dicts with name, data, method, packed, long, folder, deleted."""
    head = b'ZOO 2.10 Archive.\x1a'.ljust(20, b'\0')
    start = 42
    head += struct.pack('<IIiBBBIHB', ZOO_TAG, start, -start, 2, 0, 1, 0, 0, 1)
    assert len(head) == 42
    body = bytearray(head)
    positions = []
    for e in entries:
        long_, folder = e.get('long', b''), e.get('folder', b'')
        var = bytes([len(long_) + 1 if long_ else 0, len(folder) + 1 if folder else 0])
        var += (long_ + b'\0' if long_ else b'') + (folder + b'\0' if folder else b'') + struct.pack('<H', 0) + bytes(3) + b'\0' + struct.pack('<H', 0)
        pos = len(body)
        positions.append(pos)
        data_at = pos + 56 + len(var)
        nxt = data_at + len(e['packed'])
        fixed = struct.pack('<IBBiiHHHIIBBBBIH', ZOO_TAG, 2, e['method'], nxt, data_at, DOS_DATE, DOS_TIME, crc16(e['data']),
                            len(e['data']), len(e['packed']), 2 if e['method'] == 2 else 1, 0, 1 if e.get('deleted') else 0, 0, 0, 0)
        fixed += e['short'].ljust(13, b'\0')[:13]
        fixed += struct.pack('<HbH', len(var), 127, 0)
        ent = bytearray(fixed + var)
        struct.pack_into('<H', ent, 54, crc16(bytes(ent)))
        body += ent + e['packed']
    # the closing entry: next position 0
    end = struct.pack('<IBBiiHHHIIBBBBIH', ZOO_TAG, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0) + bytes(13) + struct.pack('<HbH', 0, 127, 0)
    body += end + bytes(2)
    if link_back:
        # the second entry links back to the first
        struct.pack_into('<i', body, positions[1] + 6, positions[0])
    return bytes(body)

lh5_text = [e for e in lh5 if e[1] == b'text.txt'][0]
assert lh5_text[0] == b'-lh5-'
zoo_entries = [
    dict(short=b'readme.txt', data=readme, packed=readme, method=0),
    dict(short=b'text.txt', data=text, packed=zoo_lzw(text), method=1),
    dict(short=b'longna~1.txt', long=b'a long file name.txt', folder=b'docs/deeper', data=text, packed=lh5_text[2], method=2),
]
write('zoo/mixed.zoo', zoo_archive(zoo_entries))

# ---- BH ----------------------------------------------------------------------------------

CRC32_TABLE = []
for i in range(256):
    c = i
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    CRC32_TABLE.append(c)

class ZipCrypto:
    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for ch in password:
            self.update(ch)
    def update(self, c):
        k = self.k
        k[0] = CRC32_TABLE[(k[0] ^ c) & 0xFF] ^ (k[0] >> 8)
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = CRC32_TABLE[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8)
    def encrypt(self, data):
        out_ = bytearray()
        for c in data:
            t = (self.k[2] & 0xFFFF) | 2
            out_.append(c ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self.update(c)
        return bytes(out_)

def deflate_raw(data):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()

def bh_entry(name, data, method, packed, password=None, attr=0x20, version=3, flags=0):
    crc = zlib.crc32(data) & 0xFFFFFFFF
    if password is not None:
        z = ZipCrypto(password.encode())
        packed = z.encrypt(bytes(random.getrandbits(8) for _ in range(11)) + bytes([crc >> 24])) + z.encrypt(packed)
        flags |= 1
    head = struct.pack('<IHBBBBBIIIIIHHH', 0x07054842, 37 + len(name), 0, version, 3, flags, method, DOS, len(packed), len(data),
                       crc, attr, 0, len(name), 0)
    assert len(head) == 37
    return head + name + packed

lh6_far = [e for e in lh6 if e[1] == b'far.bin'][0]
assert lh6_far[0] == b'-lh6-'
lh5_readme = [e for e in lh5 if e[1] == b'docs/readme.txt' or e[1] == b'readme.txt']
bh = b''.join([
    bh_entry(b'stored.txt', readme, 0, readme),
    bh_entry(b'deflate.txt', text, 8, deflate_raw(text)),
    bh_entry(b'deflate2.txt', readme, 2, deflate_raw(readme)),
    bh_entry(b'docs\\fused1.txt', text, 1, lh5_text[2]),
    bh_entry(b'fused3.bin', far, 3, lh6_far[2]),
    bh_entry(b'docs', b'', 0, b'', attr=0x10),
    bh_entry(b'secret-stored.txt', readme, 0, readme, password='secret'),
    bh_entry(b'secret-deflate.txt', text, 8, deflate_raw(text), password='secret'),
    bh_entry(b'secret-fused1.txt', text, 1, lh5_text[2], password='secret'),
])
write('bh/mixed.bh', bh)
write('bh/sfx.exe', stub + bh)

# ---- hostile copies ------------------------------------------------------------------------

h = 'hostile/'
ok = b'fine\n'
fine0 = lha0(b'-lh0-', b'fine.txt', ok, len(ok), crc16(ok))
# traversal: a level-1 folder header, a level-0 name, a level-2 folder
write(h + 'lha-traversal.lzh',
      lha1(b'-lh0-', b'evil.txt', ok, len(ok), crc16(ok), exts=[(2, b'..\xff..\xffescaped')]) +
      lha0(b'-lh0-', b'..\\up.txt', ok, len(ok), crc16(ok)) +
      lha2(b'-lh0-', ok, len(ok), crc16(ok), [(1, b'abs.txt'), (2, b'\xfftmp\xff')]) +
      fine0 + b'\0')
# unsupported methods: no file is left for them
write(h + 'lha-methods.lzh',
      lha0(b'-lh2-', b'two.txt', ok, len(ok), crc16(ok)) +
      lha0(b'-lzs-', b'larc.txt', ok, len(ok), crc16(ok)) +
      lha0(b'-lz5-', b'larc5.txt', ok, len(ok), crc16(ok)) + fine0 + b'\0')
# a level-0 header whose size leaves less than its name
write(h + 'lha-rest-below-zero.lzh', fine0 + lha0(b'-lh0-', b'bad-name-long.txt', ok, len(ok), crc16(ok), rest_fix=24) + fine0 + b'\0')
# a level-2 header of 300 bytes: a long extended header (type 0x3F) before the name
write(h + 'lha-level2-300.lzh',
      lha2(b'-lh0-', ok, len(ok), crc16(ok), [(0x3F, bytes(262)), (1, b'long-header.txt')]) + fine0 + b'\0')
# a level-2 header written on MS-DOS: its time is still a Unix time
write(h + 'lha-level2-msdos.lzh', lha2(b'-lh0-', ok, len(ok), crc16(ok), [(1, b'dos.txt')], unix_time=1709634030, os_id=b'M') + b'\0')
# an lh1 entry that claims more than its data holds: nothing is invented
lh1_packed = open(os.path.join(work, 'text.lh1'), 'rb').read()
write(h + 'lh1-claims-more.lzh', lha0(b'-lh1-', b'text.txt', lh1_packed, 4 * len(text), crc16(text)) + fine0 + b'\0')
# cut copies
write(h + 'lha-cut-data.lzh', level1[:len(level1) // 2])
write(h + 'lha-cut-header.lzh', fine0 + lha1(b'-lh0-', b'second.txt', ok, len(ok), crc16(ok))[:15])

zoo_ok = dict(short=b'fine.txt', data=ok, packed=ok, method=0)
write(h + 'zoo-traversal.zoo', zoo_archive([
    dict(short=b'evil.txt', folder=b'../../escaped', data=ok, packed=ok, method=0),
    dict(short=b'abs.txt', folder=b'/tmp', data=ok, packed=ok, method=0),
    zoo_ok]))
write(h + 'zoo-loop.zoo', zoo_archive([zoo_ok, dict(short=b'second.txt', data=ok, packed=ok, method=0), dict(short=b'third.txt', data=ok, packed=ok, method=0)], link_back=True))
write(h + 'zoo-deleted-shared.zoo', zoo_archive([
    dict(short=b'gone.txt', data=b'deleted\n', packed=b'deleted\n', method=0, deleted=True),
    dict(short=b'longfi~1.txt', long=b'long file one.txt', data=b'one\n', packed=b'one\n', method=0),
    dict(short=b'longfi~1.txt', long=b'long file two.txt', data=b'two\n', packed=b'two\n', method=0),
    dict(short=b'method3.txt', data=ok, packed=ok, method=3),
    zoo_ok]))
mixed_zoo = zoo_archive(zoo_entries)
write(h + 'zoo-cut.zoo', mixed_zoo[:len(mixed_zoo) * 2 // 3])
bad_hdr = bytearray(mixed_zoo)
struct.pack_into('<i', bad_hdr, 28, 5)
write(h + 'zoo-bad-header.zoo', bytes(bad_hdr))

bh_ok = bh_entry(b'fine.txt', ok, 0, ok)
write(h + 'bh-traversal.bh', bh_entry(b'..\\..\\escaped.txt', ok, 0, ok) + bh_entry(b'\\abs.txt', ok, 0, ok) + bh_ok)
write(h + 'bh-methods.bh', bh_entry(b'five.txt', ok, 5, ok) + bh_ok)
write(h + 'bh-cut.bh', bh[:len(bh) // 2])
PY

# The readers of the formats agree with what was written.
lhasa t "$out/lzh/sfx.exe" >/dev/null
lhasa t "$out/lzh/lh4.lzh" >/dev/null
lhasa t "$out/lzh/lh1-level0.lzh" >/dev/null
lhasa t "$out/lzh/lh1-level1.lzh" >/dev/null
rm -rf "$work/zoo" && mkdir "$work/zoo"
unar -q -o "$work/zoo" "$out/zoo/mixed.zoo" >/dev/null
cmp "$work/zoo/mixed/text.txt" "$out/inputs/text.txt"
cmp "$work/zoo/mixed/readme.txt" "$out/inputs/readme.txt"
cmp "$work/zoo/mixed/docs/deeper/a long file name.txt" "$out/inputs/text.txt"
echo "fixtures written to $out"
