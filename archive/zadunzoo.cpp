#include "zadunzoo.h"

#include "archive/zadgbls.h"

bool TUnZoo::SupportsType(TArcType type) const { return type == atZoo; }

TLzhMethod TUnZoo::MethodOf(int method)
{
    switch (method) {
    case 0: return {TLzhCodec::Stored};
    case 1: return {TLzhCodec::ZooLzw};
    case 2: return {TLzhCodec::Static, 13, 4};
    default: return {};
    }
}

void TUnZoo::Walk(TStream32* in)
{
    // Positions in a ZOO archive count from the start of the file.
    const std::int64_t first = ReadZooArchiveHeader(*in, ArchiveSize);
    if (first < 0)
        return WalkEnded(TLzhRead::Bad);
    TZooWalk walk(*in, ArchiveSize, first);
    TZooEntry z;
    TLzhRead r = TLzhRead::End;
    while (!GetCancel() && (r = walk.Next(z)) == TLzhRead::Entry) {
        TLzhEntry e;
        e.HeaderOffset = z.Offset;
        e.DataOffset = z.DataOffset;
        e.PackedSize = z.PackedSize;
        e.UnpackedSize = z.UnpackedSize;
        e.Method = z.Method;
        e.Codec = MethodOf(z.Method);
        e.DosDateTime = z.DosDateTime();
        e.Crc = z.Crc;
        e.StoredName = _OemToCharFilter(z.StoredName(), TranslateOemChar);
        Select(std::move(e));
    }
    if (!GetCancel())
        WalkEnded(r);
}
