#include "shldragdrop.h"

#include "rtl/sysutils.h"

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
    *out = nullptr;
    const std::size_t header = 4 * (items.size() + 2);
    std::size_t size = header + ListSize(parent);
    for (LPCITEMIDLIST item : items)
        size += ListSize(item);
    if (size > std::numeric_limits<std::uint32_t>::max())
        return E_OUTOFMEMORY;
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block)
        return E_OUTOFMEMORY;
    auto* p = static_cast<BYTE*>(GlobalLock(block));
    PutDword(p, static_cast<std::uint32_t>(items.size()));
    std::size_t at = header;
    auto place = [&](std::size_t slot, LPCITEMIDLIST list) {
        PutDword(p + 4 + 4 * slot, static_cast<std::uint32_t>(at));
        const std::size_t n = ListSize(list);
        if (list)
            std::memcpy(p + at, list, n);  // the empty list's two zero bytes are there already
        at += n;
    };
    place(0, parent);
    for (std::size_t k = 0; k < items.size(); ++k)
        place(k + 1, items[k]);
    GlobalUnlock(block);
    *out = block;
    return S_OK;
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
