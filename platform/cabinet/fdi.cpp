#include "fdi.h"

#include <mspack.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kContinuedFromPrev = 0xFFFD;
constexpr std::uint16_t kContinuedToNext = 0xFFFE;
constexpr std::uint16_t kContinuedBoth = 0xFFFF;

// Output files are named to libmspack by the caller's handle, behind a
// prefix no real path starts with.
constexpr char kOutputPrefix[] = "\x01" "fdi-output:";

struct Context {
    mspack_system sys;  // first: libmspack hands it back as its "self"
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    ERF* erf;
    mscab_decompressor* cabd = nullptr;
};

struct File {
    Context* ctx;
    INT_PTR hf;
    bool output;
};

Context* Of(mspack_system* self) { return reinterpret_cast<Context*>(self); }

mspack_file* SysOpen(mspack_system* self, const char* name, int mode)
{
    Context* c = Of(self);
    const size_t prefix = sizeof kOutputPrefix - 1;
    if (std::strncmp(name, kOutputPrefix, prefix) == 0) {
        const auto hf = static_cast<INT_PTR>(std::strtoll(name + prefix, nullptr, 10));
        return reinterpret_cast<mspack_file*>(new File{c, hf, true});
    }
    int oflag = _O_BINARY;
    switch (mode) {
    case MSPACK_SYS_OPEN_READ: oflag |= _O_RDONLY; break;
    case MSPACK_SYS_OPEN_WRITE: oflag |= _O_WRONLY | _O_CREAT; break;
    default: oflag |= _O_RDWR; break;
    }
    const INT_PTR hf = c->open(const_cast<char*>(name), oflag, 0);
    if (hf == -1)
        return nullptr;
    return reinterpret_cast<mspack_file*>(new File{c, hf, false});
}

void SysClose(mspack_file* f)
{
    auto* file = reinterpret_cast<File*>(f);
    // An output belongs to the caller, who closes it after fdintCLOSE_FILE_INFO.
    if (!file->output)
        file->ctx->close(file->hf);
    delete file;
}

int SysRead(mspack_file* f, void* buf, int n)
{
    auto* file = reinterpret_cast<File*>(f);
    const UINT got = file->ctx->read(file->hf, buf, static_cast<UINT>(n));
    return got == static_cast<UINT>(-1) ? -1 : static_cast<int>(got);
}

int SysWrite(mspack_file* f, void* buf, int n)
{
    auto* file = reinterpret_cast<File*>(f);
    const UINT put = file->ctx->write(file->hf, buf, static_cast<UINT>(n));
    return put == static_cast<UINT>(-1) ? -1 : static_cast<int>(put);
}

int SysSeek(mspack_file* f, off_t offset, int mode)
{
    auto* file = reinterpret_cast<File*>(f);
    const long at = file->ctx->seek(file->hf, static_cast<long>(offset), mode);
    if (at < 0)
        return 1;
    return (mode == MSPACK_SYS_SEEK_START && at != offset) ? 1 : 0;
}

off_t SysTell(mspack_file* f)
{
    auto* file = reinterpret_cast<File*>(f);
    return static_cast<off_t>(file->ctx->seek(file->hf, 0, MSPACK_SYS_SEEK_CUR));
}

void SysMessage(mspack_file*, const char*, ...) {}

// libmspack frees without naming its system, so its memory is always
// malloc's (the caller's allocator is kept for nothing else).
void* SysAlloc(mspack_system*, size_t n) { return std::malloc(n); }
void SysFree(void* p) { std::free(p); }
void SysCopy(void* src, void* dst, size_t n) { std::memmove(dst, src, n); }

void SetError(Context* c, FDIERROR e)
{
    if (!c->erf)
        return;
    c->erf->erfOper = e;
    c->erf->erfType = 0;
    c->erf->fError = e != FDIERROR_NONE;
}

FDIERROR FromMspack(int err)
{
    switch (err) {
    case MSPACK_ERR_OK: return FDIERROR_NONE;
    case MSPACK_ERR_OPEN: return FDIERROR_CABINET_NOT_FOUND;
    case MSPACK_ERR_SIGNATURE: return FDIERROR_NOT_A_CABINET;
    case MSPACK_ERR_NOMEMORY: return FDIERROR_ALLOC_FAIL;
    case MSPACK_ERR_WRITE: return FDIERROR_TARGET_FILE;
    default: return FDIERROR_CORRUPT_CABINET;
    }
}

// The folder index of every file entry of a cabinet, as stored (libmspack
// does not keep the marks of files that continue into a neighbour).
std::vector<std::uint16_t> RawFolderIndexes(Context* c, const std::string& path)
{
    std::vector<std::uint16_t> result;
    mspack_file* f = SysOpen(&c->sys, path.c_str(), MSPACK_SYS_OPEN_READ);
    if (!f)
        return result;
    std::uint8_t h[36];
    if (SysRead(f, h, 36) == 36 && std::memcmp(h, "MSCF", 4) == 0) {
        const std::uint32_t filesAt = h[16] | (h[17] << 8) | (h[18] << 16) | (static_cast<std::uint32_t>(h[19]) << 24);
        const int count = h[28] | (h[29] << 8);
        off_t pos = filesAt;
        for (int i = 0; i < count; ++i) {
            std::uint8_t e[16];
            if (SysSeek(f, pos, MSPACK_SYS_SEEK_START) != 0 || SysRead(f, e, 16) != 16)
                break;
            result.push_back(static_cast<std::uint16_t>(e[8] | (e[9] << 8)));
            // The name runs to its zero byte, at most 256 bytes on.
            char name[257];
            const int n = SysRead(f, name, sizeof name);
            const void* zero = n > 0 ? std::memchr(name, 0, static_cast<size_t>(n)) : nullptr;
            if (!zero)
                break;
            pos += 16 + (static_cast<const char*>(zero) - name) + 1;
        }
    }
    SysClose(f);
    return result;
}

bool FromPrevious(std::uint16_t i) { return i == kContinuedFromPrev || i == kContinuedBoth; }
bool ToNext(std::uint16_t i) { return i == kContinuedToNext || i == kContinuedBoth; }

USHORT DosDate(const mscabd_file* f)
{
    return static_cast<USHORT>(((f->date_y - 1980) << 9) | (f->date_m << 5) | f->date_d);
}

USHORT DosTime(const mscabd_file* f) { return static_cast<USHORT>((f->time_h << 11) | (f->time_m << 5) | (f->time_s / 2)); }

std::string Path(const char* dir, const char* name) { return std::string(dir ? dir : "") + (name ? name : ""); }

// The cabinets of one FDICopy, closed together.
struct OpenSet {
    mscab_decompressor* cabd;
    mscabd_cabinet* first = nullptr;
    std::vector<mscabd_cabinet*> unjoined;
    // libmspack keeps the name it opened a cabinet by, to open it again.
    std::list<std::string> names;
    ~OpenSet()
    {
        // A set is closed through its first cabinet.
        if (first)
            cabd->close(cabd, first);
        for (mscabd_cabinet* c : unjoined)
            cabd->close(cabd, c);
    }
};

}  // namespace

HFDI FDICreate(PFNALLOC alloc, PFNFREE free, PFNOPEN open, PFNREAD read, PFNWRITE write, PFNCLOSE close,
               PFNSEEK seek, int, ERF* perf)
{
    auto* c = new Context{};
    c->sys = mspack_system{SysOpen, SysClose, SysRead, SysWrite, SysSeek, SysTell, SysMessage, SysAlloc, SysFree,
                           SysCopy, nullptr};
    c->alloc = alloc;
    c->free = free;
    c->open = open;
    c->read = read;
    c->write = write;
    c->close = close;
    c->seek = seek;
    c->erf = perf;
    c->cabd = mspack_create_cab_decompressor(&c->sys);
    if (!c->cabd) {
        SetError(c, FDIERROR_ALLOC_FAIL);
        delete c;
        return nullptr;
    }
    return c;
}

BOOL FDIDestroy(HFDI hfdi)
{
    auto* c = static_cast<Context*>(hfdi);
    if (!c)
        return FALSE;
    mspack_destroy_cab_decompressor(c->cabd);
    delete c;
    return TRUE;
}

BOOL FDIIsCabinet(HFDI hfdi, INT_PTR hf, FDICABINETINFO* info)
{
    auto* c = static_cast<Context*>(hfdi);
    if (!c)
        return FALSE;
    std::uint8_t h[36];
    if (c->seek(hf, 0, MSPACK_SYS_SEEK_START) != 0 || c->read(hf, h, 36) != 36 || std::memcmp(h, "MSCF", 4) != 0)
        return FALSE;
    if (info) {
        const WORD flags = static_cast<WORD>(h[30] | (h[31] << 8));
        info->cbCabinet = static_cast<long>(h[8] | (h[9] << 8) | (h[10] << 16) | (static_cast<std::uint32_t>(h[11]) << 24));
        info->cFolders = static_cast<USHORT>(h[26] | (h[27] << 8));
        info->cFiles = static_cast<USHORT>(h[28] | (h[29] << 8));
        info->setID = static_cast<USHORT>(h[32] | (h[33] << 8));
        info->iCabinet = static_cast<USHORT>(h[34] | (h[35] << 8));
        info->fReserve = (flags & 0x04) != 0;
        info->hasprev = (flags & 0x01) != 0;
        info->hasnext = (flags & 0x02) != 0;
    }
    return TRUE;
}

BOOL FDICopy(HFDI hfdi, const char* pszCabinet, const char* pszCabPath, int, PFNFDINOTIFY notify, void*, void* pvUser)
{
    auto* c = static_cast<Context*>(hfdi);
    if (!c || !notify)
        return FALSE;
    SetError(c, FDIERROR_NONE);
    mscab_decompressor* cabd = c->cabd;
    std::string dir = pszCabPath ? pszCabPath : "";
    const std::string path = Path(dir.c_str(), pszCabinet);
    OpenSet set{cabd, nullptr, {}, {}};
    set.first = cabd->open(cabd, path.c_str());
    if (!set.first) {
        SetError(c, FromMspack(cabd->last_error(cabd)));
        return FALSE;
    }
    mscabd_cabinet* cab = set.first;
    const std::vector<std::uint16_t> raw = RawFolderIndexes(c, path);

    auto abort = [&]() {
        SetError(c, FDIERROR_USER_ABORT);
        return FALSE;
    };
    FDINOTIFICATION info{};
    info.pv = pvUser;
    info.psz1 = const_cast<char*>(cab->nextname ? cab->nextname : "");
    info.psz2 = const_cast<char*>(cab->nextinfo ? cab->nextinfo : "");
    info.psz3 = const_cast<char*>(dir.c_str());
    info.setID = cab->set_id;
    info.iCabinet = cab->set_index;
    if (notify(fdintCABINET_INFO, &info) == -1)
        return abort();

    // This cabinet's own files, as libmspack lists them before any join;
    // with the stored marks where the two lists agree.
    int ownCount = 0;
    for (mscabd_file* f = cab->files; f; f = f->next)
        ++ownCount;
    const bool marked = static_cast<int>(raw.size()) == ownCount;
    bool firstFolderContinued = false;
    bool spansOn = false;
    for (std::uint16_t i : raw) {
        firstFolderContinued = firstFolderContinued || FromPrevious(i);
        spansOn = spansOn || ToNext(i);
    }

    // A folder that goes on in the next cabinet needs it joined before any
    // of its files is decoded; the files after the one that runs over then
    // come with this cabinet.
    mscabd_folder* sharedFolder = nullptr;
    for (mscabd_folder* fo = cab->folders; fo; fo = fo->next)
        sharedFolder = fo;
    mscabd_cabinet* last = cab;
    auto join = [&]() -> bool {
        while (spansOn && last->nextname && (last->flags & MSCAB_HDR_NEXTCAB)) {
            char name[CB_MAX_CABINET_NAME] = {};
            char cabPath[CB_MAX_CAB_PATH] = {};
            std::snprintf(name, sizeof name, "%s", last->nextname);
            std::snprintf(cabPath, sizeof cabPath, "%s", dir.c_str());
            FDINOTIFICATION next{};
            next.pv = pvUser;
            next.psz1 = name;
            next.psz2 = const_cast<char*>(last->nextinfo ? last->nextinfo : "");
            next.psz3 = cabPath;
            next.setID = cab->set_id;
            next.iCabinet = static_cast<USHORT>(last->set_index + 1);
            if (notify(fdintNEXT_CABINET, &next) == -1) {
                SetError(c, FDIERROR_USER_ABORT);
                return false;
            }
            const std::string& nextPath = set.names.emplace_back(Path(cabPath, name));
            mscabd_cabinet* nextCab = cabd->open(cabd, nextPath.c_str());
            if (!nextCab) {
                SetError(c, FDIERROR_CABINET_NOT_FOUND);
                return false;
            }
            if (cabd->append(cabd, last, nextCab) != MSPACK_ERR_OK) {
                set.unjoined.push_back(nextCab);
                SetError(c, FDIERROR_WRONG_CABINET);
                return false;
            }
            spansOn = false;
            for (std::uint16_t i : RawFolderIndexes(c, nextPath))
                spansOn = spansOn || i == kContinuedBoth;
            last = nextCab;
        }
        return true;
    };
    // A join re-links the file list: files are found again by their place.
    auto fileAt = [&](int index) {
        mscabd_file* f = cab->files;
        for (int i = 0; f && i < index; ++i)
            f = f->next;
        return f;
    };

    for (int index = 0;; ++index) {
        mscabd_file* f = fileAt(index);
        if (!f)
            break;
        const bool own = index < ownCount;
        const std::uint16_t mark = own && marked ? raw[static_cast<size_t>(index)] : 0;
        if (own && marked && (FromPrevious(mark) || (firstFolderContinued && mark == 0)))
            continue;  // decoded with the cabinet its folder starts in
        if (!own && (last == cab || f->folder != sharedFolder))
            continue;
        FDINOTIFICATION copy{};
        copy.pv = pvUser;
        copy.cb = static_cast<long>(f->length);
        copy.psz1 = f->filename;
        copy.date = DosDate(f);
        copy.time = DosTime(f);
        copy.attribs = static_cast<USHORT>(f->attribs);
        copy.iFolder = mark;
        const INT_PTR hf = notify(fdintCOPY_FILE, &copy);
        if (hf == -1)
            return abort();
        if (hf == 0)
            continue;
        int err = MSPACK_ERR_OK;
        // The shared folder's data runs on into the next cabinet, so every
        // file in it needs the next cabinet joined before it is decoded.
        if (own && spansOn && f->folder == sharedFolder && last == cab) {
            if (!join()) {
                FDINOTIFICATION done = copy;
                done.hf = hf;
                done.fdie = static_cast<FDIERROR>(c->erf ? c->erf->erfOper : FDIERROR_CABINET_NOT_FOUND);
                notify(fdintCLOSE_FILE_INFO, &done);
                return FALSE;
            }
            f = fileAt(index);
        }
        const std::string target = kOutputPrefix + std::to_string(hf);
        err = cabd->extract(cabd, f, target.c_str());
        FDINOTIFICATION done = copy;
        done.psz1 = f->filename;
        done.hf = hf;
        done.cb = 0;
        done.fdie = FromMspack(err);
        if (notify(fdintCLOSE_FILE_INFO, &done) == 0)
            return abort();
    }
    return TRUE;
}
