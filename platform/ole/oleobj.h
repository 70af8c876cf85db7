// What the data objects of ours share: an enumerator over a fixed list of
// format entries, and the answers every one of them gives alike.
#pragma once

#include "ole/ole2.h"

#include <vector>

// Next copies entries from the position on and answers S_OK when it copied
// as many as asked; Skip moves only when fewer entries are skipped than are
// left (else S_FALSE, position kept); Clone starts at the first entry.
class TEnumFormatEtc : public TComObject<IEnumFORMATETC> {
public:
    explicit TEnumFormatEtc(std::vector<FORMATETC> entries) : m_entries(std::move(entries)) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT Next(ULONG count, FORMATETC* items, ULONG* fetched) override;
    HRESULT Skip(ULONG count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumFORMATETC** out) override;

private:
    std::vector<FORMATETC> m_entries;
    std::size_t m_position = 0;
};

// An entry with no target device, the content aspect and index -1.
inline FORMATETC ContentFormat(CLIPFORMAT format, DWORD tymed = TYMED_HGLOBAL)
{
    return FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, tymed};
}

// A data object of ours: it renders into media of its own only (GetDataHere
// fails), takes no advise sinks, has no other canonical format, accepts no
// data unless a subclass says otherwise, and lists its formats for reading
// through the enumerator it makes.
class TDataObjectBase : public TComObject<IDataObject> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    HRESULT GetDataHere(const FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT GetCanonicalFormatEtc(const FORMATETC* in, FORMATETC* out) override;
    HRESULT SetData(const FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
    HRESULT DAdvise(const FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    HRESULT DUnadvise(DWORD connection) override;
    HRESULT EnumDAdvise(IEnumSTATDATA** out) override;

protected:
    // A new enumerator of the formats offered for reading.
    virtual IEnumFORMATETC* NewFormatEnumerator() = 0;
    // What every request must be: the content aspect in a global block.
    static HRESULT CheckContentRequest(const FORMATETC* format);
    // Clears the medium and answers QueryGetData's verdict on the request.
    HRESULT StartGetData(const FORMATETC* format, STGMEDIUM* medium);
};
