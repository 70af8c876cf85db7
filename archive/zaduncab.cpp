#include "zaduncab.h"

#include "archive/zadcabgbls.h"
#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "archive/zadrecords.h"
#include "archive/zadvolume.h"
#include "cabinet/fdi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

constexpr int E_CORRUPTINPUT = 25140;
constexpr int E_CABINETERROR = 25116;
constexpr int E_CLOSEERR = 25138;
constexpr int E_FIRSTCABINET = 25901;
constexpr int E_NOTOFTHISSET = 25904;

// The components inside a library call (the callbacks serve the top one).
std::vector<TUnCab*> g_stack;

struct Pushed {
    explicit Pushed(TUnCab* c) { g_stack.push_back(c); }
    ~Pushed() { g_stack.pop_back(); }
};

TUnCab* Top() { return g_stack.empty() ? nullptr : g_stack.back(); }

TStreamCabinetFileHandler& Handler() { return CabinetFileHandler(); }

}  // namespace

struct TUnCab::TState {
    HFDI Context = nullptr;
    ERF Error;
    TStream32* Out = nullptr;
    // Where each cabinet the library opened starts in its file: one that
    // follows a stub is read as if it started at the stub's end.
    std::map<INT_PTR, std::int64_t> Bases;
    // Kept from the first cabinet-information notification of a pass.
    bool KeepInfo = false;
    std::string NextCabinet, NextDisk, CabinetPath;
    bool Counting = false;
    std::int64_t EntrySize = 0;
    std::int32_t EntryDate = 0;
    bool Decoding = false;
};

namespace {

// The start of the cabinet open as hf; -1 for a handle this run does not know.
std::int64_t BaseOf(INT_PTR hf)
{
    TUnCab* c = Top();
    if (!c)
        return -1;
    auto it = c->State->Bases.find(hf);
    return it == c->State->Bases.end() ? -1 : it->second;
}

void* FdiAlloc(ULONG n) { return StdFciAlloc(n); }
void FdiFree(void* p) { StdFciFree(p); }

INT_PTR FdiOpen(char* name, int oflag, int pmode)
{
    TUnCab* c = Top();
    if (!c)
        return -1;
    int err = 0;
    const INT_PTR hf = Handler().Open(name, oflag, 0, err, pmode);
    if (hf == -1 || err != 0)
        return -1;
    // Only the archive itself sits behind a stub; the other cabinets of a
    // set start at their first byte.
    const std::int64_t base = SameText(name, c->ArchiveFile()) ? std::max<std::int64_t>(c->ArchiveStartOffset, 0) : 0;
    if (Handler().Seek(hf, static_cast<std::int32_t>(base), 0, err) != base || err != 0) {
        Handler().Close(hf, err);
        return -1;
    }
    c->State->Bases[hf] = base;
    return hf;
}

UINT FdiRead(INT_PTR hf, void* buf, UINT n)
{
    if (BaseOf(hf) < 0)
        return static_cast<UINT>(-1);
    int err = 0;
    return static_cast<UINT>(Handler().Read(hf, buf, n, err));
}

UINT FdiWrite(INT_PTR, void* buf, UINT n)
{
    TUnCab* c = Top();
    if (!c || !c->State->Decoding)
        return static_cast<UINT>(-1);
    const std::int64_t before = c->EntryWritten;
    c->ExtractWriteProc(c->State->Out, buf, false, 32, static_cast<std::int32_t>(n), dtData);
    const std::int64_t put = c->EntryWritten - before;
    c->RemainingUnpackedSize -= std::min<std::int64_t>(put, c->RemainingUnpackedSize);
    c->doBranchProgress(std::min(c->EntryWritten, c->State->EntrySize), c->State->EntrySize, c->TotalUnpackedSize);
    ProcessMessages();
    if (c->EntryWriteFailed || c->GetCancel())
        return static_cast<UINT>(-1);
    return n;
}

int FdiClose(INT_PTR hf)
{
    TUnCab* c = Top();
    if (!c || !c->State->Bases.erase(hf))
        return -1;
    int err = 0;
    Handler().Close(hf, err);
    return err;
}

// Positions are the cabinet's own: an absolute one is moved past the stub.
long FdiSeek(INT_PTR hf, long dist, int type)
{
    const std::int64_t base = BaseOf(hf);
    if (base < 0)
        return -1;
    const std::int64_t target = type == 0 ? base + dist : dist;
    if (target < INT32_MIN || target > INT32_MAX)
        return -1;
    int err = 0;
    const std::int32_t at = Handler().Seek(hf, static_cast<std::int32_t>(target), type, err);
    return err != 0 || at < base ? -1 : static_cast<long>(at - base);
}

std::string NameOf(const char* raw, WORD attributes, bool translate)
{
    const std::string name = raw ? raw : "";
    // Attribute 0x80 marks a UTF-8 name.
    return (attributes & 0x80) ? DOSToUnixFilename(name) : _OemToCharFilter(name, translate);
}

INT_PTR Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n)
{
    auto* c = static_cast<TUnCab*>(n->pv);
    if (!c)
        return -1;
    Pushed pushed(c);
    TUnCab::TState& s = *c->State;
    bool abort = false;
    if (s.Counting) {
        if (c->GetCancel())
            return -1;
        if (type == fdintCOPY_FILE) {
            const std::string name = NameOf(n->psz1, n->attribs, c->TranslateOemChar);
            if (CheckWildCard2(c, name, c->FileSpec, c->RecurseDirs, &c->ExcludeSpec)) {
                c->TotalPackedSize += n->cb;
                c->TotalUnpackedSize += n->cb;
                const std::int32_t dos = static_cast<std::int32_t>((static_cast<std::uint32_t>(n->date) << 16) | n->time);
                if (static_cast<std::uint32_t>(dos) > static_cast<std::uint32_t>(c->MaxFileDate))
                    c->MaxFileDate = dos;
            }
        }
        return 0;
    }
    switch (type) {
    case fdintCABINET_INFO:
        c->DoCabinetInfo(n->psz1 ? n->psz1 : "", n->psz2 ? n->psz2 : "", n->psz3 ? n->psz3 : "", n->setID, n->iCabinet, abort);
        break;
    case fdintCOPY_FILE:
        if (c->GetCancel())
            return -1;
        return c->DoExtractFile(NameOf(n->psz1, n->attribs, c->TranslateOemChar), n->cb, n->date, n->time, n->attribs) ? 1 : 0;
    case fdintCLOSE_FILE_INFO:
        c->DoCloseOutFile(n->fdie == FDIERROR_NONE, n->date, n->time, n->attribs, abort);
        return abort ? 0 : 1;
    case fdintNEXT_CABINET: {
        std::string name = n->psz1 ? n->psz1 : "";
        std::string path = n->psz3 ? n->psz3 : "";
        c->DoNextCabinet(name, path, abort);
        if (!abort) {
            std::snprintf(n->psz1, CB_MAX_CABINET_NAME, "%s", name.c_str());
            std::snprintf(n->psz3, CB_MAX_CAB_PATH, "%s", path.c_str());
        }
        break;
    }
    default: break;
    }
    return (abort || c->GetCancel()) ? -1 : 0;
}

}  // namespace

TStreamCabinetFileHandler& CabinetFileHandler()
{
    // The files the library opens, for every cabinet extraction of the process.
    static TStreamCabinetFileHandler handler;
    return handler;
}

TUnCab::TUnCab(TComponent* owner) : TUnBase(owner), State(std::make_unique<TState>()) {}

TUnCab::~TUnCab()
{
    if (State->Context)
        FDIDestroy(State->Context);
}

bool TUnCab::SupportsType(TArcType type) const { return type == atCab || type == atCabExe; }

bool TUnCab::ContextNeeded()
{
    if (!State->Context) {
        Pushed pushed(this);
        State->Context = FDICreate(FdiAlloc, FdiFree, FdiOpen, FdiRead, FdiWrite, FdiClose, FdiSeek,
                                   static_cast<int>(CpuType) - 1, &State->Error);
    }
    return CabCheck(State->Context != nullptr);
}

bool TUnCab::CabCheck(bool ok)
{
    if (ok || !State->Error.fError)
        return ok;
    switch (State->Error.erfOper) {
    case FDIERROR_USER_ABORT: break;  // the user's own stop
    case FDIERROR_CORRUPT_CABINET:
    case FDIERROR_NOT_A_CABINET: RaiseErrorStr(ArchiveFile(), StoredName, VolumeName, E_CORRUPTINPUT); break;
    case FDIERROR_CABINET_NOT_FOUND: RaiseErrorStr(VolumeName, "", VolumeName, E_OPENERR); break;
    default: {
        // Said before it ends the run, which no one would hear of otherwise.
        const ECabinetError error(State->Error.erfOper, State->Error.erfType);
        RaiseErrorStr(ArchiveFile(), error.Message(), VolumeName, E_CABINETERROR);
        RaiseCabinetError(State->Error.erfOper, State->Error.erfType);
    }
    }
    return false;
}

bool TUnCab::IsCabinet(const std::string& fileName)
{
    if (!ContextNeeded())
        return false;
    Pushed pushed(this);
    const INT_PTR hf = FdiOpen(const_cast<char*>(fileName.c_str()), _O_BINARY, 0);
    if (hf == -1) {
        RaiseErrorStr(fileName, "", VolumeName, E_OPENERR);
        return false;
    }
    FDICABINETINFO info;
    bool result = false;
    try {
        result = FDIIsCabinet(State->Context, hf, &info);
    } catch (...) {
        FdiClose(hf);
        throw;
    }
    if (FdiClose(hf) != 0) {
        RaiseErrorStr(fileName, "", VolumeName, E_CLOSEERR);
        return false;
    }
    return result;
}

void TUnCab::BuildRecoveryHeadArray(const std::string& cabinetFile)
{
    State->Counting = true;
    State->KeepInfo = false;
    Pushed pushed(this);
    const BOOL ok = FDICopy(State->Context, ExtractFileName(cabinetFile).c_str(), ExtractFilePath(cabinetFile).c_str(), 0,
                            Notify, nullptr, this);
    State->Counting = false;
    CabCheck(ok);
    RemainingUnpackedSize = TotalUnpackedSize;
}

std::string TUnCab::FirstCabinetOfSet(const std::string& cabinet)
{
    // Back along the previous-cabinet names (each only a file-name part, in
    // the set's folder) while each names this one as its next, in one set.
    std::string current = cabinet;
    std::string seen = "|" + ExtractFileName(current) + "|";
    for (;;) {
        TFileStream32 file(current, fmOpenRead | fmShareDenyWrite);
        const std::int64_t start = SameText(current, ArchiveFile()) ? std::max<std::int64_t>(ArchiveStartOffset, 0) : 0;
        TCabinetSetInfo info;
        if (!file.Valid() || !ReadCabinetSetInfo(file, start, file.Size(), info) || !info.HasPrevious())
            return current;
        const std::string previous = HeaderVolumeName(current, info.PrevCabinet);
        if (previous.empty() || seen.find("|" + ExtractFileName(previous) + "|") != std::string::npos)
            return current;
        TFileStream32 prevFile(previous, fmOpenRead | fmShareDenyWrite);
        TCabinetSetInfo prev;
        if (!prevFile.Valid()) {
            // Files that begin in the missing part cannot be decoded: said once.
            RaiseErrorStr(ArchiveFile(), "the set begins in " + ExtractFileName(previous) + ", which is not there",
                          VolumeName, E_FIRSTCABINET);
            return current;
        }
        if (!ReadCabinetSetInfo(prevFile, 0, prevFile.Size(), prev) || prev.SetId != info.SetId ||
            !SameText(ExtractFileName(HeaderVolumeName(previous, prev.NextCabinet)), ExtractFileName(current))) {
            RaiseErrorStr(previous, "", VolumeName, E_NOTOFTHISSET);
            return current;
        }
        seen += ExtractFileName(previous) + "|";
        current = previous;
    }
}

void TUnCab::_Extract(TStream32*&, TStream32*)
{
    Crc32Val = 0xFFFFFFFFu;
    if (!FileExists(ArchiveFile()) || !IsCabinet(ArchiveFile()))
        return;
    // A cabinet that continues an earlier one of its set is extracted from
    // the set's first cabinet, as the files that run into it begin there.
    std::string cabinet = FirstCabinetOfSet(ArchiveFile());
    BuildRecoveryHeadArray(cabinet);
    std::string seen = "|" + ExtractFileName(cabinet) + "|";
    for (;;) {
        State->KeepInfo = true;
        State->NextCabinet.clear();
        VolumeName = cabinet;
        BOOL ok = FALSE;
        {
            Pushed pushed(this);
            ok = FDICopy(State->Context, ExtractFileName(cabinet).c_str(), ExtractFilePath(cabinet).c_str(), 0, Notify,
                         nullptr, this);
        }
        CabCheck(ok);
        if (State->Error.fError)
            SetCancel(true);
        if (GetCancel() || State->NextCabinet.empty())
            break;
        // Only the file-name part, in the set's folder; a set that names a
        // cabinet twice ends there.
        std::string next = HeaderVolumeName(cabinet, State->NextCabinet);
        if (next.empty() || seen.find("|" + ExtractFileName(next) + "|") != std::string::npos)
            break;
        if (!GetNextVolume(next, VolumeNumber + 1, true))
            break;
        seen += ExtractFileName(next) + "|";
        cabinet = next;
        TotalPackedSize = TotalUnpackedSize = 0;
        BuildRecoveryHeadArray(cabinet);
    }
}

void TUnCab::DoCabinetInfo(const std::string& nextCabinet, const std::string& nextDisk, const std::string& cabinetPath,
                           int, int, bool& abort)
{
    if (State->KeepInfo) {
        State->NextCabinet = nextCabinet;
        State->NextDisk = nextDisk;
        State->CabinetPath = cabinetPath;
        State->KeepInfo = false;
    }
    abort = false;
}

bool TUnCab::DoExtractFile(const std::string& storedName, std::int64_t size, WORD date, WORD time, WORD attributes)
{
    StoredName = storedName;
    if (attributes & 0x10)
        return false;  // folders come into being with their files
    if (!CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec) || GetCancel())
        return false;
    State->EntrySize = size;
    InflateRec = TInflateRec{};
    InflateRec.UnpackedSize = size;
    InflateRec.PackedSize = size;
    InflateRec.ProgressTotal = TotalUnpackedSize;
    State->EntryDate = static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
    EntryDosDate = State->EntryDate;
    FileDate = ConvertDate(State->EntryDate);
    SetFilename(StoredName);
    if (FilenameRefused) {
        // Reported by SetFilename: this file alone is passed over.
        AdjustProgress(InflateRec);
        return false;
    }
    if (!doOnBegin(attributes & 0x10)) {
        AdjustProgress(InflateRec);
        return false;
    }
    State->Out = nullptr;
    if (!Open_OutFile(State->Out, Filename, StoredName)) {
        RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
        FailEntry(InflateRec);
        doOnEnd(32, Crc32Val);
        return false;
    }
    Crc32Val = 0xFFFFFFFFu;
    BeginEntryOutput(size);
    State->Decoding = true;
    return true;
}

void TUnCab::DoCloseOutFile(bool decoded, WORD date, WORD time, WORD attributes, bool& abort)
{
    State->Decoding = false;
    const bool whole = decoded && EntrySizeAgrees(true) && !EntryWriteFailed && !DiskFull && !GetCancel();
    if (!decoded && !GetCancel())
        RaiseErrorStr(ArchiveFile(), StoredName, VolumeName, E_CORRUPTINPUT);
    if (!whole) {
        FailEntry(InflateRec);
        DiscardOutput(State->Out, Filename);
    } else {
        CloseAndSetDate(State->Out, Filename, static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time),
                        attributes);
    }
    if (FileAccessMethod == faFile)
        delete State->Out;
    State->Out = nullptr;
    BeginEntryOutput(-1);
    // The library checked the data; the verdict is whether it held.
    doOnEnd(32, Crc32Val);
    abort = GetCancel();
}

void TUnCab::DoNextCabinet(std::string& nextCabinet, std::string& cabinetPath, bool& abort)
{
    std::string name = HeaderVolumeName(ArchiveFile(), nextCabinet);
    if (name.empty() || !GetNextVolume(name, VolumeNumber + 1, true)) {
        abort = true;
        return;
    }
    VolumeName = name;
    nextCabinet = ExtractFileName(name);
    cabinetPath = ExtractFilePath(name);
    abort = false;
}
