// The data object the hex editor puts on the clipboard and drags: its own
// copy of the selected bytes, rendered on request as the control's own
// format, as text (the bytes, or their hexadecimal digits) and as a virtual
// file ("FileGroupDescriptor" with "FileContents").
#pragma once

#include "ole/ole2.h"
#include "ole/oleobj.h"

#include <cstdint>
#include <memory>
#include <string>

// The clipboard formats the hex editor registers at start-up, in this order.
struct TZAZClipFormats {
    CLIPFORMAT Own;                     // "TZURaduvudodEx Clipboard Format"
    CLIPFORMAT RegEditHexData;          // "RegEdit_HexData"
    CLIPFORMAT RichText;                // "Rich Text Format"
    CLIPFORMAT FileContents;            // "FileContents"
    CLIPFORMAT FileGroupDescriptor;     // "FileGroupDescriptor"
    CLIPFORMAT PerformedDropEffect;     // "Performed DropEffect"
    CLIPFORMAT LogicalPerformedEffect;  // "Logical Performed DropEffect"
};
const TZAZClipFormats& ZAZClipFormats();

// The own format, one block, little-endian:
//
//    0  signature  the bytes "RADE" (52 41 44 45)
//    4  version    0x00010001
//    8  N          number of data bytes, signed 32-bit
//   12  the N bytes
constexpr std::uint32_t kZAZClipSignature = 0x45444152;  // "RADE" read little-endian
constexpr std::uint32_t kZAZClipVersion = 0x00010001;
constexpr std::size_t kZAZClipHeader = 12;

// The ANSI FILEGROUPDESCRIPTOR of one file, 336 bytes:
//
//    0  item count        1
//    4  flags of item 0   0x60 (size and last write time are valid)
//   60  last write time   UTC file time
//   68  size, high part
//   72  size, low part
//   76  file name         260 bytes, zero-terminated
constexpr std::size_t kDescriptorSize = 336;
constexpr std::size_t kDescriptorFlags = 4;
constexpr std::size_t kDescriptorWriteTime = 60;
constexpr std::size_t kDescriptorSizeHigh = 68;
constexpr std::size_t kDescriptorSizeLow = 72;
constexpr std::size_t kDescriptorName = 76;
constexpr std::size_t kDescriptorNameRoom = 260;
constexpr std::uint32_t kDescriptorValidFlags = 0x60;

// "Dump of <name without folder and extension>.bin", at most 255 bytes, cut
// between UTF-8 characters.
std::string ZAZDumpName(const std::string& fileName);
// The text cut to at most maxBytes bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& text, std::size_t maxBytes);

// The block size of a format for count bytes (textLength: the bytes before
// the first zero byte), in 64 bits: 2N + 1 and N + 12 overflow 32 bits for
// the largest data.
std::uint64_t ZAZClipBlockSize(CLIPFORMAT format, std::int32_t count, bool asHexText, std::int32_t textLength);

class TZAZDataObject : public TDataObjectBase {
public:
    TZAZDataObject(const std::uint8_t* bytes, std::int32_t count, const std::string& fileName, bool asHexText,
                   bool swapNibbles);

    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT QueryGetData(const FORMATETC* format) override;
    HRESULT SetData(const FORMATETC* format, STGMEDIUM* medium, BOOL release) override;

    std::int32_t Count() const { return m_count; }
    const std::string& DumpName() const { return m_dumpName; }
    // The effect a drop target reported through SetData, and whether it did.
    bool HasPerformedEffect() const { return m_hasPerformedEffect; }
    DWORD PerformedEffect() const { return m_performedEffect; }

protected:
    IEnumFORMATETC* NewFormatEnumerator() override;

private:
    std::uint64_t BlockSize(CLIPFORMAT format) const;
    void Fill(CLIPFORMAT format, std::uint8_t* block) const;

    std::unique_ptr<std::uint8_t[]> m_bytes;
    std::int32_t m_count;
    bool m_asHexText;
    bool m_swapNibbles;
    std::string m_dumpName;
    DWORD m_performedEffect = 0;
    bool m_hasPerformedEffect = false;
};

// The four formats of the data object: own, CF_TEXT, "FileGroupDescriptor",
// "FileContents".
class TZAZEnumFormatETC : public TEnumFormatEtc {
public:
    TZAZEnumFormatETC();
};
