#include "shldragdrop.h"

#include "rtl/sysutils.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// The bytes of a list up to and including its terminator.
std::size_t ListSize(LPCITEMIDLIST list)
{
    if (!list)
        return 2;
    const auto* p = reinterpret_cast<const BYTE*>(list);
    std::size_t size = 0;
    for (USHORT cb = ItemIdSize(p); cb != 0; cb = ItemIdSize(p + size))
        size += cb;
    return size + 2;
}

void PutDword(BYTE* at, std::uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        at[k] = static_cast<BYTE>(v >> (8 * k));
}

std::uint32_t GetDword(const BYTE* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8)
        | (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// Whether a list starting at the offset ends with its terminator inside
// the block.
bool ListFits(const BYTE* block, std::size_t size, std::size_t at)
{
    while (at + 2 <= size) {
        const USHORT cb = ItemIdSize(block + at);
        if (cb == 0)
            return true;
        if (cb < 2)
            return false;
        at += cb;
    }
    return false;
}

} // namespace

CLIPFORMAT ShellIdListFormat()
{
    static const CLIPFORMAT format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Shell IDList Array"));
    return format;
}

HRESULT BuildIdListArrayGlobal(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items, HGLOBAL* out)
{
    std::size_t bytes = 0;
    for (LPCITEMIDLIST item : items)
        bytes += ListSize(item);
    TIdListArrayBuilder builder(parent, items.size(), bytes);
    for (LPCITEMIDLIST item : items)
        builder.Add(item);
    *out = builder.TakeBlock();
    return *out ? S_OK : E_OUTOFMEMORY;
}

TIdListArrayBuilder::TIdListArrayBuilder(LPCITEMIDLIST parent, std::size_t maxCount, std::size_t bytesHint)
    : m_maxCount(maxCount)
{
    if (maxCount > std::numeric_limits<std::uint32_t>::max() / 8) {
        m_failed = true;
        return;
    }
    const std::size_t header = 4 * (maxCount + 2);
    m_block = GlobalAlloc(GMEM_MOVEABLE, header + ListSize(parent) + bytesHint);
    m_failed = !m_block;
    if (m_failed)
        return;
    m_used = header;
    Place(parent);
}

TIdListArrayBuilder::~TIdListArrayBuilder() { GlobalFree(m_block); }

void TIdListArrayBuilder::Add(LPCITEMIDLIST item)
{
    if (m_placed > m_maxCount)
        m_failed = true;
    else
        Place(item);
}

void TIdListArrayBuilder::Place(LPCITEMIDLIST list)
{
    if (m_failed)
        return;
    const std::size_t n = ListSize(list);
    if (m_used + n > std::numeric_limits<std::uint32_t>::max()) {
        m_failed = true;
        return;
    }
    if (m_used + n > GlobalSize(m_block)) {
        HGLOBAL grown = GlobalReAlloc(m_block, std::max(m_used + n, 2 * GlobalSize(m_block)), GMEM_MOVEABLE);
        if (!grown) {
            m_failed = true;
            return;
        }
        m_block = grown;
    }
    auto* p = static_cast<BYTE*>(GlobalLock(m_block));
    PutDword(p + 4 + 4 * m_placed, static_cast<std::uint32_t>(m_used));
    if (list) {
        std::memcpy(p + m_used, list, n);
    } else {
        p[m_used] = 0;  // the empty list: its terminator alone
        p[m_used + 1] = 0;
    }
    m_used += n;
    ++m_placed;
}

LPCITEMIDLIST TIdListArrayBuilder::ListOf(HGLOBAL block, std::size_t k)
{
    const auto* p = static_cast<const BYTE*>(GlobalLock(block));
    return reinterpret_cast<LPCITEMIDLIST>(p + GetDword(p + 4 + 4 * k));
}

HGLOBAL TIdListArrayBuilder::TakeBlock()
{
    if (m_failed)
        return nullptr;
    auto* p = static_cast<BYTE*>(GlobalLock(m_block));
    const std::size_t count = m_placed - 1;
    // Fewer items than the header had room for: the lists move down to the
    // end of the header that fits them, their offsets with them.
    const std::size_t gap = 4 * (m_maxCount - count);
    if (gap > 0) {
        const std::size_t lists = 4 * (m_maxCount + 2);
        std::memmove(p + lists - gap, p + lists, m_used - lists);
        for (std::size_t k = 0; k < m_placed; ++k)
            PutDword(p + 4 + 4 * k, GetDword(p + 4 + 4 * k) - static_cast<std::uint32_t>(gap));
        m_used -= gap;
    }
    PutDword(p, static_cast<std::uint32_t>(count));
    HGLOBAL block = GlobalReAlloc(m_block, m_used, GMEM_MOVEABLE);
    if (!block)
        return nullptr;
    m_block = nullptr;
    m_failed = true;
    return block;
}

HRESULT BuildHDropGlobal(const std::vector<std::string>& paths, HGLOBAL* out)
{
    *out = DropFilesBlock(paths);
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool ReadIdListArray(const BYTE* block, std::size_t size, ShellIdListArray& out)
{
    out = ShellIdListArray{};
    if (!block || size < 8)
        return false;
    const std::uint64_t count = GetDword(block);
    // Every item needs an offset and at least a terminator.
    if (count > (size - 8) / 6)
        return false;
    const std::size_t header = 4 * (static_cast<std::size_t>(count) + 2);
    std::vector<LPCITEMIDLIST> lists;
    lists.reserve(static_cast<std::size_t>(count) + 1);
    for (std::size_t k = 0; k <= count; ++k) {
        const std::size_t at = GetDword(block + 4 + 4 * k);
        if (at < header || !ListFits(block, size, at))
            return false;
        lists.push_back(reinterpret_cast<LPCITEMIDLIST>(block + at));
    }
    out.parent = lists[0];
    out.items.assign(lists.begin() + 1, lists.end());
    return true;
}

DWORD GetDataObjectEffects(IDataObject* data)
{
    constexpr DWORD all = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
    FORMATETC format{ShellIdListFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (!data || data->QueryGetData(&format) != S_OK || FAILED(data->GetData(&format, &medium)))
        return all;
    struct Release {
        STGMEDIUM& m;
        ~Release() { ReleaseStgMedium(&m); }
    } release{medium};
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return all;
    const auto* block = static_cast<const BYTE*>(GlobalLock(medium.hGlobal));
    struct Unlock {
        HGLOBAL h;
        ~Unlock() { GlobalUnlock(h); }
    } unlock{medium.hGlobal};
    ShellIdListArray lists;
    if (!ReadIdListArray(block, GlobalSize(medium.hGlobal), lists))
        return all;
    if (lists.items.empty())
        return all;
    TComPtr<IShellFolder> desktop;
    OleCheck(SHGetDesktopFolder(desktop.Out()));
    TComPtr<IShellFolder> folder;
    if (ItemIdSize(lists.parent) == 0)
        folder = desktop;
    else
        OleCheck(desktop->BindToObject(lists.parent, nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.Out())));
    ULONG attributes = SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK;
    OleCheck(folder->GetAttributesOf(static_cast<UINT>(lists.items.size()), lists.items.data(), &attributes));
    return all & attributes;
}

// ====================================================================== data object

namespace {
// The paths packed when every item has one; none otherwise.
TDropNames PathsOfEveryItem(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths)
        if (path.empty())
            return TDropNames();
    return TDropNames(paths);
}
} // namespace

TShellDataObject::TShellDataObject(LPCITEMIDLIST parent, const std::vector<LPCITEMIDLIST>& items,
                                   const std::vector<std::string>& paths)
    : TShellDataObject(PathsOfEveryItem(paths), parent, items)
{
}

TShellDataObject::TShellDataObject(TDropNames&& paths, LPCITEMIDLIST parent,
                                   const std::vector<LPCITEMIDLIST>& items)
{
    if (items.empty())
        return;
    // A block that cannot be had leaves its format out of the offer.
    if (BuildIdListArrayGlobal(parent, items, &m_idList) == S_OK)
        m_formats.push_back(ContentFormat(ShellIdListFormat()));
    if (paths.Count() == items.size() && (m_hdrop = paths.TakeBlock()))
        m_formats.push_back(ContentFormat(CF_HDROP));
}

TShellDataObject::TShellDataObject(TDropNames&& paths, HGLOBAL idListArray) : m_idList(idListArray)
{
    const std::size_t count = m_idList ? GetDword(static_cast<const BYTE*>(GlobalLock(m_idList))) : 0;
    if (count == 0)
        return;
    m_formats.push_back(ContentFormat(ShellIdListFormat()));
    if (paths.Count() == count && (m_hdrop = paths.TakeBlock()))
        m_formats.push_back(ContentFormat(CF_HDROP));
}

TShellDataObject::~TShellDataObject()
{
    GlobalFree(m_idList);
    GlobalFree(m_hdrop);
}

HGLOBAL TShellDataObject::BlockOf(CLIPFORMAT format) const
{
    if (format == CF_HDROP)
        return m_hdrop;
    return format == ShellIdListFormat() ? m_idList : nullptr;
}

// The index and the target device of a request are not compared.
HRESULT TShellDataObject::QueryGetData(const FORMATETC* format)
{
    if (!format)
        return E_INVALIDARG;
    if (format->dwAspect != DVASPECT_CONTENT)
        return DV_E_FORMATETC;
    bool seen = false;
    for (const FORMATETC& offered : m_formats)
        if (offered.cfFormat == format->cfFormat) {
            if (offered.tymed & format->tymed)
                return S_OK;
            seen = true;
        }
    return seen ? DV_E_TYMED : DV_E_FORMATETC;
}

HRESULT TShellDataObject::GetData(const FORMATETC* format, STGMEDIUM* medium)
{
    const HRESULT hr = StartGetData(format, medium);
    if (hr != S_OK)
        return hr;
    // The reader gets the object's own block, not a copy of many megabytes:
    // the medium holds a reference to the object, which releasing the
    // medium gives back.
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = BlockOf(format->cfFormat);
    medium->pUnkForRelease = this;
    AddRef();
    return S_OK;
}

IEnumFORMATETC* TShellDataObject::NewFormatEnumerator() { return new TEnumFormatEtc(m_formats); }

// ====================================================================== drop source

namespace {
constexpr DWORD kButtonBits[] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
constexpr DWORD kAllButtons = MK_LBUTTON | MK_RBUTTON | MK_MBUTTON;
} // namespace

TShellDropSource::TShellDropSource(int button) : m_button(kButtonBits[button >= 0 && button < 3 ? button : 0]) {}

HRESULT TShellDropSource::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDropSource});
}

HRESULT TShellDropSource::QueryContinueDrag(BOOL escapePressed, DWORD keyState)
{
    if (escapePressed || (keyState & kAllButtons & ~m_button))
        return DRAGDROP_S_CANCEL;
    return (keyState & m_button) ? S_OK : DRAGDROP_S_DROP;
}

HRESULT TShellDropSource::GiveFeedback(DWORD) { return DRAGDROP_S_USEDEFAULTCURSORS; }
