#include "archive/zaduntar.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"

#include <algorithm>

namespace {

std::int32_t DosDateOf(std::int64_t unixSeconds)
{
    const auto s = static_cast<std::int32_t>(std::clamp<std::int64_t>(unixSeconds, 0, INT32_MAX));
    return DateTimeToDosDateTime(UnixDateToDos(s));
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
        if (BuildHeadArray(&in) > 0)
            ProcessHeaders(&in, outStream);
    } catch (...) {
        // The count so far stands.
    }
    m_entries.clear();
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
        if (!CheckWildCard2(this, e.Name, FileSpec, RecurseDirs, &ExcludeSpec))
            continue;
        TUnBaseFileInfo info;
        info.HeaderOffset = e.HeaderOffset;
        info.ExternalAttr = e.IsDir() ? 16 : 128;
        HeaderList->AddItem(info, nullptr, 0);
        MaxFileDate = std::max(MaxFileDate, DosDateOf(e.MTime));
        const std::int64_t size = e.IsDir() ? 0 : e.IsLink() ? static_cast<std::int64_t>(e.LinkName.size()) : e.Size;
        TotalPackedSize = SaturatedAdd(TotalPackedSize, size);
        TotalUnpackedSize = SaturatedAdd(TotalUnpackedSize, size);
        m_entries.push_back(e);
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
        InflateRec.PackedSize = InflateRec.UnpackedSize =
            e.IsDir() ? 0 : e.IsLink() ? static_cast<std::int64_t>(e.LinkName.size()) : e.Size;
        EntryDosDate = DosDateOf(e.MTime);
        OpenAndExtractFile(in, out, e);
    }
}

bool TUnTar::OpenAndExtractFile(TStream32* in, TStream32* out, const TTarEntry& e)
{
    if (e.IsDir()) {
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
            if (e.IsLink()) {
                // A link is written as a file holding its target's name.
                WriteBlockProc(outStream, const_cast<char*>(e.LinkName.data()), false, 32,
                               static_cast<std::int32_t>(e.LinkName.size()), dtData);
                RemainingUnpackedSize -= static_cast<std::int64_t>(e.LinkName.size());
            } else if (in->Seek(e.DataOffset, soBeginning) == e.DataOffset) {
                left = Unstore(in, outStream, 32, InflateRec);
            } else {
                left = InflateRec.UnpackedSize;
            }
            good = left == 0 && EntrySizeAgrees(true) && !EntryWriteFailed && !DiskFull && !GetCancel();
            if (good) {
                CloseAndSetDate(outStream, Filename, EntryDosDate, 0);
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
