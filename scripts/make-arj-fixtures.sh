#!/usr/bin/env bash
# Makes the fixtures of the ARJ tests under tests/arc_arj/fixtures:
#   - originals/: the files the archives hold (prose, a binary, a folder, an
#     empty file), with a fixed date.
#   - m0.arj ... m4.arj: "arj a -mN -r" of originals (methods 0 to 4).
#   - text.arj: "arj a -t1" (a text-mode entry).
#   - garbled.arj: plain.txt as it is, then prose.txt garbled with "-gsecret"
#     in method 1 and binary.bin garbled in method 4.
#   - vol.arj, vol.a01, vol.a02: "arj a -v20k" of originals: big.bin is split
#     over all three volumes.
#   - small.arj: plain.txt and sub/nested.txt in method 1; sfx.exe: a DOS
#     program stub of 1,000 bytes (image end in its header) before small.arj,
#     the shape of an ARJ self-extractor (Debian has no SFX module).
#   - hostile/: copies of small.arj made wrong in one way each, with their
#     header CRCs mended so that only the fault remains:
#       traversal.arj      an entry named "../evil.txt" and one "/abs.txt"
#       name_outside.arj   a name whose zero lies beyond the basic header
#       bad_crc.arj        a basic header whose CRC does not match
#       truncated.arj      cut in the middle of the first packed data
#       huge_size.arj      an original size of 4 GB - 1 for the first entry
#       bad_version.arj    minimum version 9 on the first entry
#       bad_method.arj     method 7 on the first entry
#       extended.arj       an extended header of 300 bytes after a header
# Every archive but hostile/ is checked with "arj t" and "arj x" against
# originals. Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/arc_arj/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TZ=UTC
rm -rf "$out"
mkdir -p "$out/originals/sub" "$out/hostile"

python3 - "$out/originals" <<'PY'
import random, sys, os
root = sys.argv[1]
rng = random.Random(28)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(300)]
def prose(n):
    out = []
    size = 0
    while size < n:
        w = rng.choice(words) + (".\n" if rng.random() < 0.08 else " ")
        out.append(w)
        size += len(w)
    return "".join(out)[:n].encode()
open(os.path.join(root, "prose.txt"), "wb").write(prose(50000))
open(os.path.join(root, "plain.txt"), "wb").write(prose(3000))
open(os.path.join(root, "binary.bin"), "wb").write(bytes(rng.randrange(256) for _ in range(20000)) + bytes(5000))
open(os.path.join(root, "sub", "nested.txt"), "wb").write(prose(12000))
open(os.path.join(root, "empty.txt"), "wb").write(b"")
PY
find "$out/originals" -exec touch -d '2021-06-15 10:20:30' {} +

cd "$out/originals"
for m in 0 1 2 3 4; do
  arj a -m$m -r -y "$work/m$m.arj" prose.txt binary.bin empty.txt sub/nested.txt >/dev/null
done
arj a -t1 -y "$work/text.arj" plain.txt >/dev/null
arj a -m1 -y "$work/small.arj" plain.txt sub/nested.txt >/dev/null
arj a -y "$work/garbled.arj" plain.txt >/dev/null
arj a -m1 -gsecret -y "$work/garbled.arj" prose.txt >/dev/null
arj a -m4 -gsecret -y "$work/garbled.arj" binary.bin >/dev/null
python3 -c "import random; r=random.Random(5); open('$work/big.bin','wb').write(bytes(r.randrange(256) for _ in range(45000)))"
cp "$work/big.bin" big.bin
touch -d '2021-06-15 10:20:30' big.bin
arj a -m1 -v20k -y "$work/vol.arj" plain.txt big.bin sub/nested.txt >/dev/null
rm big.bin
cp "$work/big.bin" "$out/big.bin"
touch -d '2021-06-15 10:20:30' "$out/big.bin"
cd "$work"
cp m0.arj m1.arj m2.arj m3.arj m4.arj text.arj small.arj garbled.arj vol.arj vol.a01 vol.a02 "$out/"

# Each archive extracts with arj to the originals.
for a in m0 m1 m2 m3 m4 text small; do
  rm -rf x && mkdir x && (cd x && arj x -y "$out/$a.arj" >/dev/null)
  for f in prose.txt binary.bin empty.txt sub/nested.txt plain.txt; do
    [ -f "x/$f" ] && cmp "x/$f" "$out/originals/$f"
  done
done
rm -rf x && mkdir x && (cd x && arj x -y -gsecret "$out/garbled.arj" >/dev/null && cmp prose.txt "$out/originals/prose.txt" && cmp binary.bin "$out/originals/binary.bin")
rm -rf x && mkdir x && (cd x && arj x -y "$out/vol.arj" -v >/dev/null && cmp big.bin "$out/big.bin")

python3 - "$out/small.arj" "$out/sfx.exe" <<'PY'
import struct, sys
stub = bytearray(1000)
stub[0:2] = b"MZ"
struct.pack_into("<HH", stub, 2, 1000 % 512, 1000 // 512 + 1)
open(sys.argv[2], "wb").write(bytes(stub) + open(sys.argv[1], "rb").read())
PY

# ---- hostile copies -------------------------------------------------------------------
python3 - "$out/small.arj" "$out/hostile" <<'PY'
import struct, sys, zlib, os
src, dst = sys.argv[1], sys.argv[2]
data = bytearray(open(src, "rb").read())

def headers(d):
    """(offset, basic size) of every header, main header first."""
    out, pos, first = [], 0, True
    while True:
        n = struct.unpack_from("<H", d, pos + 2)[0]
        if n == 0:
            return out
        out.append((pos, n))
        b = d[pos + 4:pos + 4 + n]
        p = pos + 4 + n + 4
        while True:
            s = struct.unpack_from("<H", d, p)[0]
            p += 2
            if s == 0:
                break
            p += s + 4
        pos = p + (0 if first else struct.unpack_from("<I", b, 12)[0])
        first = False

def rebuild(d, pos, basic):
    """Replaces the basic header at pos and writes its CRC."""
    n = struct.unpack_from("<H", d, pos + 2)[0]
    new = d[:pos + 2] + struct.pack("<H", len(basic)) + basic + struct.pack("<I", zlib.crc32(bytes(basic)))
    return bytearray(new + d[pos + 4 + n + 4:])

def rename(d, index, name):
    pos, n = headers(d)[index]
    b = d[pos + 4:pos + 4 + n]
    first = b[0]
    tail = b[first:].split(b"\0", 1)[1]
    return rebuild(d, pos, b[:first] + name + b"\0" + tail)

def patch(d, index, offset, value):
    pos, n = headers(d)[index]
    b = bytearray(d[pos + 4:pos + 4 + n])
    b[offset:offset + len(value)] = value
    return rebuild(d, pos, b)

def save(name, d):
    open(os.path.join(dst, name), "wb").write(d)

d = rename(data, 1, b"../evil.txt")
save("traversal.arj", rename(d, 2, b"/abs.txt"))
pos, n = headers(data)[1]
b = data[pos + 4:pos + 4 + n]
save("name_outside.arj", rebuild(data, pos, b[:b[0]] + b"prose.txt"))
bad = bytearray(data)
bad[pos + 4 + n] ^= 0xFF
save("bad_crc.arj", bad)
body = pos + 4 + n + 4 + 2
save("truncated.arj", data[:body + struct.unpack_from("<I", b, 12)[0] // 2])
save("huge_size.arj", patch(data, 1, 16, struct.pack("<I", 0xFFFFFFFF)))
save("bad_version.arj", patch(data, 1, 2, bytes([9])))
save("bad_method.arj", patch(data, 1, 5, bytes([7])))
# An extended header of 300 bytes (and its CRC) between the first entry's
# header and its data.
ext = bytes(range(256)) + bytes(44)
p = pos + 4 + n + 4
save("extended.arj", data[:p] + struct.pack("<H", len(ext)) + ext + struct.pack("<I", zlib.crc32(ext)) + data[p:])
PY
arj t "$out/hostile/extended.arj" >/dev/null
echo "ARJ fixtures written to $out"
