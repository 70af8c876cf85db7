#include "archive/zaduntar.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"

#include <algorithm>

namespace {

std::int32_t DosDateOf(const TTarEntry& e)
{
    return DateTimeToDosDateTime(UnixTimeToDateTime(UnixTime(e.MTime, e.MTimeNs)));
}

// A member name as a link names it: without "./" in front or '/' behind.
std::string LinkKey(std::string name)
{
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

} // namespace

bool TUnTar::SupportsType(TArcType type) const { return type == atTar; }

void TUnTar::_Extract(TStream32*& inStream, TStream32* outStream)
{
    if (!inStream)
        return;
    try {
        TBufferedReadStream32 in(inStream);
        HeaderList = std::make_unique<TUnBaseHeaderObj>();
        m_entries.clear();
        m_files.clear();
        m_linked.clear();
        if (BuildHeadArray(&in) > 0)
            ProcessHeaders(&in, outStream);
    } catch (...) {
        // The count so far stands.
    }
    m_entries.clear();
    m_files.clear();
    m_linked.clear();
}

const TTarEntry* TUnTar::ContentOf(const TTarEntry& e) const
{
    const size_t i = static_cast<size_t>(&e - m_entries.data());
    if (!e.IsHardLink())
        return &e;
    const int k = i < m_linked.size() ? m_linked[i] : -1;
    return k >= 0 ? &m_files[static_cast<size_t>(k)] : nullptr;
}

int TUnTar::BuildHeadArray(TStream32* in)
{
    Timer.Suspend();
    TTarReader reader(*in, 0);
    TTarEntry e;
    for (;;) {
        if (GetCancel())
            break;
        const TTarReader::TStep step = reader.Next(e);
        if (step == TTarReader::TStep::BadHeader)
            RaiseErrorStr(ArchiveFile(), "", VolumeName, E_BADHEADR);
        if (step != TTarReader::TStep::Entry)
            break;
        if (e.Name.empty() || !e.Listed())
            continue;
        // A hard link names a member before it, whether or not that one is
        // selected.
        int linked = -1;
        if (e.IsHardLink()) {
            const std::string key = LinkKey(e.LinkName);
            for (size_t k = m_files.size(); k-- > 0;)
                if (LinkKey(m_files[k].Name) == key) {
                    linked = static_cast<int>(k);
                    break;
                }
        } else if (e.IsFile()) {
            m_files.push_back(e);
        }
        if (!CheckWildCard2(this, e.Name, FileSpec, RecurseDirs, &ExcludeSpec))
            continue;
        TUnBaseFileInfo info;
        info.HeaderOffset = e.HeaderOffset;
        info.ExternalAttr = e.IsDir() ? 16 : 128;
        HeaderList->AddItem(info, nullptr, 0);
        // DOS dates compare as unsigned numbers (from 2044 on the top bit is set).
        if (e.HasMTime && static_cast<std::uint32_t>(DosDateOf(e)) > static_cast<std::uint32_t>(MaxFileDate))
            MaxFileDate = DosDateOf(e);
        std::int64_t size = e.IsDir() ? 0 : e.FileSize();
        if (e.IsHardLink())
            size = linked >= 0 ? m_files[static_cast<size_t>(linked)].FileSize() : 0;
        else if (e.IsLink())
            size = static_cast<std::int64_t>(e.LinkName.size());
        TotalPackedSize = SaturatedAdd(TotalPackedSize, size);
        TotalUnpackedSize = SaturatedAdd(TotalUnpackedSize, size);
        m_entries.push_back(e);
        m_linked.push_back(linked);
    }
    Timer.Resume();
    return HeaderList->Count();
}

void TUnTar::ProcessHeaders(TStream32* in, TStream32* out)
{
    RemainingUnpackedSize = TotalUnpackedSize;
    InflateRec.ProgressTotal = TotalUnpackedSize;
    for (int i = 0; i < static_cast<int>(m_entries.size()); ++i) {
        if (GetCancel() || DiskFull)
            break;
        const TTarEntry& e = m_entries[static_cast<size_t>(i)];
        CurrentFileInfo = HeaderList->FileLocationData(i);
        StoredName = e.Name;
        if (FileAccessMethod == faFile)
            SetFilename(StoredName);
        else
            Filename = StoredName;
        InflateRec.BitFlag = 0;
        InflateRec.CompressMethod = 0;
        const TTarEntry* content = ContentOf(e);
        InflateRec.PackedSize = InflateRec.UnpackedSize = e.IsDir()                    ? 0
                                                          : e.IsHardLink()              ? (content ? content->FileSize() : 0)
                                                          : e.IsLink()                 ? static_cast<std::int64_t>(e.LinkName.size())
                                                                                        : e.FileSize();
        EntryDosDate = e.HasMTime ? DosDateOf(e) : ArchiveDate;
        OpenAndExtractFile(in, out, e);
    }
}

bool TUnTar::OpenAndExtractFile(TStream32* in, TStream32* out, const TTarEntry& e)
{
    if (e.IsDir()) {
        if (UseStoredDirs && !FilenameRefused) {
            TEntryStamp stamp;
            if (e.HasMTime)
                stamp.Time = UnixTime(e.MTime, e.MTimeNs);
            stamp.Mode = e.Mode;
            NoteFolderStamp(Filename, stamp);
        }
        if (FileAccessMethod == faFile && CreateStoredDirs && UseStoredDirs && !FilenameRefused)
            CreateDirEx(Filename);
        return true;
    }
    if (FilenameRefused) {
        AdjustProgress(InflateRec);
        ForceCrcFail = true;
        return doOnEnd(32, 0);
    }
    if (!doOnBegin(false)) {
        AdjustProgress(InflateRec);
        return false;
    }
    const TTarEntry* content = ContentOf(e);
    const std::string& where = FileAccessMethod == faFile ? Filename : StoredName;
    if (!content || (content->Sparse && content->SparseBad)) {
        // Nothing to write: a link to no member, or a map that cannot hold.
        if (!content)
            RaiseErrorStr(where, "hard link to " + e.LinkName + ", which the archive does not hold before it", VolumeName,
                          E_FILENOTFOUND);
        else
            RaiseErrorStr(where, "its sparse map does not fit its data", VolumeName, E_BADHEADR);
        FailEntry(InflateRec);
        return doOnEnd(32, 0);
    }
    TStream32* outStream = out;
    bool good = false;
    try {
        Crc32Val = CRC_MASK;
        if (!RoomForEntry(InflateRec.UnpackedSize)) {
            FailEntry(InflateRec);
        } else if (!Open_OutFile(outStream, Filename, StoredName)) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        } else {
            BeginEntryOutput(InflateRec.UnpackedSize);
            std::int64_t left = 0;
            if (e.IsLink() && !e.IsHardLink()) {
                // A symbolic link is written as a file holding its target's name.
                WriteBlockProc(outStream, const_cast<char*>(e.LinkName.data()), false, 32,
                               static_cast<std::int32_t>(e.LinkName.size()), dtData);
                RemainingUnpackedSize -= std::min<std::int64_t>(static_cast<std::int64_t>(e.LinkName.size()),
                                                                std::max<std::int64_t>(RemainingUnpackedSize, 0));
            } else {
                left = CopyContent(in, outStream, *content);
            }
            good = left == 0 && EntrySizeAgrees(true) && !EntryWriteFailed && !DiskFull && !GetCancel();
            if (good) {
                TEntryStamp stamp;
                if (e.HasMTime)
                    stamp.Time = UnixTime(e.MTime, e.MTimeNs);
                if (!e.IsLink() || e.IsHardLink())
                    stamp.Mode = e.Mode;
                CloseAndSetDate(outStream, Filename, EntryDosDate, 0, stamp);
            } else {
                FailEntry(InflateRec);
                DiscardOutput(outStream, Filename);
            }
        }
    } catch (...) {
        good = false;
        ForceCrcFail = true;
        EndEntryOutput(outStream, out, true);
    }
    EndEntryOutput(outStream, out, false);
    // TAR keeps no CRC of the data: the entry passes when it was copied whole.
    if (!good)
        ForceCrcFail = true;
    return doOnEnd(32, Crc32Val);
}

bool TUnTar::WriteHole(TStream32*& outStream, std::int64_t length)
{
    if (length <= 0)
        return true;
    // A file gets a hole: the position moves on and the file system keeps
    // no blocks for it. Other targets get the zeros.
    if (FileAccessMethod == faFile && outStream && length <= EntryLimit - EntryWritten) {
        const std::int64_t at = outStream->Position();
        if (outStream->Seek(length, soCurrent) == at + length) {
            EntryWritten += length;
            RemainingUnpackedSize -= std::min(length, std::max<std::int64_t>(RemainingUnpackedSize, 0));
            return true;
        }
    }
    static const std::vector<std::uint8_t> zeros(65536, 0);
    while (length > 0 && !EntryWriteFailed && !GetCancel()) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(length, static_cast<std::int64_t>(zeros.size())));
        WriteBlockProc(outStream, const_cast<std::uint8_t*>(zeros.data()), false, 32, n, dtData);
        RemainingUnpackedSize -= std::min<std::int64_t>(n, std::max<std::int64_t>(RemainingUnpackedSize, 0));
        length -= n;
    }
    return length == 0;
}

std::int64_t TUnTar::CopyContent(TStream32* in, TStream32*& outStream, const TTarEntry& content)
{
    if (!content.Sparse) {
        if (in->Seek(content.DataOffset, soBeginning) != content.DataOffset)
            return InflateRec.UnpackedSize;
        TInflateRec rec = InflateRec;
        rec.PackedSize = rec.UnpackedSize = content.Size;
        return Unstore(in, outStream, 32, rec);
    }
    // The segments' bytes follow one another in the data; between them and
    // after the last the file has holes up to its real size.
    std::int64_t at = 0, from = content.SegmentsOffset;
    for (const TTarSegment& seg : content.Segments) {
        if (!WriteHole(outStream, seg.Offset - at) || in->Seek(from, soBeginning) != from)
            return content.RealSize - at;
        TInflateRec rec = InflateRec;
        rec.PackedSize = rec.UnpackedSize = seg.Size;
        const std::int64_t left = Unstore(in, outStream, 32, rec);
        at = seg.Offset + seg.Size - left;
        if (left != 0 || EntryWriteFailed || GetCancel())
            return content.RealSize - at;
        from += seg.Size;
    }
    if (at < content.RealSize) {
        // A hole at the end: the file is given its full length.
        if (FileAccessMethod == faFile && outStream) {
            if (!WriteHole(outStream, content.RealSize - at - 1))
                return content.RealSize - at;
            std::uint8_t zero = 0;
            WriteBlockProc(outStream, &zero, false, 32, 1, dtData);
            RemainingUnpackedSize -= std::min<std::int64_t>(1, std::max<std::int64_t>(RemainingUnpackedSize, 0));
        } else if (!WriteHole(outStream, content.RealSize - at)) {
            return content.RealSize - at;
        }
    }
    return 0;
}
