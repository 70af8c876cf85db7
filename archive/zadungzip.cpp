#include "archive/zadungzip.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadgzip.h"
#include "archive/zadlzw.h"
#include "archive/zadtar.h"
#include "archive/zaduntar.h"

#include <algorithm>

namespace {

constexpr int E_MULTIPARTGZIP = 25264;

class TStreamSource : public TLzwSource {
public:
    explicit TStreamSource(TStream32& stream) : m_stream(stream) {}
    std::size_t Read(std::uint8_t* buffer, std::size_t cap) override
    {
        const std::int64_t n = m_stream.Read(buffer, static_cast<std::int64_t>(cap));
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }

private:
    TStream32& m_stream;
};

class TFunctionSink : public TLzwSink {
public:
    explicit TFunctionSink(std::function<bool(const std::uint8_t*, std::size_t)> write) : m_write(std::move(write)) {}
    bool Write(const std::uint8_t* data, std::size_t count) override { return m_write(data, count); }

private:
    std::function<bool(const std::uint8_t*, std::size_t)> m_write;
};

std::int32_t DosDateOf(std::uint32_t unixSeconds) { return DateTimeToDosDateTime(UnixTimeToDateTime(UnixTime(unixSeconds))); }

// The low 32 bits of the last member's size, from the file's last 4 bytes.
std::int64_t TrailerSize(TStream32& in)
{
    const std::int64_t size = in.Size();
    std::uint8_t t[4];
    if (size < 18 || in.Seek(size - 4, soBeginning) != size - 4 || in.Read(t, 4) != 4)
        return size;
    return t[0] | (t[1] << 8) | (t[2] << 16) | (static_cast<std::int64_t>(t[3]) << 24);
}

// FAT without long names (what the system calls "FAT16", the kernel
// "msdos") holds one dot in a name, before its extension.
bool OneDotNames(const std::string& fileSystem) { return SameText(fileSystem, "FAT16") || SameText(fileSystem, "msdos"); }

// name.v2.final.txt -> name_v2_final.txt
std::string WithOneDot(const std::string& name)
{
    const size_t ext = name.rfind('.');
    std::string out = name;
    if (ext != std::string::npos)
        std::replace(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(ext), '.', '_');
    return out;
}

} // namespace

bool TUnGZip::SupportsType(TArcType type) const { return type == atGZip || type == atTarGZip; }

void TUnGZip::_Extract(TStream32*& inStream, TStream32* outStream)
{
    if (!inStream)
        return;
    try {
        TGzipHeader h;
        if (!ReadGzipHeader(*inStream, 0, h)) {
            RaiseErrorStr(ArchiveFile(), "", VolumeName, E_BADHEADR);
            return;
        }
        GZipMagic = h.Magic;
        StoredName = GzipEntryName(h, ArchiveFile());
        HeaderList = std::make_unique<TUnBaseHeaderObj>();
        if (!CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec))
            return;
        const std::int64_t size = inStream->Size();
        TUnBaseFileInfo info;
        info.ExternalAttr = 128;
        HeaderList->AddItem(info, nullptr, 0);
        InflateRec.BitFlag = h.Flags;
        InflateRec.CompressMethod = h.Method;
        InflateRec.PackedSize = size;
        // The trailer gives the size modulo 2^32 of the last member only: it
        // is progress, not a limit.
        InflateRec.UnpackedSize = h.IsGzip() ? std::max(TrailerSize(*inStream), size) : size;
        TotalPackedSize = InflateRec.PackedSize;
        TotalUnpackedSize = InflateRec.UnpackedSize;
        RemainingUnpackedSize = TotalUnpackedSize;
        InflateRec.ProgressTotal = TotalUnpackedSize;
        EntryDosDate = h.IsGzip() && h.MTime != 0 ? DosDateOf(h.MTime) : ArchiveDate;
        // gzip keeps the time in seconds since 1970, unsigned.
        m_stamp = TEntryStamp{};
        if (h.IsGzip() && h.MTime != 0)
            m_stamp.Time = UnixTime(h.MTime);
        MaxFileDate = EntryDosDate;
        if (FileAccessMethod == faFile) {
            SetFilename(StoredName);
            // The name the entry is listed and selected by stays; only the
            // file written follows the target's naming rule.
            if (!FilenameRefused && !Filename.empty() && DiskManager.GetVolumeInfo(ExtractDir) &&
                OneDotNames(DiskManager.FileSystemName))
                Filename = ExtractFilePath(Filename) + WithOneDot(ExtractFileName(Filename));
        } else {
            Filename = StoredName;
        }
        if (FilenameRefused) {
            AdjustProgress(InflateRec);
            ForceCrcFail = true;
            doOnEnd(32, 0);
            return;
        }
        if (!doOnBegin(false)) {
            AdjustProgress(InflateRec);
            return;
        }
        int refusal = 0;
        if (h.Magic == kGzipOldMagic && (h.Flags & 0x02))
            refusal = E_MULTIPARTGZIP;  // a multi-part file of the older gzip
        else if (h.IsGzip() && (h.Flags & 0x20))
            refusal = E_PASSWORDPROTECTED;
        else if (!h.IsGzip() && h.Magic != kCompressMagic)
            refusal = E_UNSUPPORTEDMETHOD;
        bool good = false;
        TStream32* out = outStream;
        if (refusal != 0) {
            RaiseErrorStr(Filename, "", VolumeName, refusal);
            FailEntry(InflateRec);
        } else if (!Open_OutFile(out, Filename, StoredName)) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        } else {
            try {
                good = Decode(inStream, out, h.Magic);
            } catch (const E_RAISE&) {
                good = false;
            }
            if (good) {
                CloseAndSetDate(out, Filename, EntryDosDate, 0, m_stamp);
            } else {
                FailEntry(InflateRec);
                DiscardOutput(out, Filename);
            }
        }
        if (FileAccessMethod == faFile && out && out != outStream)
            delete out;
        BeginEntryOutput(-1);
        if (!good)
            ForceCrcFail = true;
        const bool passed = doOnEnd(32, Crc32Val);
        if (passed && m_doUnTar)
            ExtractNestedTar(m_tarName.empty() ? Filename : m_tarName);
        if (!m_tarName.empty())
            DeleteFile(m_tarName);
    } catch (...) {
        if (!m_tarName.empty()) {
            m_tarFile.reset();
            DeleteFile(m_tarName);
        }
        // The count so far stands.
    }
}

bool TUnGZip::Decode(TStream32* in, TStream32*& out, std::uint16_t magic)
{
    m_head.clear();
    m_doUnTar = false;
    m_tarFile.reset();
    m_tarName.clear();
    Crc32Val = CRC_MASK;
    std::int64_t written = 0;
    bool decided = false;
    const auto put = [&](const std::uint8_t* data, std::size_t n) {
        if (m_tarFile)
            return m_tarFile->Write(data, static_cast<std::int64_t>(n)) == static_cast<std::int64_t>(n);
        for (std::size_t done = 0; done < n;) {
            const auto piece = static_cast<std::int32_t>(std::min<std::size_t>(n - done, 1 << 20));
            WriteBlockProc(out, const_cast<std::uint8_t*>(data + done), false, 0, piece, dtData);
            if (EntryWriteFailed || DiskFull)
                return false;
            done += static_cast<std::size_t>(piece);
        }
        return true;
    };
    // The first block is held back until it tells whether the data is a
    // TAR archive: that decides where the data goes.
    const auto decide = [&] {
        decided = true;
        DecideNestedTar();
        return put(reinterpret_cast<const std::uint8_t*>(m_head.data()), m_head.size());
    };
    // Each member's CRC is checked by the decoder, so the data path keeps none.
    const auto write = [&](const std::uint8_t* data, std::size_t n) {
        written += static_cast<std::int64_t>(n);
        RemainingUnpackedSize = std::max<std::int64_t>(TotalUnpackedSize - written, 0);
        if (!decided) {
            const std::size_t take = std::min(n, kTarBlock - m_head.size());
            m_head.append(reinterpret_cast<const char*>(data), take);
            data += take;
            n -= take;
            if (m_head.size() < static_cast<size_t>(kTarBlock))
                return true;
            if (!decide())
                return false;
        }
        return n == 0 || put(data, n);
    };
    const std::int64_t size = in->Size();
    const auto progress = [&](std::int64_t consumed) {
        doBranchProgress(consumed, size, size);
        ProcessMessages();
    };
    bool good = false;
    if (magic == kCompressMagic) {
        if (in->Seek(0, soBeginning) != 0)
            return false;
        TStreamSource source(*in);
        TFunctionSink sink([&](const std::uint8_t* d, std::size_t n) {
            const bool ok = write(d, n);
            progress(in->Position());
            return ok && !GetCancel();
        });
        TLzwBuffers buffers;
        const TLzwResult r = DecodeCompressStream(source, sink, buffers);
        good = r == TLzwResult::Ok;
        if (r == TLzwResult::BadHeader || r == TLzwResult::Corrupt) {
            std::uint8_t flags = 0;
            const bool nineBits = in->Seek(2, soBeginning) == 2 && in->Read(&flags, 1) == 1 && (flags & 0x1F) == 9;
            // compress -b9 writes codes past what nine bits hold: nothing reads it.
            RaiseErrorStr(Filename,
                          r == TLzwResult::BadHeader ? "no compress header this decoder reads"
                          : nineBits ? "compress -b9 output, whose codes pass what nine bits hold: no decoder reads it"
                                     : "damaged compressed data",
                          VolumeName, r == TLzwResult::BadHeader ? E_BADHEADR : E_BADBLOCK);
        }
    } else {
        const TGzipResult r = DecodeGzipFile(*in, write, progress, CancelRef);
        good = r == TGzipResult::Ok;
        if (r == TGzipResult::BadData)
            RaiseErrorStr(Filename, "damaged or cut deflate data", VolumeName, E_BADBLOCK);
        else if (r == TGzipResult::BadCheck)
            RaiseErrorStr(Filename, "a member's CRC or size does not match its trailer", VolumeName, E_CRCERROR);
    }
    if (good && !decided)
        good = decide();
    if (m_tarFile) {
        m_tarFile.reset();
        if (!good)
            DeleteFile(m_tarName);
    }
    return good && !GetCancel() && !EntryWriteFailed && !DiskFull;
}

void TUnGZip::DecideNestedTar()
{
    m_doUnTar = false;
    if (m_head.size() < static_cast<size_t>(kTarBlock) ||
        !ValidateTarHeader(reinterpret_cast<const std::uint8_t*>(m_head.data())))
        return;
    if (!OnNestedTarFile) {
        // The data is kept as the TAR file itself.
        RaiseErrorStr(Filename, "OnNestedTarFile", VolumeName, E_REQUIREDEVENT);
        return;
    }
    OnNestedTarFile(this, Filename, m_doUnTar);
    if (!m_doUnTar || FileAccessMethod == faFile)
        return;
    // A test run has no file to unpack from: the TAR file is written to the
    // temporary folder, its entries are tested from there, and it goes.
    if (FileAccessMethod != faVerify && FileAccessMethod != faSearch) {
        m_doUnTar = false;
        return;
    }
    std::string name = IncludeTrailingPathDelimiter(ReadTempDir()) + ExtractFileName(StoredName);
    while (m_doUnTar && FileExists(name) && !GetCancel()) {
        if (!OnFileExists) {
            RaiseErrorStr(name, "OnFileExists", VolumeName, E_REQUIREDEVENT);
            m_doUnTar = false;
            break;
        }
        TOverwriteMode mode = omOverwrite;
        std::string newName;
        OnFileExists(this, name, newName, mode);
        if (mode == omSkip)
            m_doUnTar = false;
        else if (newName.empty() || SameText(newName, name))
            break;
        else
            name = newName;
    }
    if (!m_doUnTar || GetCancel()) {
        m_doUnTar = false;
        return;
    }
    auto file = std::make_unique<TFileStream32>(name, fmCreate);
    if (!file->Valid()) {
        RaiseErrorStr(name, "", VolumeName, E_OPENERR);
        m_doUnTar = false;
        return;
    }
    m_tarFile = std::move(file);
    m_tarName = name;
}

void TUnGZip::ExtractNestedTar(const std::string& tarFile)
{
    if (GetCancel())
        return;
    if (!FileExists(tarFile)) {
        RaiseErrorStr(tarFile, "", VolumeName, E_OPENERR);
        return;
    }
    TUnTar tar;
    tar.SetArchiveFile(tarFile);
    if (tar.ArcType != atTar)
        return;
    ArcType = atTar;
    tar.SetExtractDir(ExtractDir);
    tar.FileSpec.Assign(FileSpec);
    tar.ExcludeSpec.Assign(ExcludeSpec);
    tar.RecurseDirs = RecurseDirs;
    // The TAR's entries go straight into the target folder.
    tar.UseStoredDirs = false;
    tar.CreateStoredDirs = CreateStoredDirs;
    tar.ConfirmOverwrites = ConfirmOverwrites;
    tar.OverwriteMode = OverwriteMode;
    tar.DateAttribute = DateAttribute;
    tar.OnProgress = OnProgress;
    tar.OnBegin = OnBegin;
    tar.OnEnd = OnEnd;
    tar.OnError = OnError;
    tar.OnFileExists = OnFileExists;
    tar.SetTempDir(TempDir);
    const int count = FileAccessMethod == faFile ? tar.Extract() : tar.ExtractToVerify();
    FileCount = count;
    if (count > 0 && OnChangeArchive)
        OnChangeArchive(this, tar.ArchiveFile(), atTar);
}
