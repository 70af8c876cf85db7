#!/bin/sh
# Builds the fixtures of tests/archive_extract with real tools: zip (stored,
# deflated, folders, data descriptors), 7z (Deflate64 with far matches and
# long lengths, AES-128 and AES-256 over stored and deflated data), jar; and
# the hostile archives of the path-safety tests with Python's zipfile.
# Run from anywhere; it rewrites tests/archive_extract/fixtures.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/archive_extract/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/*.zip "$out"/*.jar

# Source tree: text, binary, an empty file, a folder with a nested file.
cd "$work"
mkdir -p src/docs/deep src/empty_dir
python3 - <<'PY'
import random
r = random.Random(1234)
open("src/readme.txt", "w").write("".join("line %d of the readme, with some text to compress\n" % i for i in range(400)))
open("src/docs/notes.txt", "w").write("notes\n" * 50)
open("src/docs/deep/data.bin", "wb").write(bytes(r.getrandbits(8) for _ in range(20000)))
open("src/empty.txt", "wb").close()
# Deflate64 material: a 40 KB random block repeated 60 KB after its start (a distance
# beyond 32 KB), and a long run (lengths beyond 258).
a = bytes(r.getrandbits(8) for _ in range(40000))
b = bytes(r.getrandbits(8) for _ in range(20000))
open("src/far.bin", "wb").write(a + b + a + b"x" * 100000 + a[:5000])
PY
cd src
zip -q -r -X -0 "$out/stored.zip" readme.txt docs empty.txt
zip -q -r -X -9 "$out/deflated.zip" readme.txt docs empty.txt empty_dir
zip -q -X -r - readme.txt docs > "$out/descriptor.zip"
7z a -bd -tzip -mm=Deflate64 "$out/deflate64.zip" far.bin readme.txt >/dev/null
7z a -bd -tzip -mm=Deflate64 -mx=9 "$out/deflate64-docs.zip" docs >/dev/null
7z a -bd -tzip -mem=AES128 -pSecret1 "$out/aes128.zip" readme.txt docs >/dev/null
7z a -bd -tzip -mem=AES256 -pSecret1 "$out/aes256.zip" readme.txt docs far.bin >/dev/null
7z a -bd -tzip -mem=AES256 -mx=0 -pSecret1 "$out/aes256-stored.zip" readme.txt >/dev/null
zip -q -X -P Secret1 "$out/zipcrypto.zip" readme.txt docs/notes.txt
jar cf "$out/test.jar" readme.txt docs
# Two passwords in one archive, and a method the library does not decode
# (bzip2) before an encrypted entry.
zip -q -X -P first "$out/twopw.zip" readme.txt
zip -q -X -P second "$out/twopw.zip" docs/notes.txt
zip -q -X -Z bzip2 "$out/mixed.zip" readme.txt
zip -q -X -P second "$out/mixed.zip" docs/notes.txt
cd "$work"

# Hostile names and links.
python3 - "$out" <<'PY'
import sys, zipfile
out = sys.argv[1]
def mk(name, entries):
    with zipfile.ZipFile(f"{out}/{name}", "w", zipfile.ZIP_DEFLATED) as z:
        for n, data, mode in entries:
            zi = zipfile.ZipInfo(n, (2020, 1, 2, 3, 4, 6))
            zi.compress_type = zipfile.ZIP_DEFLATED
            if mode:
                zi.create_system = 3
                zi.external_attr = mode << 16
            z.writestr(zi, data)
mk("traversal.zip", [("good1.txt", b"good one\n", 0),
                     ("../escape1.txt", b"evil\n", 0),
                     ("/abs_escape.txt", b"evil\n", 0),
                     ("a/../../escape2.txt", b"evil\n", 0),
                     ("..\\escape3.txt", b"evil\n", 0),
                     ("./", b"", 0),
                     ("sub/good2.txt", b"good two\n", 0)])
mk("symlink.zip", [("link", b"../outside", 0o120777),
                   ("link/evil.txt", b"evil\n", 0),
                   ("good.txt", b"good\n", 0)])
PY
# A local header whose name differs from its central name.
python3 - "$out" <<'PY'
import sys
out = sys.argv[1]
data = bytearray(open(f"{out}/stored.zip", "rb").read())
i = data.find(b"readme.txt")          # the first local name
data[i:i + 10] = b"README.EXE"
open(f"{out}/localname.zip", "wb").write(data)
PY
ls -l "$out"
