#include "zadunlha.h"

#include "archive/zadgbls.h"

#include <algorithm>
#include <cstring>

bool TUnLha::SupportsType(TArcType type) const
{
    return type == atLha || type == atLhaExe || type == atLzh || type == atLzhExe;
}

TLzhMethod TUnLha::MethodOf(const char* id)
{
    // Only LHA's own "-lhN-" ids name these decoders: LArc's "-lz5-" is
    // another algorithm under the same digit.
    if (std::memcmp(id, "-lh", 3) != 0 || id[4] != '-')
        return {};
    switch (id[3]) {
    case '0': return {TLzhCodec::Stored};
    case '1': return {TLzhCodec::Dynamic};
    case '4': return {TLzhCodec::Static, 12, 4};
    case '5': return {TLzhCodec::Static, 13, 4};
    case '6': return {TLzhCodec::Static, 15, 5};
    case '7': return {TLzhCodec::Static, 16, 5};
    default: return {};
    }
}

void TUnLha::Walk(TStream32* in)
{
    std::int64_t pos = std::max<std::int64_t>(ArchiveStartOffset, 0);
    TLhaHeader h;
    TLzhRead r = TLzhRead::End;
    while (!GetCancel() && (r = ReadLhaHeader(*in, pos, ArchiveSize, h)) == TLzhRead::Entry) {
        TLzhEntry e;
        e.HeaderOffset = pos;
        pos = h.NextOffset;
        e.DataOffset = h.DataOffset;
        e.PackedSize = h.PackedSize;
        e.IsLink = h.IsLink();
        e.LinkTarget = h.LinkTarget(TranslateOemChar);
        e.Stamp = h.Stamp();
        e.UnpackedSize = h.IsDirectory() ? 0 : e.IsLink ? static_cast<std::int64_t>(e.LinkTarget.size()) : h.UnpackedSize;
        e.Method = static_cast<unsigned char>(h.MethodChar());
        e.Codec = MethodOf(h.MethodId);
        e.DosDateTime = h.DosDateTime();
        e.Crc = h.Crc;
        e.Attributes = h.Attribute ? h.Attribute : 0x20;
        e.IsDirectory = h.IsDirectory();
        e.StoredName = h.EntryName(TranslateOemChar);
        Select(std::move(e));
    }
    if (!GetCancel())
        WalkEnded(r);
}
