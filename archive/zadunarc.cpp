#include "zadunarc.h"

#include "archive/zadarcdec.h"
#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr int E_INCORRECTBITS = 25134;
constexpr int E_BADTREE = 25152;
constexpr int kBlock = 32768;

bool IsPak(TArcType t) { return t == atPak || t == atPakExe; }

}  // namespace

bool TUnArc::SupportsType(TArcType type) const
{
    return type == atArc || type == atArcExe || IsPak(type);
}

void TUnArc::_Extract(TStream32*& inStream, TStream32* outStream)
{
    m_entries.clear();
    try {
        if (BuildHeadArray(inStream) > 0)
            ProcessHeaders(inStream, outStream);
    } catch (...) {
        // The counts and events carry the outcome.
    }
    m_entries.clear();
}

int TUnArc::BuildHeadArray(TStream32* in)
{
    Timer.Suspend();
    const bool pak = IsPak(ArcType);
    std::string prefix;
    std::int64_t pos = std::max<std::int64_t>(ArchiveStartOffset, 0);
    while (!GetCancel() && pos < ArchiveSize) {
        std::uint8_t raw[TArcHeader::kSize] = {};
        std::int32_t got = 0;
        if (in->Seek(pos, soBeginning) == pos)
            got = ReadProc(in, nullptr, raw, false, 0, TArcHeader::kSize, dtHeader);
        const TArcHeader h = TArcHeader::Parse(raw, got);
        if (!ArcWalkGoesOn(h, pak) || h.Method > 30)
            break;
        if (got < h.HeaderSize()) {
            RaiseErrorStr(ArchiveFile(), "the header at " + std::to_string(pos) + " is cut off", VolumeName, E_BADHEADR);
            break;
        }
        const std::string name = _OemToCharFilter(h.Name, TranslateOemChar);
        if (!pak && h.IsDirectory()) {
            // A directory header names a folder for the entries after it;
            // its own sizes do not count, the next header follows it.
            prefix += name + "/";
            pos += TArcHeader::kSize;
            continue;
        }
        TEntry e{pos, h, prefix + name};
        if (!(pak && h.Method == 30) && CheckWildCard2(this, e.StoredName, FileSpec, RecurseDirs, &ExcludeSpec)) {
            TotalPackedSize += h.PackedSize;
            TotalUnpackedSize += h.UnpackedSize;
            // Dates compare in the DOS order: the date in the high word.
            if (static_cast<std::uint32_t>(h.DosDateTime()) > static_cast<std::uint32_t>(MaxFileDate))
                MaxFileDate = h.DosDateTime();
            m_entries.push_back(std::move(e));
        }
        pos += h.HeaderSize() + static_cast<std::int64_t>(h.PackedSize);
    }
    Timer.Resume();
    return static_cast<int>(m_entries.size());
}

void TUnArc::ProcessHeaders(TStream32* in, TStream32* out)
{
    RemainingUnpackedSize = TotalUnpackedSize;
    for (const TEntry& e : m_entries) {
        if (GetCancel())
            break;
        EntryDosDate = e.Header.DosDateTime();
        FileDate = ConvertDate(EntryDosDate);
        StoredName = e.StoredName;
        SetFilename(StoredName);
        InflateRec = TInflateRec{};
        InflateRec.CompressMethod = e.Header.Method;
        InflateRec.PackedSize = e.Header.PackedSize;
        InflateRec.UnpackedSize = e.Header.UnpackedSize;
        InflateRec.ProgressTotal = TotalUnpackedSize;
        OpenAndExtractFile(in, out, e);
    }
}

std::int32_t TUnArc::ReadPacked(TStream32* in, std::uint8_t* buf, std::int32_t count)
{
    const std::int32_t got = ReadProc(in, nullptr, buf, false, 0, count, dtData);
    if (!m_key.empty())
        for (std::int32_t i = 0; i < got; ++i) {
            buf[i] ^= static_cast<std::uint8_t>(m_key[m_keyAt]);
            m_keyAt = (m_keyAt + 1) % m_key.size();
        }
    return got;
}

std::string TUnArc::FailureRemark() const
{
    return Password.empty() ? "its data do not decode: it is damaged, or garbled with a password"
                            : "its data do not decode with the password given: the password is wrong, or it is damaged";
}

bool TUnArc::DecodeEntry(TStream32* in, TStream32*& outStream, const TEntry& e)
{
    const std::int64_t dataAt = e.Offset + e.Header.HeaderSize();
    m_key.clear();
    m_keyAt = 0;
    for (char c : Password)
        m_key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (in->Seek(dataAt, soBeginning) != dataAt)
        return EntrySizeAgrees(true);
    std::int64_t left = e.Header.PackedSize;
    const std::int64_t total = e.Header.UnpackedSize;
    const auto source = [&](std::uint8_t* buf, std::int32_t count) -> std::int32_t {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count, left));
        if (want <= 0)
            return 0;
        const std::int32_t got = ReadPacked(in, buf, want);
        left -= std::max(got, 0);
        return got;
    };
    if (e.Header.Method == 1) {
        // The oldest stored form: the packed bytes are the file.
        std::vector<std::uint8_t> buf(kBlock);
        while (!GetCancel() && !EntryWriteFailed) {
            const std::int32_t got = source(buf.data(), kBlock);
            if (got <= 0)
                break;
            ExtractWriteProc(outStream, buf.data(), false, 16, got, dtData);
            RemainingUnpackedSize -= std::min<std::int64_t>(got, std::max<std::int64_t>(RemainingUnpackedSize, 0));
            doBranchProgress(std::min(EntryWritten, total), total, TotalUnpackedSize);
            ProcessMessages();
        }
        return EntrySizeAgrees(true);
    }
    TArcDecoder decoder(
        source,
        [&](const std::uint8_t* buf, std::int32_t count) {
            ExtractWriteProc(outStream, const_cast<std::uint8_t*>(buf), false, 16, count, dtData);
            RemainingUnpackedSize -= std::min<std::int64_t>(count, RemainingUnpackedSize);
            doBranchProgress(std::min(EntryWritten, total), total, TotalUnpackedSize);
            ProcessMessages();
            return !EntryWriteFailed && !GetCancel();
        });
    int failure = 0;
    switch (decoder.Decode(e.Header.Method)) {
    case TArcDecodeResult::BadTree: failure = E_BADTREE; break;
    case TArcDecodeResult::StackOverflow: failure = E_STACKOVERFLOW; break;
    case TArcDecodeResult::BadBits: failure = E_INCORRECTBITS; break;
    case TArcDecodeResult::Unsupported: failure = E_UNSUPPORTEDMETHOD; break;
    default: break;
    }
    if (failure == E_UNSUPPORTEDMETHOD || failure == E_STACKOVERFLOW) {
        RaiseErrorStr(StoredName, "", VolumeName, failure);
        return false;
    }
    if (failure) {
        // Nothing marks a garbled entry: its data simply fail to decode.
        RaiseErrorStr(StoredName, FailureRemark(), VolumeName, Password.empty() ? failure : E_INVALIDPASSWORD);
        return false;
    }
    return EntrySizeAgrees(true);
}

bool TUnArc::OpenAndExtractFile(TStream32* in, TStream32* out, const TEntry& e)
{
    if (FilenameRefused) {
        AdjustProgress(InflateRec);
        ForceCrcFail = true;
        return doOnEnd(16, e.Header.Crc);
    }
    if (!doOnBegin(false)) {
        AdjustProgress(InflateRec);
        return false;
    }
    TStream32* outStream = out;
    Crc16Val = 0;
    try {
        if (e.Header.Method != 1 && !TArcDecoder::Handles(e.Header.Method)) {
            // Nothing is created for a method without a decoder.
            RaiseErrorStr(StoredName, "", VolumeName, E_UNSUPPORTEDMETHOD);
            FailEntry(InflateRec);
        } else if (!Open_OutFile(outStream, Filename, StoredName)) {
            RaiseErrorStr(StoredName, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        } else {
            BeginEntryOutput(e.Header.UnpackedSize);
            const bool decoded = DecodeEntry(in, outStream, e);
            if (!decoded || EntryWriteFailed || DiskFull || GetCancel()) {
                FailEntry(InflateRec);
                DiscardOutput(outStream, Filename);
            } else if (static_cast<std::uint16_t>(Crc16Val) != e.Header.Crc) {
                // Data that fail their CRC leave no file.
                if (!GetCancel())
                    RaiseErrorStr(StoredName, FailureRemark(), VolumeName, Password.empty() ? E_CRCERROR : E_INVALIDPASSWORD);
                FailEntry(InflateRec);
                DiscardOutput(outStream, Filename);
            } else {
                CloseAndSetDate(outStream, Filename, e.Header.DosDateTime(), 0x20);
            }
        }
    } catch (...) {
        ForceCrcFail = true;
        EndEntryOutput(outStream, out, true);
    }
    EndEntryOutput(outStream, out, false);
    return doOnEnd(16, e.Header.Crc);
}
