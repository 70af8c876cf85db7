#include "zadunlzhbase.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadlh1.h"
#include "archive/zadzlib.h"

#include <algorithm>

namespace {

constexpr int kBlock = 32768;

// The entry's packed bytes in, its decoded bytes out, for the LZW
// decoder's byte interfaces.
class TEntryPipe : public TLzwSource, public TLzwSink {
public:
    TEntryPipe(const TLzhSource& read, const TLzhSink& write) : m_read(read), m_write(write) {}
    std::size_t Read(std::uint8_t* buffer, std::size_t cap) override
    {
        return static_cast<std::size_t>(m_read(buffer, static_cast<std::int32_t>(std::min<std::size_t>(cap, kBlock))));
    }
    bool Write(const std::uint8_t* data, std::size_t count) override
    {
        return m_write(data, static_cast<std::int32_t>(count));
    }

private:
    const TLzhSource& m_read;
    const TLzhSink& m_write;
};

// Stored data: the declared size is copied; data that ends first fails.
bool Copy(std::int64_t size, const TLzhSource& source, const TLzhSink& sink)
{
    std::vector<std::uint8_t> buf(kBlock);
    while (size > 0) {
        const std::int32_t got = source(buf.data(), static_cast<std::int32_t>(std::min<std::int64_t>(size, kBlock)));
        if (got <= 0 || !sink(buf.data(), got))
            return false;
        size -= got;
    }
    return true;
}

}  // namespace

TUnLzhBase::TUnLzhBase(TComponent* owner) : TUnBase(owner) {}

TUnLzhBase::~TUnLzhBase() = default;

void TUnLzhBase::_Extract(TStream32*& inStream, TStream32* outStream)
{
    m_entries.clear();
    try {
        if (BuildHeadArray(inStream) > 0)
            ProcessHeaders(inStream, outStream);
    } catch (...) {
        // The counts and events carry the outcome.
    }
    m_entries.clear();
    m_inflater.reset();
    Current = nullptr;
}

int TUnLzhBase::BuildHeadArray(TStream32* in)
{
    Timer.Suspend();
    Walk(in);
    Timer.Resume();
    return static_cast<int>(m_entries.size());
}

void TUnLzhBase::Select(TLzhEntry e)
{
    if (!CheckWildCard2(this, e.StoredName, FileSpec, RecurseDirs, &ExcludeSpec))
        return;
    TotalPackedSize += e.PackedSize;
    TotalUnpackedSize += e.UnpackedSize;
    // Dates compare in the DOS order: the date in the high word.
    if (static_cast<std::uint32_t>(e.DosDateTime) > static_cast<std::uint32_t>(MaxFileDate))
        MaxFileDate = e.DosDateTime;
    m_entries.push_back(std::move(e));
}

void TUnLzhBase::WalkEnded(TLzhRead how)
{
    if (how == TLzhRead::Bad)
        RaiseErrorStr(ArchiveFile(), "", VolumeName, E_BADHEADR);
}

bool TUnLzhBase::Unlock(TStream32*, const TLzhEntry&) { return false; }

void TUnLzhBase::ProcessHeaders(TStream32* in, TStream32* out)
{
    RemainingUnpackedSize = TotalUnpackedSize;
    for (const TLzhEntry& e : m_entries) {
        if (GetCancel())
            break;
        Current = &e;
        EntryDosDate = e.DosDateTime;
        FileDate = ConvertDate(e.DosDateTime);
        StoredName = e.StoredName;
        SetFilename(StoredName);
        InflateRec = TInflateRec{};
        InflateRec.BitFlag = e.Flags;
        InflateRec.CompressMethod = static_cast<std::uint32_t>(e.Method);
        InflateRec.PackedSize = e.PackedSize;
        InflateRec.UnpackedSize = e.UnpackedSize;
        InflateRec.ProgressTotal = TotalUnpackedSize;
        OpenAndExtractFile(in, out, e);
    }
    Current = nullptr;
}

bool TUnLzhBase::Inflate(TStream32* in, TStream32*& out, const TLzhEntry& e)
{
    if (!m_inflater)
        m_inflater = std::make_unique<TDecompressStream>(nullptr, emNone, -15);
    TDecompressStream& ds = *m_inflater;
    ds.Restart(in, e.Encrypted ? emZIP_v2 : emNone, e.PackedSize);
    ds.CancelRef = CancelRef;
    std::vector<std::uint8_t> buf(kBlock);
    bool ok = true;
    while (!GetCancel()) {
        ProcessMessages();
        const std::uint64_t before = ds.TotalOut();
        const std::int32_t n = ds.Read(buf.data(), kZadTransferSize, kBlock);
        const auto got = static_cast<std::int32_t>(ds.TotalOut() - before);
        if (got > 0) {
            ExtractWriteProc(out, buf.data(), false, CrcWidth(), got, dtData);
            RemainingUnpackedSize -= std::min<std::int64_t>(got, RemainingUnpackedSize);
            if (EntryWriteFailed)
                break;
        }
        doBranchProgress(std::min(EntryWritten, e.UnpackedSize), e.UnpackedSize, TotalUnpackedSize);
        if (n < 0) {
            ok = false;
            break;
        }
        if (ds.StreamEnd() || got == 0)
            break;
    }
    ds.Restart(nullptr, emNone, -1);
    return ok;
}

bool TUnLzhBase::DecodeEntry(TStream32* in, TStream32*& outStream, const TLzhEntry& e)
{
    const TLzhCodec codec = e.Codec.Codec;
    if (codec == TLzhCodec::Deflate) {
        if (!Inflate(in, outStream, e)) {
            RaiseErrorStr(StoredName, "damaged deflate data", VolumeName, E_BADBLOCK);
            return false;
        }
        return EntrySizeAgrees(true);
    }
    std::int64_t left = e.PackedSize;
    const std::int64_t total = e.UnpackedSize;
    const TLzhSource source = [&](std::uint8_t* buf, std::int32_t count) -> std::int32_t {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(std::min(count, kBlock), left));
        if (want <= 0)
            return 0;
        const std::int32_t got = std::max(ReadProc(in, nullptr, buf, e.Encrypted, 0, want, dtData), 0);
        left -= got;
        return got;
    };
    const TLzhSink sink = [&](const std::uint8_t* buf, std::int32_t count) {
        ExtractWriteProc(outStream, const_cast<std::uint8_t*>(buf), false, CrcWidth(), count, dtData);
        RemainingUnpackedSize -= std::min<std::int64_t>(count, RemainingUnpackedSize);
        doBranchProgress(std::min(EntryWritten, total), total, TotalUnpackedSize);
        ProcessMessages();
        return !EntryWriteFailed && !GetCancel();
    };
    bool good = false;
    switch (codec) {
    case TLzhCodec::Stored: good = Copy(total, source, sink); break;
    case TLzhCodec::ZooLzw: {
        TEntryPipe pipe(source, sink);
        good = DecodeZooLzw(pipe, pipe, m_lzw) == TLzwResult::Ok;
        break;
    }
    case TLzhCodec::Dynamic: good = Lh1Decode(total, source, sink) == TLzhResult::Ok; break;
    case TLzhCodec::Static:
        good = m_lzh.Decode(TLzhParams{e.Codec.DicBits, e.Codec.PBits}, total, source, sink) == TLzhResult::Ok;
        break;
    default: break;
    }
    if (good)
        return EntrySizeAgrees(true);
    if (EntryWriteFailed || GetCancel())
        return false;
    if (codec == TLzhCodec::Stored)
        EntrySizeAgrees(true);  // the data ended before the declared size: 25193
    else
        RaiseErrorStr(StoredName, "damaged packed data", VolumeName, E_BADBLOCK);
    return false;
}

bool TUnLzhBase::OpenAndExtractFile(TStream32* in, TStream32* out, const TLzhEntry& e)
{
    const BYTE width = CrcWidth();
    if (FilenameRefused) {
        AdjustProgress(InflateRec);
        ForceCrcFail = true;
        return doOnEnd(width, e.Crc);
    }
    if (!doOnBegin(e.IsDirectory)) {
        AdjustProgress(InflateRec);
        return false;
    }
    TStream32* outStream = out;
    try {
        Crc16Val = 0;
        Crc32Val = CRC_MASK;
        Encrypted = !e.IsDirectory && e.Encrypted;
        SetEncryptionMethod(Encrypted ? emZIP_v2 : emNone);
        if (e.IsDirectory) {
            NoteFolderStamp(Filename, e.Stamp);
            if (FileAccessMethod == faFile && CreateStoredDirs && !CreateDirEx(Filename))
                ForceCrcFail = true;
            Crc16Val = static_cast<std::uint16_t>(e.Crc);
            Crc32Val = e.Crc;
        } else if (e.IsLink) {
            // Written as TAR's links are: a file holding the target's text.
            if (!RoomForEntry(e.UnpackedSize) || !Open_OutFile(outStream, Filename, StoredName)) {
                if (!FilenameRefused && FileAccessMethod == faFile)
                    RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
                FailEntry(InflateRec);
            } else {
                BeginEntryOutput(e.UnpackedSize);
                ExtractWriteProc(outStream, const_cast<char*>(e.LinkTarget.data()), false, width,
                                 static_cast<std::int32_t>(e.LinkTarget.size()), dtData);
                RemainingUnpackedSize -= std::min<std::int64_t>(e.UnpackedSize, std::max<std::int64_t>(RemainingUnpackedSize, 0));
                if (EntryWriteFailed || DiskFull || GetCancel()) {
                    FailEntry(InflateRec);
                    DiscardOutput(outStream, Filename);
                } else {
                    CloseAndSetDate(outStream, Filename, e.DosDateTime, 0x20, e.Stamp);
                }
                // The header's CRC is of no data: the text written is the entry.
                Crc16Val = static_cast<std::uint16_t>(e.Crc);
                Crc32Val = e.Crc;
            }
        } else if (e.Codec.Codec == TLzhCodec::Unsupported) {
            // Nothing is created for a method without a decoder.
            RaiseErrorStr(StoredName, "", VolumeName, E_UNSUPPORTEDMETHOD);
            FailEntry(InflateRec);
        } else if (in->Seek(e.DataOffset, soBeginning) != e.DataOffset ||
                   (Encrypted && !Unlock(in, e))) {
            FailEntry(InflateRec);
            Filename = StoredName;
        } else if (!RoomForEntry(e.UnpackedSize)) {
            FailEntry(InflateRec);
        } else if (!Open_OutFile(outStream, Filename, StoredName)) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        } else {
            BeginEntryOutput(e.UnpackedSize);
            const bool decoded = DecodeEntry(in, outStream, e);
            if (!decoded || EntryWriteFailed || DiskFull || GetCancel()) {
                FailEntry(InflateRec);
                DiscardOutput(outStream, Filename);
            } else {
                CloseAndSetDate(outStream, Filename, e.DosDateTime, RestoreFileAttr ? e.Attributes : 0x20, e.Stamp);
            }
        }
    } catch (...) {
        ForceCrcFail = true;
        EndEntryOutput(outStream, out, true);
    }
    EndEntryOutput(outStream, out, false);
    return doOnEnd(width, e.Crc);
}
