// Archive type detection: from the content, never from the extension alone.
// Every read goes through ReadAt, which never reads outside the stream and
// reports how many bytes it got; every buffer is indexed only below that count.

#include "archive/zadbase.h"
#include "archive/zadgbls.h"
#include "archive/zadheaders.h"
#include "archive/zadpe.h"
#include "archive/zadtextmark.h"
#include "kernel/kernel.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t kBlockSize = 32768;

std::int32_t ReadAt(TStream32* s, std::int64_t pos, void* buf, std::int32_t count)
{
    if (pos < 0 || count <= 0)
        return 0;
    if (s->Seek(pos, soBeginning) != pos)
        return 0;
    const std::int32_t n = s->Read(buf, count);
    return n < 0 ? 0 : n;
}

bool ReadExact(TStream32* s, std::int64_t pos, void* buf, std::int32_t count)
{
    return ReadAt(s, pos, buf, count) == count;
}

bool Is(const std::uint8_t* p, std::initializer_list<int> bytes)
{
    int i = 0;
    for (int b : bytes) {
        if (b >= 0 && p[i] != b)
            return false;
        ++i;
    }
    return true;
}

bool IsAceMarker(const std::uint8_t* p) { return SameText(std::string(reinterpret_cast<const char*>(p), 7), "**ACE**"); }

// The signature table: whole 32-bit values first, then the third and fourth
// bytes, then the first two.
struct SignatureRow {
    std::uint8_t b[4];
    int match;  // 4: all four bytes, 2: bytes 2 and 3, 1: bytes 0 and 1
    TArcType plain;
    TArcType inExe;
    std::int64_t plainStart;  // ArchiveStartOffset set by a hit; -1: none
    std::int64_t exeStart;
};

const SignatureRow kSignatures[] = {
    {{0x4D, 0x53, 0x43, 0x46}, 4, atCab, atCabExe, -1, -1},
    {{0x42, 0x48, 0x05, 0x07}, 4, atBh, atBhExe, -1, -1},
    {{0x13, 0x5D, 0x65, 0x8C}, 4, atMsGZ, atUnsupported, -1, -1},
    {{0x52, 0x61, 0x72, 0x21}, 4, atRar, atRarExe, -1, -1},
    {{0xB7, 0xDF, 0x54, 0x57}, 4, atArc, atArcExe, -1, 7716},
    {{0x50, 0x4B, 0x47, 0x35}, 4, atUnknown, atUnknown, -1, -1},
    {{0, 0, 0x2D, 0x6C}, 2, atLha, atLhaExe, -1, -1},
    {{0x1A, 0x01}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x02}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x03}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x04}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x05}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x06}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x07}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x1E}, 1, atArc, atUnsupported, -1, -1},
    {{0x1A, 0x08}, 1, atArc, atArcExe, -1, -1},
    {{0x1A, 0x09}, 1, atArc, atArcExe, -1, -1},
    {{0x1A, 0x0A}, 1, atPak, atPakExe, -1, -1},
    {{0x1A, 0x0B}, 1, atPak, atPakExe, -1, -1},
    {{0x1F, 0x1E}, 1, atGZip, atUnsupported, -1, -1},
    {{0x25, 0x21}, 1, atGZip, atUnsupported, -1, -1},
    {{0x1F, 0x8B}, 1, atGZip, atUnsupported, -1, -1},
    {{0x1F, 0x9D}, 1, atGZip, atUnsupported, -1, -1},
    {{0x1F, 0x9E}, 1, atGZip, atUnsupported, -1, -1},
    {{0x1F, 0xA0}, 1, atGZip, atUnsupported, -1, -1},
    {{0x48, 0x41}, 1, atHA, atUnsupported, -1, -1},
    {{0x5A, 0x4F}, 1, atZoo, atUnsupported, -1, -1},
    {{0xB7, 0x92}, 1, atArcExe, atArcExe, 7716, 7716},
    {{0xB7, 0xDF}, 1, atArcExe, atArcExe, 7716, 7716},
    {{0x60, 0xEA}, 1, atArj, atArjExe, -1, -1},
};

}  // namespace

// ---- setting the archive ------------------------------------------------------------------

void TRegisterVirOV::SetArchiveFile(const std::string& name)
{
    if (name.empty() || !FileExists(name)) {
        ArcType = atNA;
        m_archiveFile.clear();
        return;
    }
    m_archiveFile = DOSToUnixFilename(name);
    TFileStream32 stream(m_archiveFile, fmOpenRead | fmShareDenyNone);
    if (!stream.Valid()) {
        ArcType = atNA;
        return;
    }
    ArcType = GetArcType(&stream);
    if (IsArcValid(ArcType))
        InitializeVolumeSet();
}

void TRegisterVirOV::SetArcType(TArcType)
{
    if (m_archiveFile.empty())
        return;
    TFileStream32 stream(m_archiveFile, fmOpenRead | fmShareDenyWrite);
    if (!stream.Valid()) {
        ArcType = atFileOpenErr;
        return;
    }
    ArcType = GetArcType(&stream);
}

bool TRegisterVirOV::OpenArchive(HANDLE& handle, const std::string& name)
{
    handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        ArchiveSize = 0;
        return false;
    }
    std::int64_t size = 0;
    GetFileSizeEx(handle, &size);
    ArchiveSize = size;
    return true;
}

// ---- the detection steps --------------------------------------------------------------------

TArcType TRegisterVirOV::GetArcType(TStream32* stream)
{
    SfxAdjust = 0;
    ArchiveStartOffset = -1;
    HeadFlag.Clear();
    ArchiveSize = stream->Size();
    TArcType type = atNA;
    if (ArchiveSize <= 19)
        return atNA;

    std::vector<std::uint8_t> buf(kBlockSize, 0);
    const std::int32_t got = ReadAt(stream, 0, buf.data(), kBlockSize);
    if (got < 4)
        return atNA;

    // The signature table applied at pos of buf, with the ZIP rows that need
    // the central-directory search.
    auto signatureType = [&](const std::uint8_t* p, bool inExe, bool& zipSearch) -> TArcType {
        zipSearch = false;
        for (const SignatureRow& row : kSignatures) {
            bool hit = false;
            if (row.match == 4)
                hit = std::memcmp(p, row.b, 4) == 0;
            else if (row.match == 2)
                hit = p[2] == row.b[2] && p[3] == row.b[3];
            else
                hit = p[0] == row.b[0] && p[1] == row.b[1];
            if (hit) {
                const std::int64_t start = inExe ? row.exeStart : row.plainStart;
                if (start >= 0)
                    ArchiveStartOffset = start;
                return inExe ? row.inExe : row.plain;
            }
        }
        if (p[0] == 0x50 && p[1] >= 0x4B && p[1] <= 0x4E) {
            if (p[2] == 0x01 && p[3] == 0x02) {
                zipSearch = true;
                return GetZipSetType();
            }
            if (p[2] == 0x07 && p[3] == 0x08)
                return GetZipSetType();
            if ((p[2] == 0x47 && p[3] == 0x34) || (p[2] == 0x43 && p[3] == 0x49))
                return atNA;
            return inExe ? atZipExe : atZip;
        }
        return atNA;
    };
    auto tableWithSearch = [&](const std::uint8_t* p, bool inExe) -> TArcType {
        bool zipSearch = false;
        TArcType t = signatureType(p, inExe, zipSearch);
        if (zipSearch) {
            try {
                GetCentralDirOffset(stream);
            } catch (...) {
                t = atUnsupported;
            }
        }
        return t;
    };

    if (buf[0] == 0x4D && buf[1] == 0x5A) {
        // An executable: a self-extractor stub with an archive behind it.
        type = IsSFXZipped(stream);
        if (IsArcValid(type)) {
            if (type == atZipExe) {
                const std::int64_t saved = ArchiveStartOffset;
                const std::int64_t cd = GetCentralDirOffset(stream);
                ArchiveStartOffset = !HeadFlag.Empty() && cd >= 0 ? cd : saved;
            }
        } else {
            type = atNA;
            for (const std::string& s : ReadPeStringResources(stream, 1, 7)) {
                if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
                    break;
                const std::int64_t at = std::stoll(s);
                if (at >= ArchiveSize)
                    break;
                ArchiveStartOffset = at;
                std::uint8_t probe[14] = {};
                const std::int32_t n = ReadAt(stream, at, probe, 14);
                if (n >= 14 && IsAceMarker(probe + 7)) {
                    type = atAceExe;
                    break;
                }
                if (n == 14) {
                    type = tableWithSearch(probe, true);
                    if (type != atNA) {
                        if (IsZipped(type)) {
                            const std::int64_t cd = GetCentralDirOffset(stream);
                            if (!HeadFlag.Empty() && cd >= 0)
                                ArchiveStartOffset = cd;
                        }
                        break;
                    }
                }
            }
            if (!IsArcValid(type)) {
                type = atNA;
                const std::int64_t imageEnd = static_cast<std::int64_t>(LoadLe16(&buf[4]) - 1) * 512 + LoadLe16(&buf[2]);
                if (imageEnd > 0 && imageEnd + 4 <= ArchiveSize) {
                    std::uint8_t probe[4];
                    if (ReadExact(stream, imageEnd, probe, 4)) {
                        ArchiveStartOffset = imageEnd + (probe[2] == 0x60 && probe[3] == 0xEA ? 2 : 0);
                        if (ReadExact(stream, ArchiveStartOffset, probe, 4) && !Is(probe, {0x50, 0x4B, 0x03, 0x04})) {
                            const TArcType t = tableWithSearch(probe, true);
                            if (IsArcValid(t))
                                type = t;
                        }
                    }
                }
            }
            if (!IsArcValid(type)) {
                End.Signature = 0;
                ArchiveStartOffset = GetCentralDirOffset(stream);
                if (ArchiveStartOffset > 0)
                    type = atZipExe;
            }
            if (!IsArcValid(type)) {
                type = atNA;
                ArchiveStartOffset = doByteSearch(stream, type, 17000);
            }
        }
    } else {
        std::int32_t zeros = 0;
        std::int64_t localStart = 0;
        if (buf[0] == 0) {
            while (zeros < got && buf[zeros] == 0)
                ++zeros;
            if (got - zeros > 132 && buf[130] == 0x2D && buf[131] == 0x6C) {
                ArchiveStartOffset = 128;
                type = atLha;
                goto done;
            }
        }
        if (zeros + 4 <= got)
            type = tableWithSearch(&buf[zeros], false);
        if (type == atNA) {
            if (IsTarArchive(stream) == atTar) {
                type = atTar;
            } else {
                ArchiveStartOffset = std::max(0, doByteSearch(stream, type, 0));
                localStart = ArchiveStartOffset;
            }
        }
        if (type == atFileOpenErr || type == atUnknown)
            return type;
        if (localStart == 0)
            localStart = zeros;
        if (IsZipped(type)) {
            ArchiveStartOffset = GetCentralDirOffset(stream);
            if (ArchiveStartOffset == -1)
                return atUnsupported;
            if (!HeadFlag.Has(htLocal) && ArchiveStartOffset == 0) {
                ArchiveStartOffset = localStart;
                HeadFlag.Include(htLocal);
            }
            // The last part of a split or spanned set may start with a local
            // header; its end record tells, counting the parts before it.
            if (HeadFlag.Has(htEnding) && End.ThisDisk != 0) {
                const TArcType set = GetZipSetType();
                if (set != atNA)
                    type = set;
            }
        } else if (type == atZipDS || type == atZipMV) {
            ArchiveStartOffset = GetCentralDirOffset(stream);
            if (ArchiveStartOffset == -1)
                return atUnsupported;
            if (HeadFlag.Empty())
                HeadFlag.Include(htLocal);
        } else if (!IsArcValid(type) && got >= 14 && IsAceMarker(&buf[7])) {
            type = atAce;
        }
        if (!IsArcValid(type)) {
            if (got >= 14 && IsAceMarker(&buf[7]))
                type = atAce;
            if (!IsArcValid(type))
                type = IsEncodedTextFile(stream);
            if (!IsArcValid(type))
                type = IsTarArchive(stream);
            if (!IsArcValid(type)) {
                ArchiveStartOffset = GetCentralDirOffset(stream);
                if (ArchiveStartOffset <= 0) {
                    type = atNA;
                    ArchiveStartOffset = doByteSearch(stream, type, 0);
                } else {
                    type = End.ThisDisk != 0 ? GetZipSetType() : atZip;
                }
            }
        }
    }
done:
    if (IsArcValid(type)) {
        if (ArchiveStartOffset == -1)
            ArchiveStartOffset = 0;
        if (type == atZip && LowerCase(ExtractFileExt(m_archiveFile)) == ".jar")
            type = atJar;
    }
    ArchiveDate = kFallbackDosDate;
    if (auto* hs = dynamic_cast<THandleStream32*>(stream); hs && hs->Valid()) {
        const std::int32_t d = zadGetFileDate(hs->Handle(), dtLastWrite);
        if (d != 0)
            ArchiveDate = d;
    }
    return type;
}

TArcType TRegisterVirOV::IsSFXZipped(TStream32* stream)
{
    const std::int64_t size = stream->Size();
    static const std::int64_t positions[] = {6674, 6867, 7716, 8601, 13138};
    for (std::int64_t pos : positions) {
        if (size <= pos + 2)
            break;
        std::uint8_t b[2];
        if (!ReadExact(stream, pos, b, 2))
            break;
        if (b[0] == 0x1A && (b[1] == 0x08 || b[1] == 0x09)) {
            ArchiveStartOffset = pos;
            return atArcExe;
        }
        if (b[0] == 0x1A && (b[1] == 0x0A || b[1] == 0x0B)) {
            ArchiveStartOffset = pos;
            return atPakExe;
        }
    }
    std::uint8_t b[6];
    if (size > 1949 && ReadExact(stream, 1947, b, 6) && Is(b, {0x2D, 0x6C, 0x68, -1, 0x2D})) {
        ArchiveStartOffset = 1945;
        return atLhaExe;
    }
    if (size > 7616 && ReadExact(stream, 7612, b, 4) && Is(b, {0x50, 0x4B, 0x03, 0x04})) {
        ArchiveStartOffset = 7612;
        return atZipExe;
    }
    if (size > 25665 && ReadExact(stream, 25661, b, 4) && Is(b, {0x50, 0x4B, 0x03, 0x04})) {
        ArchiveStartOffset = 25661;
        return atZipExe;
    }
    return atNA;
}

std::int64_t TRegisterVirOV::GetCentralDirOffset(TStream32* stream)
{
    const std::int64_t size = stream->Size();
    HeadFlag.Clear();
    CentralDirStart = -1;
    DeclaredCentralDirOffset = 0;
    DeclaredEntries = -1;
    if (size <= 0)
        return 0;
    const std::int64_t blockStart = size > kBlockSize ? size - kBlockSize : 1;
    const auto blockLen = static_cast<std::int32_t>(size - blockStart);
    std::vector<std::uint8_t> block(static_cast<size_t>(std::max(blockLen, 0)));
    const std::int32_t got = ReadAt(stream, blockStart, block.data(), blockLen);

    // The ending record: the last position whose signature is an ending and
    // whose fixed part lies wholly inside the file.
    std::int64_t endPos = -1;
    std::uint8_t rec[TVirOV_End64::kSize] = {};
    bool coded = false;
    for (std::int32_t i = got - 4; i >= 0; --i) {
        if (block[static_cast<size_t>(i)] != 0x50)
            continue;
        const std::uint32_t sig = LoadLe32(&block[static_cast<size_t>(i)]);
        if (VerSig(sig, htEnding, coded) != htEnding)
            continue;
        const std::int32_t need = is64BitEndingHdr(sig) ? TVirOV_End64::kSize : TEnd::kSize;
        if (ReadExact(stream, blockStart + i, rec, need)) {
            endPos = blockStart + i;
            break;
        }
    }
    if (endPos < 0)
        return 0;

    HeadFlag = {htEnding};
    const std::uint32_t endSig = LoadLe32(rec);
    if (coded)
        DecodeHeader(rec, htEnding);
    std::uint8_t probe[4];
    if (endPos >= TWZipLocator::kSize && ReadExact(stream, endPos - TWZipLocator::kSize, probe, 4) &&
        LoadLe32(probe) == ZIP64_LOCATOR_SIGNATURE) {
        HeadFlag.Include(htLocator);
        const std::int64_t end64At = endPos - TWZipLocator::kSize - TWZip_END64::kSize;
        if (end64At >= 0 && ReadExact(stream, end64At, probe, 4) && LoadLe32(probe) == ZIP64_END_SIGNATURE)
            HeadFlag.Include(htEnding64);
    }

    std::int64_t cdPos = 0;
    std::int64_t storedOffset = 0;
    std::int32_t endSize = TEnd::kSize;
    DeclaredEntries = -1;
    if (is64BitEndingHdr(endSig)) {
        End64 = TVirOV_End64::Parse(rec);
        End = TEnd{};
        End.Signature = endSig;
        endSize = TVirOV_End64::kSize;
        cdPos = static_cast<std::int64_t>(End64.CentralOffset & 0x7FFFFFFFFFFFFFFFull);
        storedOffset = cdPos;
    } else {
        End = TEnd::Parse(rec);
        End.Signature = endSig;
        if (HeadFlag.Has(htEnding64)) {
            std::uint8_t loc[TWZipLocator::kSize], z64[TWZip_END64::kSize];
            ReadExact(stream, endPos - TWZipLocator::kSize, loc, TWZipLocator::kSize);
            ReadExact(stream, endPos - TWZipLocator::kSize - TWZip_END64::kSize, z64, TWZip_END64::kSize);
            WZipLocator = TWZipLocator::Parse(loc);
            WZipEnd64 = TWZip_END64::Parse(z64);
            // Both come from the file: clamp before subtracting.
            const std::uint64_t endAt = std::min<std::uint64_t>(WZipLocator.EndOffset, static_cast<std::uint64_t>(size));
            cdPos = static_cast<std::int64_t>(endAt) - static_cast<std::int64_t>(std::min<std::uint64_t>(WZipEnd64.CentralSize, endAt));
            storedOffset = static_cast<std::int64_t>(std::min<std::uint64_t>(WZipEnd64.CentralOffset, static_cast<std::uint64_t>(size) * 2));
            DeclaredEntries = static_cast<std::int64_t>(std::min<std::uint64_t>(WZipEnd64.TotalEntries, INT64_MAX));
        } else {
            cdPos = endPos - End.CentralSize;
            storedOffset = End.CentralOffset;
            DeclaredEntries = End.TotalEntries;
        }
    }
    DeclaredCentralDirOffset = storedOffset;
    if (ArchiveComment) {
        ArchiveComment->EndSignature = endSig;
        ArchiveComment->EndingOffset = endPos;
        ArchiveComment->CentralDirOffset = cdPos;
        const std::int64_t after = endPos + endSize;
        if (after < size) {
            stream->SetPosition(after);
            ArchiveComment->CopyFrom(stream, size - after);
        } else {
            ArchiveComment->Clear();
        }
    }

    // The first central header: where the ending record says, else where
    // the directory's size says it must begin.
    std::uint8_t ch[TCentral::kSize];
    const std::int64_t fallback = endPos - static_cast<std::int64_t>(End.CentralSize);
    bool found = false;
    bool chCoded = false;
    if (cdPos >= 0 && ReadExact(stream, cdPos, ch, TCentral::kSize) &&
        VerSig(LoadLe32(ch), htCentral, chCoded) == htCentral) {
        found = true;
    } else if (fallback >= 0 && ReadExact(stream, fallback, ch, TCentral::kSize) &&
               VerSig(LoadLe32(ch), htCentral, chCoded) == htCentral) {
        cdPos = fallback;
        found = true;
    } else if (!(cdPos >= 0 && ReadExact(stream, cdPos, ch, 4)) && !(fallback >= 0 && ReadExact(stream, fallback, ch, 4))) {
        return 0;
    }

    if (found) {
        CentralDirStart = cdPos;
        CentralDirEnd = cdPos + static_cast<std::int64_t>(HeadFlag.Has(htEnding64) ? WZipEnd64.CentralSize : End.CentralSize);
        // The shift of a self-extractor whose stored offsets do not count the stub.
        const std::int64_t adjust = cdPos - storedOffset;
        SfxAdjust = adjust > INT32_MAX || adjust < INT32_MIN ? 0 : static_cast<std::int32_t>(adjust);
        HeadFlag.Include(htCentral);
        if (chCoded)
            DecodeHeader(ch, htCentral);
        Central = TCentral::Parse(ch);
        std::uint32_t localOffset = Central.RelativeOffset;
        std::int64_t localPos = static_cast<std::int64_t>(localOffset);
        if (Central.ExtraLength > 0) {
            // A ZIP64 offset lives in the extra field after the name.
            std::vector<std::uint8_t> extra(Central.ExtraLength);
            if (ReadExact(stream, cdPos + TCentral::kSize + Central.NameLength, extra.data(), Central.ExtraLength)) {
                TCentral64Hdr h;
                TAesHeader aes;
                std::vector<std::uint8_t> strong;
                std::uint32_t packed = Central.PackedSize, unpacked = Central.UnpackedSize;
                ParseExtraField(extra.data(), extra.size(), htCentral, {&packed, &unpacked, &localOffset}, h, aes, strong);
                localPos = WideValue(localOffset, h.HighOffset);
            }
        }
        // The archive is judged by its end record and central directory: a
        // first entry whose local header is missing (or lies outside the
        // file) fails alone when it is extracted; it leaves htLocal out.
        bool lc = false;
        if (localPos <= size - SfxAdjust && ReadExact(stream, localPos + SfxAdjust, probe, 4) &&
            VerSig(LoadLe32(probe), htLocal, lc) == htLocal)
            HeadFlag.Include(htLocal);
        return cdPos;
    }

    // No central directory: look for a local header near the start.
    SfxAdjust = 0;
    for (int b = 0; b < 4; ++b) {
        const std::int64_t at = static_cast<std::int64_t>(b) * blockLen;
        const std::int32_t n = ReadAt(stream, at, block.data(), blockLen);
        if (n <= 0)
            return b == 0 ? 0 : -1;
        for (std::int32_t i = 0; i + 4 <= n; ++i) {
            if (block[static_cast<size_t>(i)] != 0x50)
                continue;
            bool lc = false;
            if (VerSig(LoadLe32(&block[static_cast<size_t>(i)]), htLocal, lc) == htLocal) {
                HeadFlag = {htLocal};
                return at + i;
            }
        }
    }
    return -1;
}

std::string TRegisterVirOV::DirectoryRemark(std::int64_t entriesFound) const
{
    std::string remark;
    // Writers without ZIP64 keep the low 16 bits of a larger count.
    const bool countAgrees = DeclaredEntries < 0 || (HeadFlag.Has(htEnding64) ? entriesFound == DeclaredEntries
                                                                             : (entriesFound & 0xFFFF) == DeclaredEntries);
    if (!countAgrees)
        remark = "the end record counts " + std::to_string(DeclaredEntries) + " entries, the central directory holds " +
                 std::to_string(entriesFound);
    // A self-extractor's stub moves the directory forward, never back.
    const std::int64_t shift = CentralDirStart - DeclaredCentralDirOffset;
    if (CentralDirStart >= 0 && (shift < 0 || shift > INT32_MAX)) {
        remark += remark.empty() ? "the end record" : "; it";
        remark += " places the central directory at " + std::to_string(DeclaredCentralDirOffset) + ", it starts at " +
                  std::to_string(CentralDirStart);
    }
    return remark;
}

std::string TRegisterVirOV::SetDirectoryRemark() const
{
    if (End.CentralDisk == End.ThisDisk)
        return {};
    return "the central directory starts on part " + std::to_string(End.CentralDisk + 1) + " of " +
           std::to_string(End.ThisDisk + 1);
}

std::int64_t TRegisterVirOV::GetLocalDirOffset(TStream32* stream, bool& encrypted)
{
    encrypted = false;
    std::vector<std::uint8_t> block(kBlockSize);
    for (int b = 0; b < 4; ++b) {
        const std::int64_t at = 15000 + static_cast<std::int64_t>(b) * kBlockSize;
        const std::int32_t n = ReadAt(stream, at, block.data(), kBlockSize);
        if (n <= 0)
            break;
        for (std::int32_t i = 0; i + 4 <= n; ++i)
            if (block[static_cast<size_t>(i)] == 0x50 &&
                VerSig(LoadLe32(&block[static_cast<size_t>(i)]), htLocal, encrypted) == htLocal) {
                HeadFlag = {htLocal};
                return at + i;
            }
    }
    return -1;
}

std::int32_t TRegisterVirOV::doByteSearch(TStream32* stream, TArcType& type, std::int64_t start)
{
    const std::int64_t size = stream->Size();
    if (start >= size)
        return 0;
    std::vector<std::uint8_t> block(kBlockSize);
    for (int b = 0; b < 11; ++b) {
        const std::int64_t blockAt = start + static_cast<std::int64_t>(b) * kBlockSize;
        const std::int32_t n = ReadAt(stream, blockAt, block.data(), kBlockSize);
        if (n <= 0)
            return 0;
        std::int64_t result = 0;
        bool hit = false;
        for (std::int32_t i = 0; i + 4 <= n && !hit; ++i) {
            const std::uint8_t* p = &block[static_cast<size_t>(i)];
            const std::int64_t s = blockAt + i;
            const std::int32_t left = n - i;
            switch (p[0]) {
            case 0x2A:
                // The marker sits 7 bytes into its header; one nearer the
                // start of the file has no header in front of it.
                if (s >= 7 && left >= 5 && std::memcmp(p, "**ACE", 5) == 0 && s + 5 < size) {
                    result = s - 7;
                    type = s == 7 ? atAce : atAceExe;
                    hit = true;
                }
                break;
            case 0x2D:
                if (s >= 2 && left >= 5 && Is(p, {0x2D, 0x6C, 0x68, -1, 0x2D}) && s + 5 < size) {
                    result = s - 2;
                    type = s == 2 ? atLha : atLhaExe;
                    hit = true;
                }
                break;
            case 0x42:
                if (Is(p, {0x42, 0x48, 0x05, 0x07}) && !(left >= 8 && Is(p + 4, {0x0F, 0x94, 0xC3, 0x84}))) {
                    result = s;
                    type = s == 0 ? atBh : atBhExe;
                    hit = true;
                }
                break;
            case 0x4D:
                if (left >= 8 && Is(p, {0x4D, 0x53, 0x43, 0x46, 0, 0, 0, 0}) && s + 5 < size) {
                    if (start != 0) {
                        result = s;
                        type = s == 0 ? atCab : atCabExe;
                        hit = true;
                    } else {
                        i = n;  // the rest of this block is skipped
                    }
                }
                break;
            case 0x50:
                if (Is(p, {0x50, 0x4B, 0x03, 0x04}) && !(left >= 8 && Is(p + 4, {0x74, 0x0B, 0x3D, 0x00}))) {
                    type = start != 0 ? atZipExe : atZip;
                    const std::int64_t cd = GetCentralDirOffset(stream);
                    if (cd == -1) {
                        type = atUnsupported;
                        result = s;
                    } else if (HeadFlag.Has(htCentral)) {
                        // Listing starts at the central directory that was found.
                        result = cd;
                    } else {
                        HeadFlag = {htLocal};
                        result = s;
                    }
                    hit = true;
                }
                break;
            case 0x52:
                if (Is(p, {0x52, 0x61, 0x72, 0x21})) {
                    result = s;
                    type = s == 0 ? atRar : atRarExe;
                    hit = true;
                }
                break;
            case 0x60:
                if (p[1] == 0xEA) {
                    const std::int32_t hsize = LoadLe16(p + 2);
                    const std::int64_t second = static_cast<std::int64_t>(i) + hsize + 10;
                    if (second + 2 <= n && second < kBlockSize && block[static_cast<size_t>(second)] == 0x60 &&
                        block[static_cast<size_t>(second) + 1] == 0xEA) {
                        result = s;
                        type = s == 0 ? atArj : atArjExe;
                        hit = true;
                    }
                }
                break;
            default: break;
            }
        }
        if (hit && result != 0)
            return static_cast<std::int32_t>(std::min<std::int64_t>(result, INT32_MAX));
    }
    return 0;
}

TArcType TRegisterVirOV::IsEncodedTextFile(TStream32* stream)
{
    std::vector<char> buf(kBlockSize);
    const std::int32_t n = ReadAt(stream, 0, buf.data(), kBlockSize);
    return TextArcType(FindTextMarker(buf.data(), n, false).kind);
}

TArcType TRegisterVirOV::IsTarArchive(TStream32* stream)
{
    const std::int64_t size = stream->Size();
    if (size <= 512)
        return atNA;
    std::uint8_t rec[512];
    if (!ReadExact(stream, 0, rec, 512))
        return atNA;
    if (rec[156] == 'V') {
        ArchiveStartOffset = 512;
        if (size >= 1024 && !ReadExact(stream, 512, rec, 512))
            return atNA;
    }
    const std::string field(reinterpret_cast<const char*>(rec + 148), 8);
    const std::uint32_t stored = static_cast<std::uint32_t>(OctStrToInt(field));
    std::uint32_t sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? 32u : rec[i];
    if (stored == sum)
        return atTar;
    ArchiveStartOffset = -1;
    return atNA;
}

void TRegisterVirOV::InitializeVolumeSet()
{
    VolumeNumber = 0;
    std::string fallback;
    switch (ArcType) {
    case atAce: VolumeLetter = 'C'; fallback = "Ace"; break;
    case atArj: VolumeLetter = 'a'; fallback = "Arj"; break;
    case atJar:
    case atJarExe: VolumeLetter = 'j'; fallback = "Jar"; break;
    case atRar:
    case atRarExe: VolumeLetter = 'q'; fallback = "Rar"; break;
    default: return;
    }
    std::string ext = ExtractFileExt(m_archiveFile);
    ext = ext.empty() ? fallback : ext.substr(1);
    size_t digits = ext.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(ext[digits - 1])))
        --digits;
    if (digits < ext.size() && ext.size() - digits <= 9) {
        VolumeNumber = std::stoi(ext.substr(digits)) + 1;
        VolumeLetter = ext[0];
    } else {
        VolumeNumber = (ArcType == atArj || ArcType == atArjExe) ? 1 : 0;
    }
}
