#include "archive/zadclipboard.h"

#include "archive/zadconsts.h"
#include "archive/zaddeflate.h"
#include "ole/ole2.h"
#include "ole/oleobj.h"

#include <cstring>
#include <vector>

namespace {

// A data object of one format whose bytes it holds; each read gets a
// block of its own.
class TBytesDataObject : public TDataObjectBase {
public:
    TBytesDataObject(CLIPFORMAT format, std::vector<std::uint8_t> bytes) : m_format(format), m_bytes(std::move(bytes)) {}

    HRESULT QueryGetData(const FORMATETC* format) override
    {
        if (const HRESULT request = CheckContentRequest(format); FAILED(request))
            return request;
        return format->cfFormat == m_format ? S_OK : DV_E_FORMATETC;
    }

    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override
    {
        if (const HRESULT supported = StartGetData(format, medium); FAILED(supported))
            return supported;
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, m_bytes.size());
        if (!block)
            return E_OUTOFMEMORY;
        if (!m_bytes.empty())
            std::memcpy(GlobalLock(block), m_bytes.data(), m_bytes.size());
        GlobalUnlock(block);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        return S_OK;
    }

protected:
    IEnumFORMATETC* NewFormatEnumerator() override { return new TEnumFormatEtc({ContentFormat(m_format)}); }

private:
    CLIPFORMAT m_format;
    std::vector<std::uint8_t> m_bytes;
};

CLIPFORMAT FormatOf(const std::string& name) { return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name.c_str())); }

}  // namespace

bool CopyStreamToClipboard(TStream32* source, const std::string& formatName)
{
    const CLIPFORMAT format = FormatOf(formatName);
    if (!source || format == 0)
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(source->Size()));
    source->SetPosition(0);
    if (!bytes.empty())
        source->ReadBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    auto* object = new TBytesDataObject(format, std::move(bytes));
    object->AddRef();
    const HRESULT hr = OleSetClipboard(object);
    object->Release();
    return SUCCEEDED(hr);
}

bool CopyStreamFromClipboard(TStream32* dest, const std::string& formatName)
{
    const CLIPFORMAT format = FormatOf(formatName);
    IDataObject* data = nullptr;
    if (!dest || format == 0 || FAILED(OleGetClipboard(&data)) || !data)
        return false;
    FORMATETC request = ContentFormat(format);
    STGMEDIUM medium{};
    const HRESULT hr = data->GetData(&request, &medium);
    data->Release();
    if (FAILED(hr))
        return false;
    bool ok = false;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        const SIZE_T size = GlobalSize(medium.hGlobal);
        if (size > 0)
            dest->WriteBuffer(GlobalLock(medium.hGlobal), static_cast<std::int64_t>(size));
        GlobalUnlock(medium.hGlobal);
        ok = true;
    }
    ReleaseStgMedium(&medium);
    return ok;
}

std::uint32_t zadCompress_StreamToClipboard(TStream32* source, std::int64_t count, std::int64_t& packed,
                                            TDeflateType type)
{
    std::vector<std::uint8_t> record;
    const std::uint32_t crc = BuildCompressedRecord(source, count, type, record, packed);
    if (record.empty())
        return CRC_MASK;
    TMemoryStream32 mem;
    mem.WriteBuffer(record.data(), static_cast<std::int64_t>(record.size()));
    return CopyStreamToClipboard(&mem, kCompressedDataFormat) ? crc : 0;
}

std::uint32_t zadDecompress_StreamFromClipboard(TStream32* dest)
{
    TMemoryStream32 mem;
    if (!CopyStreamFromClipboard(&mem, kCompressedDataFormat))
        return CRC_MASK;
    return ReadCompressedRecord(static_cast<const std::uint8_t*>(mem.Memory()), static_cast<std::size_t>(mem.Size()),
                                dest);
}
