// OLE data transfer: data objects, clipboard formats, the OLE clipboard and
// drag and drop, over Qt's clipboard and drag and drop.
//
// A clipboard format travels between programs as a MIME type (see
// oleformats.cpp for the table): CF_TEXT is text/plain, CF_HDROP is
// text/uri-list, our own registered names are application/x-vistrel- plus
// the name, and a foreign MIME type without a row of the table is a format
// registered under its own name. A data object of ours is offered to Qt as a
// QMimeData that renders a format only when someone reads it; a QMimeData of
// another program is read through a data object over it.
#pragma once

#include "gdi/metafile.h"
#include "gdi/wingdi.h"
#include "win/globalmem.h"
#include "win/unknwn.h"
#include "win/wintypes.h"

#include "vcl/messages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using CLIPFORMAT = WORD;
using HDROP = HGLOBAL;

// Standard clipboard formats.
constexpr CLIPFORMAT CF_TEXT = 1, CF_BITMAP = 2, CF_METAFILEPICT = 3, CF_SYLK = 4, CF_DIF = 5, CF_TIFF = 6,
                     CF_OEMTEXT = 7, CF_DIB = 8, CF_PALETTE = 9, CF_PENDATA = 10, CF_RIFF = 11, CF_WAVE = 12,
                     CF_UNICODETEXT = 13, CF_ENHMETAFILE = 14, CF_HDROP = 15, CF_LOCALE = 16;
// Registered formats are numbered from here.
constexpr UINT kFirstRegisteredFormat = 0xC000;

constexpr DWORD DVASPECT_CONTENT = 1, DVASPECT_THUMBNAIL = 2, DVASPECT_ICON = 4, DVASPECT_DOCPRINT = 8;
constexpr DWORD TYMED_NULL = 0, TYMED_HGLOBAL = 1, TYMED_FILE = 2, TYMED_ISTREAM = 4, TYMED_ISTORAGE = 8,
                TYMED_GDI = 16, TYMED_MFPICT = 32, TYMED_ENHMF = 64;
constexpr DWORD DATADIR_GET = 1, DATADIR_SET = 2;

constexpr DWORD DROPEFFECT_NONE = 0, DROPEFFECT_COPY = 1, DROPEFFECT_MOVE = 2, DROPEFFECT_LINK = 4;
// Added to a target's answer while it scrolls under the drag.
constexpr DWORD DROPEFFECT_SCROLL = 0x80000000;
// Key-state bits of drag and drop.
constexpr DWORD MK_LBUTTON = 0x1, MK_RBUTTON = 0x2, MK_SHIFT = 0x4, MK_CONTROL = 0x8, MK_MBUTTON = 0x10,
                MK_ALT = 0x20;

constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
constexpr HRESULT DV_E_STGMEDIUM = static_cast<HRESULT>(0x80040066u);
constexpr HRESULT DV_E_LINDEX = static_cast<HRESULT>(0x80040068u);
constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
constexpr HRESULT DV_E_CLIPFORMAT = static_cast<HRESULT>(0x8004006Au);
constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006Bu);
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003u);
constexpr HRESULT DATA_S_SAMEFORMATETC = 0x00040130;
constexpr HRESULT CLIPBRD_E_CANT_OPEN = static_cast<HRESULT>(0x800401D0u);
constexpr HRESULT CLIPBRD_E_CANT_SET = static_cast<HRESULT>(0x800401D2u);
constexpr HRESULT DRAGDROP_E_NOTREGISTERED = static_cast<HRESULT>(0x80040100u);
constexpr HRESULT DRAGDROP_E_ALREADYREGISTERED = static_cast<HRESULT>(0x80040101u);
constexpr HRESULT DRAGDROP_E_INVALIDHWND = static_cast<HRESULT>(0x80040102u);
constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;

inline constexpr GUID IID_IEnumFORMATETC = {0x00000103, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct DVTARGETDEVICE;
class IAdviseSink;
class IEnumSTATDATA;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex;
    DWORD tymed;
};

struct STGMEDIUM {
    DWORD tymed;
    union {
        HBITMAP hBitmap;
        HANDLE hMetaFilePict;  // a global block holding a METAFILEPICT
        HENHMETAFILE hEnhMetaFile;
        HGLOBAL hGlobal;
    };
    IUnknown* pUnkForRelease;
};

struct POINTL {
    LONG x;
    LONG y;
};

class IEnumFORMATETC : public IUnknown {
public:
    virtual HRESULT Next(ULONG count, FORMATETC* items, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFORMATETC** out) = 0;
};

class IDataObject : public IUnknown {
public:
    virtual HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT GetDataHere(const FORMATETC* format, STGMEDIUM* medium) = 0;
    virtual HRESULT QueryGetData(const FORMATETC* format) = 0;
    virtual HRESULT GetCanonicalFormatEtc(const FORMATETC* in, FORMATETC* out) = 0;
    virtual HRESULT SetData(const FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
    virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) = 0;
    virtual HRESULT DAdvise(const FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) = 0;
    virtual HRESULT DUnadvise(DWORD connection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** out) = 0;
};

class IDropSource : public IUnknown {
public:
    virtual HRESULT QueryContinueDrag(BOOL escapePressed, DWORD keyState) = 0;
    virtual HRESULT GiveFeedback(DWORD effect) = 0;
};

class IDropTarget : public IUnknown {
public:
    virtual HRESULT DragEnter(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) = 0;
    virtual HRESULT DragOver(DWORD keyState, POINTL point, DWORD* effect) = 0;
    virtual HRESULT DragLeave() = 0;
    virtual HRESULT Drop(IDataObject* data, DWORD keyState, POINTL point, DWORD* effect) = 0;
};

// The dropped-files block of CF_HDROP: this header, then the names (UTF-8
// paths here), each ending in a zero byte, and one more zero byte.
struct DROPFILES {
    DWORD pFiles;  // offset of the first name
    POINTL pt;
    BOOL fNC;
    BOOL fWide;
};
static_assert(sizeof(DROPFILES) == 20, "DROPFILES is 20 bytes");

// ---- OLE for the thread: counted; S_FALSE when it already was.
HRESULT OleInitialize(void* reserved);
void OleUninitialize();

// ---- media
// Frees what the medium holds (its pUnkForRelease is released instead when
// set) and clears it.
void ReleaseStgMedium(STGMEDIUM* medium);

// ---- clipboard format names
// The number of a format name, the same for the life of the program; from
// 0xC000 on. 0 for an empty or missing name.
UINT RegisterClipboardFormatA(const char* name);
// Copies a registered format's name (cut to size - 1 bytes and ended with a
// zero byte); the bytes copied, 0 for a standard or unknown format.
int GetClipboardFormatNameA(UINT format, char* name, int size);

// ---- dropped files
// With index 0xFFFFFFFF the number of files; with a null buffer the length
// of a name; otherwise copies the name (cut to size - 1 bytes) and answers
// the bytes copied. 0 for a damaged block or an index past the end.
UINT DragQueryFileA(HDROP drop, UINT index, char* file, UINT size);
// The CF_HDROP block of a list of names, built name by name straight into
// the block (names one after another, each ended by a zero byte): a list
// of many names costs no string for each one and no copy at the end.
class TDropNames {
public:
    explicit TDropNames();
    explicit TDropNames(const std::vector<std::string>& names);
    ~TDropNames();
    TDropNames(TDropNames&& other) noexcept;
    TDropNames(const TDropNames&) = delete;
    TDropNames& operator=(const TDropNames&) = delete;
    TDropNames& operator=(TDropNames&&) = delete;

    // Room for that many bytes of names (with their zero bytes), so that a
    // long list does not grow step by step.
    void Reserve(std::size_t bytes);
    // Appends one name made of a folder part and a name part.
    void Add(std::string_view folder, std::string_view name);
    std::size_t Count() const { return m_count; }
    // The block, sized to the names, for the caller to own; null when
    // memory ran short. The list is empty afterwards.
    HGLOBAL TakeBlock();

private:
    bool Grow(std::size_t needed);
    HGLOBAL m_block = nullptr;
    std::size_t m_used = 0;
    std::size_t m_count = 0;
    bool m_failed = false;
};
// A new CF_HDROP block of the names, sized from them (any length); null
// when memory is short.
HGLOBAL DropFilesBlock(const std::vector<std::string>& names);
// The names of a CF_HDROP block, read within the block: a damaged header or
// a name without its zero byte ends the list.
std::vector<std::string> NamesOfDropFiles(const std::uint8_t* block, std::size_t size);

// ---- the clipboard
// Offers the object on the system clipboard; each format is rendered only
// when a program reads it. A null object empties the clipboard.
HRESULT OleSetClipboard(IDataObject* data);
// Our own object while it is the clipboard's, else an object over what
// another program offers. CLIPBRD_E_CANT_OPEN without a window system.
HRESULT OleGetClipboard(IDataObject** data);
// S_OK when the object is the one on the clipboard now, else S_FALSE.
HRESULT OleIsCurrentClipboard(IDataObject* data);
// Renders every format of our object into plain data that stays on the
// clipboard after the object is gone (a clipboard manager keeps it beyond
// the program's end), and lets the object go.
HRESULT OleFlushClipboard();

// ---- drag and drop
// Runs the drag loop through the current drag driver: DRAGDROP_S_DROP with
// the effect the target performed, DRAGDROP_S_CANCEL, or a failure.
HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect);
// Makes the target receive the drags over a control's window.
HRESULT RegisterDragDrop(HWND window, IDropTarget* target);
HRESULT RevokeDragDrop(HWND window);
// A strong external reference (lock) or its end (unlock).
HRESULT CoLockObjectExternal(IUnknown* object, BOOL lock, BOOL lastUnlockReleases);

// The drag loop. The program's driver is Qt's (QDrag::exec); tests put a
// scripted one in its place, since Qt's offscreen platform ends every drag
// at once.
class TDragDriver {
public:
    virtual ~TDragDriver() = default;
    virtual HRESULT Run(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect) = 0;
};
// Replaces the driver and returns the previous one; null puts Qt's back.
std::unique_ptr<TDragDriver> SetDragDriver(std::unique_ptr<TDragDriver> driver);
// The target registered for the shown window under a screen point (the
// innermost one), or null; a driver hands the drag to it.
IDropTarget* RegisteredDropTargetAt(POINTL screen);
