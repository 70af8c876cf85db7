#include "zadunbh.h"

#include "archive/zadgbls.h"

#include <algorithm>

bool TUnBh::SupportsType(TArcType type) const { return type == atBh || type == atBhExe; }

TLzhMethod TUnBh::MethodOf(int method)
{
    switch (method) {
    case 0: return {TLzhCodec::Stored};
    case 1: return {TLzhCodec::Static, 13, 4};
    case 2:
    case 8: return {TLzhCodec::Deflate};
    case 3: return {TLzhCodec::Static, 15, 5};
    default: return {};
    }
}

void TUnBh::Walk(TStream32* in)
{
    std::int64_t pos = std::max<std::int64_t>(ArchiveStartOffset, 0);
    TBhHeader h;
    TLzhRead r = TLzhRead::End;
    while (!GetCancel() && (r = ReadBhHeader(*in, pos, ArchiveSize, h)) == TLzhRead::Entry) {
        const std::int64_t at = pos;
        pos = h.NextOffset;
        if (!h.NameUsable())
            continue;
        TLzhEntry e;
        e.HeaderOffset = at;
        e.DataOffset = h.DataOffset + (h.Encrypted() ? TBhHeader::kCipherHeader : 0);
        e.PackedSize = h.DataSize();
        e.UnpackedSize = h.UnpackedSize;
        e.Method = h.Method;
        e.Codec = MethodOf(h.Method);
        e.DosDateTime = static_cast<std::int32_t>(h.DosDateTime);
        e.Crc = h.Crc;
        e.Attributes = static_cast<std::int32_t>(h.Attributes);
        e.IsDirectory = h.IsDirectory();
        e.Encrypted = h.Encrypted();
        e.Flags = h.Flags;
        e.StoredName = _OemToCharFilter(h.RawName, TranslateOemChar);
        Select(std::move(e));
    }
    if (!GetCancel())
        WalkEnded(r);
}

bool TUnBh::Unlock(TStream32* in, const TLzhEntry& e)
{
    const std::int64_t cipherAt = e.DataOffset - TBhHeader::kCipherHeader;
    if (in->Seek(cipherAt, soBeginning) != cipherAt)
        return false;
    // After a refused password the user is not asked again, but passwords
    // already known are still tried.
    if (RequestPassword(in, !PasswordFailed))
        return true;
    PasswordFailed = true;
    return false;
}

bool TUnBh::VerifyPassword(std::uint8_t* header)
{
    if (!Current)
        return false;
    return decrypt_pw(header, Current->Flags, Current->Crc, Current->DosDateTime, Password);
}
