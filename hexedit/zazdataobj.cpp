#include "hexedit/zazdataobj.h"

#include "hexedit/zazconv.h"

#include "rtl/sysutils.h"
#include "win/memadvise.h"
#include "win/splitwork.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace {

void PutU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Now as a UTC file time: 100 ns steps since 1601.
std::uint64_t FileTimeNow()
{
    using namespace std::chrono;
    constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
    const auto since1970 = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    return kUnixEpochAsFileTime + static_cast<std::uint64_t>(since1970) * 10;
}

} // namespace

const TZAZClipFormats& ZAZClipFormats()
{
    static const TZAZClipFormats formats = [] {
        OleInitialize(nullptr);
        auto reg = [](const char* name) { return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name)); };
        TZAZClipFormats f{};
        f.Own = reg("TZURaduvudodEx Clipboard Format");
        f.RegEditHexData = reg("RegEdit_HexData");
        f.RichText = reg("Rich Text Format");
        f.FileContents = reg("FileContents");
        f.FileGroupDescriptor = reg("FileGroupDescriptor");
        f.PerformedDropEffect = reg("Performed DropEffect");
        f.LogicalPerformedEffect = reg("Logical Performed DropEffect");
        return f;
    }();
    return formats;
}

std::string CutUtf8(const std::string& text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // Back over continuation bytes to the start of the character cut into.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

std::string ZAZDumpName(const std::string& fileName)
{
    return CutUtf8("Dump of " + ChangeFileExt(ExtractFileName(fileName), "") + ".bin", 255);
}

// ====================================================================== data object

TZAZDataObject::TZAZDataObject(const std::uint8_t* bytes, std::int32_t count, const std::string& fileName,
                               bool asHexText, bool swapNibbles)
    : m_bytes(new std::uint8_t[static_cast<std::size_t>(std::max(count, 0))]),
      m_count(std::max(count, 0)),
      m_asHexText(asHexText),
      m_swapNibbles(swapNibbles),
      m_dumpName(ZAZDumpName(fileName))
{
    AdviseHugePages(m_bytes.get(), static_cast<std::size_t>(m_count));
    if (m_count > 0)
        CopyLargeBlock(m_bytes.get(), bytes, static_cast<std::size_t>(m_count));
}

HRESULT TZAZDataObject::QueryGetData(const FORMATETC* format)
{
    if (const HRESULT request = CheckContentRequest(format); FAILED(request))
        return request;
    const TZAZClipFormats& f = ZAZClipFormats();
    if (format->lindex != -1 && format->lindex != 0 && format->cfFormat != f.FileContents)
        return DV_E_LINDEX;
    const CLIPFORMAT c = format->cfFormat;
    if (c == f.Own || c == CF_TEXT || c == f.FileGroupDescriptor || c == f.FileContents)
        return S_OK;
    return DV_E_FORMATETC;
}

std::uint64_t ZAZClipBlockSize(CLIPFORMAT format, std::int32_t count, bool asHexText, std::int32_t textLength)
{
    const TZAZClipFormats& f = ZAZClipFormats();
    const auto n = static_cast<std::uint64_t>(std::max(count, 0));
    if (format == f.Own)
        return n + kZAZClipHeader;
    if (format == CF_TEXT)
        return asHexText ? 2 * n + 1 : static_cast<std::uint64_t>(std::max(textLength, 0)) + 1;
    if (format == f.FileGroupDescriptor)
        return kDescriptorSize;
    return n;  // "FileContents"
}

std::uint64_t TZAZDataObject::BlockSize(CLIPFORMAT format) const
{
    std::int32_t text = m_count;
    if (format == CF_TEXT && !m_asHexText)
        if (const void* zero = std::memchr(m_bytes.get(), 0, static_cast<std::size_t>(m_count)))
            text = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(zero) - m_bytes.get());
    return ZAZClipBlockSize(format, m_count, m_asHexText, text);
}

void TZAZDataObject::Fill(CLIPFORMAT format, std::uint8_t* block) const
{
    const TZAZClipFormats& f = ZAZClipFormats();
    const auto n = static_cast<std::size_t>(m_count);
    if (format == f.Own) {
        PutU32(block, kZAZClipSignature);
        PutU32(block + 4, kZAZClipVersion);
        PutU32(block + 8, static_cast<std::uint32_t>(m_count));
        if (n)
            CopyLargeBlock(block + kZAZClipHeader, m_bytes.get(), n);
    } else if (format == CF_TEXT && m_asHexText) {
        ConvertBinToHex(m_bytes.get(), reinterpret_cast<char*>(block), m_count, m_swapNibbles);
    } else if (format == CF_TEXT) {
        const std::size_t text = static_cast<std::size_t>(BlockSize(CF_TEXT) - 1);
        if (text)
            std::memcpy(block, m_bytes.get(), text);
        block[text] = 0;
    } else if (format == f.FileGroupDescriptor) {
        PutU32(block, 1);
        PutU32(block + kDescriptorFlags, kDescriptorValidFlags);
        const std::uint64_t time = FileTimeNow();
        PutU32(block + kDescriptorWriteTime, static_cast<std::uint32_t>(time));
        PutU32(block + kDescriptorWriteTime + 4, static_cast<std::uint32_t>(time >> 32));
        PutU32(block + kDescriptorSizeHigh, 0);
        PutU32(block + kDescriptorSizeLow, static_cast<std::uint32_t>(m_count));
        const std::string name = CutUtf8(m_dumpName, kDescriptorNameRoom - 1);
        std::memcpy(block + kDescriptorName, name.data(), name.size());
    } else if (n) {
        CopyLargeBlock(block, m_bytes.get(), n);
    }
}

HRESULT TZAZDataObject::GetData(const FORMATETC* format, STGMEDIUM* medium)
{
    const HRESULT supported = StartGetData(format, medium);
    if (FAILED(supported))
        return supported;
    const std::uint64_t size = BlockSize(format->cfFormat);
    if (size > SIZE_MAX)
        return E_OUTOFMEMORY;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_SHARE, static_cast<SIZE_T>(size));
    if (!block)
        return E_OUTOFMEMORY;
    try {
        Fill(format->cfFormat, static_cast<std::uint8_t*>(GlobalLock(block)));
        GlobalUnlock(block);
    } catch (...) {
        GlobalFree(block);
        return E_OUTOFMEMORY;
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    return S_OK;
}

HRESULT TZAZDataObject::SetData(const FORMATETC* format, STGMEDIUM* medium, BOOL release)
{
    if (!format || !medium)
        return E_INVALIDARG;
    const TZAZClipFormats& f = ZAZClipFormats();
    HRESULT result = E_NOTIMPL;
    if ((format->cfFormat == f.PerformedDropEffect || format->cfFormat == f.LogicalPerformedEffect) &&
        medium->tymed == TYMED_HGLOBAL && GlobalSize(medium->hGlobal) >= sizeof(DWORD)) {
        std::memcpy(&m_performedEffect, GlobalLock(medium->hGlobal), sizeof(DWORD));
        GlobalUnlock(medium->hGlobal);
        m_hasPerformedEffect = true;
        result = S_OK;
    }
    if (release)
        ReleaseStgMedium(medium);
    return result;
}

IEnumFORMATETC* TZAZDataObject::NewFormatEnumerator() { return new TZAZEnumFormatETC(); }

TZAZEnumFormatETC::TZAZEnumFormatETC()
    : TEnumFormatEtc({ContentFormat(ZAZClipFormats().Own), ContentFormat(CF_TEXT),
                      ContentFormat(ZAZClipFormats().FileGroupDescriptor), ContentFormat(ZAZClipFormats().FileContents)})
{
}
