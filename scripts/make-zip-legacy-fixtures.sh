#!/usr/bin/env bash
# Makes the fixtures of the legacy ZIP methods and of split sets under
# tests/archive_extract/fixtures:
#   - legacy.zip: shrunk, imploded (literal tree or not, 4 KB or 8 KB
#     dictionary) and reduced (factors 1 to 4) entries, written by the
#     encoders of tests/archive_extract/legacy_encoders.h (no Debian tool
#     writes these methods any more); legacy-originals.zip holds the same
#     files stored. The shrunk and imploded entries are tested with
#     "unzip -t" and "7z t" here; no peer reads reduce, so the reduced ones
#     are checked by the tests against the originals only.
#   - split.z01 ... split.zip: "zip -s 64k" of stored and deflated entries
#     that cross part boundaries, with the whole central directory in the
#     .zip part.
# Run from anywhere; the outputs are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/archive_extract/fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/legacy.zip "$out"/legacy-originals.zip "$out"/split.z[0-9][0-9] "$out"/split.zip
export TZ=UTC

# The generator: writes the original files into its first folder with
# legacy.zip, and the noise of the split set into its second.
cat > "$work/generate.cpp" <<'CPP'
#include "tests/archive/zip_writer.h"
#include "tests/archive_extract/legacy_encoders.h"

#include <fstream>
#include <random>

int main(int, char** argv)
{
    const std::string dir = argv[1];
    std::mt19937 rng(2026);
    std::string noise(20000, '\0');
    for (char& c : noise)
        c = static_cast<char>(rng());
    struct Item {
        std::string name, data;
        unsigned method, flags;
    };
    const std::vector<Item> items = {
        // 60 KB of text and 20 KB of noise fill the 8,192 codes, so both
        // need partial clears.
        {"shrunk.txt", legacyzip::SampleText(60000, 1), 1, 0},
        {"shrunk-noise.bin", noise, 1, 0},
        {"imploded-lit8k.txt", legacyzip::SampleText(30000, 2), 6, legacyzip::ImplodeFlags(true, true)},
        {"imploded-lit4k.txt", legacyzip::SampleText(30000, 3), 6, legacyzip::ImplodeFlags(true, false)},
        {"imploded-raw8k.txt", legacyzip::SampleText(30000, 4), 6, legacyzip::ImplodeFlags(false, true)},
        {"imploded-raw4k.bin", legacyzip::SampleText(20000, 5) + noise.substr(0, 4000), 6, legacyzip::ImplodeFlags(false, false)},
        {"reduce1.txt", legacyzip::SampleText(20000, 6), 2, 0},
        {"reduce2.txt", legacyzip::SampleText(20000, 7), 3, 0},
        {"reduce3.txt", legacyzip::SampleText(20000, 8), 4, 0},
        {"reduce4.txt", legacyzip::SampleText(20000, 9), 5, 0},
    };
    zipwriter::Archive a;
    for (const Item& it : items) {
        std::ofstream(dir + "/" + it.name, std::ios::binary) << it.data;
        auto& e = a.Add(it.name, it.data, it.method);
        e.flags = it.flags;
        if (it.method == 1)
            e.packed = legacyzip::Shrink(it.data);
        else if (it.method <= 5)
            e.packed = legacyzip::Reduce(it.data, static_cast<int>(it.method) - 1);
        else
            e.packed = legacyzip::Implode(it.data, it.flags & 4, it.flags & 2);
    }
    std::ofstream(dir + "/legacy.zip", std::ios::binary) << a.Build();
    const std::string split = argv[2];
    for (const auto& [name, size] : {std::pair<std::string, size_t>{"noise.bin", 150000}, {"docs/more.bin", 70000}}) {
        std::string bytes(size, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        std::ofstream(split + "/" + name, std::ios::binary) << bytes;
    }
}
CPP
mkdir -p "$work/orig" "$work/split/docs"
g++ -std=c++20 -O2 -I"$here" -o "$work/generate" "$work/generate.cpp" -lz
"$work/generate" "$work/orig" "$work/split"
mv "$work/orig/legacy.zip" "$out/legacy.zip"

# The peers read shrink and implode: every such entry must test clean.
(cd "$out" && unzip -t legacy.zip 'shrunk*' 'imploded*')
(cd "$out" && 7z t -bd legacy.zip 'shrunk*' 'imploded*' >/dev/null)
find "$work/orig" "$work/split" -exec touch -d '2004-03-01 12:00:10' {} +
(cd "$work/orig" && zip -q -X -0 "$out/legacy-originals.zip" ./*)

# A split set: stored .bin files and deflated text, in 64 KB parts.
for i in $(seq 1 3000); do echo "line $i of the split set, deflated across the parts"; done > "$work/split/docs/lines.txt"
printf 'small\n' > "$work/split/small.txt"
find "$work/split" -exec touch -d '2004-03-01 12:00:10' {} +
(cd "$work/split" && zip -q -X -r -s 64k -n .bin "$work/split.zip" noise.bin docs small.txt)
cp "$work"/split.z[0-9][0-9] "$work/split.zip" "$out/"
# The end record's disk numbers: this disk, and the disk where the central
# directory starts, must be the same (the library reads the directory from
# the .zip part).
eocd=$(od -An -tu2 -j "$(($(stat -c %s "$out/split.zip") - 18))" -N 4 "$out/split.zip")
set -- $eocd
[ "$1" = "$2" ] || { echo "the central directory starts on an earlier part; change the sizes" >&2; exit 1; }
(cd "$out" && 7z t -bd split.zip >/dev/null)
ls -l "$out"/legacy*.zip "$out"/split.*
