// Reading another program's data for a paste or a drop: the formats an
// object offers, fetching one, turning its medium into bytes, and the
// "Select Data Format" dialog for when several are offered.
#pragma once

#include "ole/ole2.h"

#include <cstdint>
#include <string>
#include <vector>

enum TZAZOLEOperation { oleDrop = 0, oleClipboard = 1 };
using TClipFormats = std::vector<CLIPFORMAT>;

// The format entries an object offers for reading, collected once.
class TFormatEnum {
public:
    explicit TFormatEnum(IDataObject* data);
    bool HasFormat(CLIPFORMAT format) const;
    // The first entry for the format; all bytes 0xFF when it is not offered.
    FORMATETC GetFormatEtc(CLIPFORMAT format) const;

private:
    std::vector<FORMATETC> m_entries;
};

// Fetches a format with the object's own entry for it; E_FAIL when it is
// not offered.
HRESULT GetOLEData(IDataObject* data, CLIPFORMAT format, STGMEDIUM& medium);

// The bytes taken from a medium: a part of its block or bytes of their own.
// A part of a block that only the receiver holds may be rewritten in place.
class TZAZByteString {
public:
    void View(std::uint8_t* data, std::uint64_t size, bool writable);
    void Own(std::vector<std::uint8_t> bytes);
    std::uint8_t* Data() { return m_data; }
    std::uint64_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    // Replaces hexadecimal digits by the bytes they give (non-digits
    // skipped, an odd last digit dropped): in place when the bytes may be
    // rewritten, where each byte lands before the digits still to be read.
    void HexToBytes(bool swapNibbles);

private:
    std::uint8_t* m_data = nullptr;
    std::uint64_t m_size = 0;
    bool m_writable = false;
    std::vector<std::uint8_t> m_owned;
};

// The byte string of a fetched medium (block and size of a global block,
// or null and 0; handle the medium's handle). Nothing is read past the
// block: a header that does not fit gives nothing, and a count in a header
// is cut to the bytes the block holds.
void OLEMediumToBytes(std::uint8_t* block, void* handle, CLIPFORMAT format, std::uint64_t size, bool bigEndian,
                      bool writable, TZAZByteString& bytes);

// The name the dialog shows for a format.
std::string ZAZFormatDisplayName(CLIPFORMAT format);
// Keeps the entries of formats (up to high) the object offers: none gives
// false, one is chosen without asking, several open the dialog.
bool ChooseOLEFormat(const TClipFormats& formats, std::int32_t high, IDataObject* data, bool& hexText,
                     CLIPFORMAT& chosen);
// The "Select Data Format" dialog; true when closed with OK and an item chosen.
bool SelectOLEFormat(const TClipFormats& offered, std::int32_t high, CLIPFORMAT& chosen, bool& hexText);
