#include "hexedit/zazolepaste.h"

#include "hexedit/zazconv.h"
#include "hexedit/zazdataobj.h"
#include "hexedit/zazerrors.h"

#include "rtl/sysutils.h"
#include "win/memadvise.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include <algorithm>
#include <cstring>

namespace {

// Display names of the standard formats, by number.
constexpr const char* kStandardNames[] = {
    nullptr,
    "Text",
    "Bitmap Picture",
    "Metafile Picture",
    "Microsoft Symbolic Link (SYLK) data",
    "Software Arts' Data Interchange Format",
    "Tagged Image File Format (TIFF) Picture",
    "OEM Text",
    "Device Independent Bitmap Picture",
    "Color Palete",
    "Pen Data",
    "RIFF Audio Data",
    "Wave Audio",
    "Unicode Text",
    "Enhanced Metafile Picture",
    "File List",
    "Text Locale",
};

// The format the dialog preselects: the one chosen last, none at start.
CLIPFORMAT g_lastChosenFormat = 0;

std::uint32_t U32At(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Append(std::vector<std::uint8_t>& out, const void* p, std::size_t n)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

// A bitmap handle as a BMP file image: 24 bits a pixel, bottom-up rows.
std::vector<std::uint8_t> BitmapFileImage(HBITMAP bitmap)
{
    BITMAP info{};
    if (!bitmap || GetObject(bitmap, sizeof info, &info) == 0 || info.bmWidth <= 0 || info.bmHeight <= 0)
        return {};
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = info.bmWidth;
    bmi.bmiHeader.biHeight = info.bmHeight;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    const std::size_t row = (static_cast<std::size_t>(info.bmWidth) * 3 + 3) & ~std::size_t{3};
    const std::size_t pixels = row * static_cast<std::size_t>(info.bmHeight);
    bmi.bmiHeader.biSizeImage = static_cast<DWORD>(pixels);
    std::vector<std::uint8_t> bits(pixels);
    HDC dc = CreateCompatibleDC(nullptr);
    const int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(info.bmHeight), bits.data(), &bmi, DIB_RGB_COLORS);
    DeleteDC(dc);
    if (lines <= 0)
        return {};
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof(BITMAPINFOHEADER);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels);
    std::vector<std::uint8_t> out;
    Append(out, &file, sizeof file);
    Append(out, &bmi.bmiHeader, sizeof bmi.bmiHeader);
    Append(out, bits.data(), bits.size());
    return out;
}

std::vector<std::uint8_t> EnhMetaFileBytes(HENHMETAFILE mf)
{
    const UINT n = GetEnhMetaFileBits(mf, 0, nullptr);
    std::vector<std::uint8_t> out(n);
    if (n == 0 || GetEnhMetaFileBits(mf, n, out.data()) != n)
        return {};
    return out;
}

std::vector<std::uint8_t> MetaFilePictBytes(const std::uint8_t* block, std::uint64_t size)
{
    if (!block || size < sizeof(METAFILEPICT))
        return {};
    METAFILEPICT picture;
    std::memcpy(&picture, block, sizeof picture);
    auto* mf = static_cast<HMETAFILE>(picture.hMF);
    const UINT n = GetMetaFileBitsEx(mf, 0, nullptr);
    std::vector<std::uint8_t> out(n);
    if (n == 0 || GetMetaFileBitsEx(mf, n, out.data()) != n)
        return {};
    return out;
}

// A logical palette record: version 0x0300, entry count, the entries.
std::vector<std::uint8_t> PaletteBytes(HPALETTE palette)
{
    const UINT count = std::min<UINT>(GetPaletteEntries(palette, 0, 0, nullptr), 256);
    if (count == 0)
        return {};
    std::vector<PALETTEENTRY> entries(count);
    GetPaletteEntries(palette, 0, count, entries.data());
    std::vector<std::uint8_t> out = {0x00, 0x03, static_cast<std::uint8_t>(count & 0xFF),
                                     static_cast<std::uint8_t>(count >> 8)};
    for (const PALETTEENTRY& e : entries)
        out.insert(out.end(), {e.peRed, e.peGreen, e.peBlue, e.peFlags});
    return out;
}

} // namespace

// ====================================================================== offered formats

TFormatEnum::TFormatEnum(IDataObject* data)
{
    TComPtr<IEnumFORMATETC> formats;
    if (!data || FAILED(data->EnumFormatEtc(DATADIR_GET, formats.Out())) || !formats)
        return;
    FORMATETC entry;
    while (formats->Next(1, &entry, nullptr) == S_OK)
        m_entries.push_back(entry);
}

bool TFormatEnum::HasFormat(CLIPFORMAT format) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [format](const FORMATETC& e) { return e.cfFormat == format; });
}

FORMATETC TFormatEnum::GetFormatEtc(CLIPFORMAT format) const
{
    for (const FORMATETC& e : m_entries)
        if (e.cfFormat == format)
            return e;
    FORMATETC none;
    std::memset(&none, 0xFF, sizeof none);
    return none;
}

HRESULT GetOLEData(IDataObject* data, CLIPFORMAT format, STGMEDIUM& medium)
{
    medium = STGMEDIUM{};
    const TFormatEnum offered(data);
    if (!offered.HasFormat(format))
        return E_FAIL;
    const FORMATETC entry = offered.GetFormatEtc(format);
    return data->GetData(&entry, &medium);
}

// ====================================================================== bytes

void TZAZByteString::View(std::uint8_t* data, std::uint64_t size, bool writable)
{
    m_owned.clear();
    m_data = size ? data : nullptr;
    m_size = data ? size : 0;
    m_writable = writable;
}

void TZAZByteString::Own(std::vector<std::uint8_t> bytes)
{
    m_owned = std::move(bytes);
    m_data = m_owned.data();
    m_size = m_owned.size();
    m_writable = true;
}

void TZAZByteString::HexToBytes(bool swapNibbles)
{
    if (m_size > INT32_MAX)
        throw EZURadUvudod(Format(zaz_text::kFileTooLarge, static_cast<long long>(m_size / 2)));
    std::int32_t count = 0;
    if (m_writable) {
        // Byte k is written at k, after its two digits were read from k or
        // later: nothing still to be read is overwritten.
        ConvertHexToBin(reinterpret_cast<const char*>(m_data), m_data, static_cast<std::int32_t>(m_size), count,
                        swapNibbles);
        m_size = static_cast<std::uint64_t>(count);
        return;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(m_size / 2));
    AdviseHugePages(bytes.data(), bytes.capacity());
    bytes.resize(static_cast<std::size_t>(m_size / 2));
    ConvertHexToBin(reinterpret_cast<const char*>(m_data), bytes.data(), static_cast<std::int32_t>(m_size), count,
                    swapNibbles);
    bytes.resize(static_cast<std::size_t>(count));
    Own(std::move(bytes));
}

void OLEMediumToBytes(std::uint8_t* block, void* handle, CLIPFORMAT format, std::uint64_t size, bool bigEndian,
                      bool writable, TZAZByteString& bytes)
{
    const TZAZClipFormats& f = ZAZClipFormats();
    bytes.View(nullptr, 0, false);
    if (!block)
        size = 0;
    if (format == f.Own) {
        if (size < kZAZClipHeader || U32At(block) != kZAZClipSignature || U32At(block + 4) != kZAZClipVersion)
            return;
        const auto n = static_cast<std::int32_t>(U32At(block + 8));
        if (n <= 0)
            return;
        bytes.View(block + kZAZClipHeader, std::min<std::uint64_t>(static_cast<std::uint64_t>(n), size - kZAZClipHeader),
                   writable);
    } else if (format == f.RegEditHexData) {
        if (size < 4)
            return;
        bytes.View(block + 4, std::min<std::uint64_t>(U32At(block), size - 4), writable);
    } else if (format == CF_TEXT || format == CF_OEMTEXT || format == f.RichText) {
        const void* zero = std::memchr(block, 0, static_cast<std::size_t>(size));
        bytes.View(block, zero ? static_cast<std::uint64_t>(static_cast<std::uint8_t*>(const_cast<void*>(zero)) - block)
                               : size,
                   writable);
    } else if (format == CF_UNICODETEXT) {
        // Whole 16-bit characters only: an odd last byte is no character.
        std::uint64_t n = 0;
        while (n + 1 < size && (block[n] | block[n + 1]) != 0)
            n += 2;
        if (!bigEndian) {
            bytes.View(block, n, writable);
            return;
        }
        std::vector<std::uint8_t> swapped(block, block + n);
        for (std::uint64_t i = 0; i + 1 < n; i += 2)
            std::swap(swapped[i], swapped[i + 1]);
        bytes.Own(std::move(swapped));
    } else if (format == CF_BITMAP) {
        bytes.Own(BitmapFileImage(static_cast<HBITMAP>(handle)));
    } else if (format == CF_ENHMETAFILE) {
        bytes.Own(EnhMetaFileBytes(static_cast<HENHMETAFILE>(handle)));
    } else if (format == CF_METAFILEPICT) {
        bytes.Own(MetaFilePictBytes(block, size));
    } else if (format == CF_DIB) {
        if (size == 0)
            return;
        std::vector<std::uint8_t> out(sizeof(BITMAPFILEHEADER), 0);
        out[0] = 'B';
        out[1] = 'M';
        out.insert(out.end(), block, block + size);
        bytes.Own(std::move(out));
    } else if (format == CF_PALETTE) {
        bytes.Own(PaletteBytes(static_cast<HPALETTE>(handle)));
    } else if (format == CF_LOCALE) {
        if (size >= 2)
            bytes.View(block, 2, writable);
    } else {
        bytes.View(block, size, writable);
    }
}

// ====================================================================== choosing a format

std::string ZAZFormatDisplayName(CLIPFORMAT format)
{
    if (format > 0 && format < std::size(kStandardNames))
        return kStandardNames[format];
    char name[256];
    const int n = GetClipboardFormatNameA(format, name, sizeof name);
    const std::string trimmed = Trim(std::string(name, static_cast<std::size_t>(std::max(n, 0))));
    return trimmed.empty() ? "(" + std::to_string(format) + ")" : trimmed;
}

bool ChooseOLEFormat(const TClipFormats& formats, std::int32_t high, IDataObject* data, bool& hexText,
                     CLIPFORMAT& chosen)
{
    const TFormatEnum offered(data);
    TClipFormats kept;
    for (std::int32_t i = 0; i <= high && i < static_cast<std::int32_t>(formats.size()); ++i)
        if (offered.HasFormat(formats[static_cast<std::size_t>(i)]))
            kept.push_back(formats[static_cast<std::size_t>(i)]);
    if (kept.empty())
        return false;
    if (kept.size() == 1) {
        chosen = kept.front();
        return true;
    }
    return SelectOLEFormat(kept, static_cast<std::int32_t>(kept.size()) - 1, chosen, hexText);
}

bool SelectOLEFormat(const TClipFormats& offered, std::int32_t high, CLIPFORMAT& chosen, bool& hexText)
{
    TForm dialog(Application);
    dialog.SetBorderStyle(TFormBorderStyle::bsDialog);
    dialog.Position = TPosition::poMainFormCenter;
    dialog.SetCaption("Select Data Format");
    const int width = std::max(Screen->Width() / 4, 240);
    const int clientHeight = std::max(Screen->Height() / 4, 180);
    dialog.SetClientSize(width, clientHeight);
    constexpr int kButtonHeight = 25, kCheckHeight = 17;
    const int buttonWidth = width / 2 - 32;
    const int buttonTop = clientHeight - 8 - kButtonHeight;

    auto* ok = new TButton(&dialog);
    ok->SetParent(&dialog);
    ok->SetCaption("OK");
    ok->ModalResult = mrOk;
    ok->SetDefault(true);
    ok->SetEnabled(false);
    ok->SetBounds(16, buttonTop, buttonWidth, kButtonHeight);
    auto* cancel = new TButton(&dialog);
    cancel->SetParent(&dialog);
    cancel->SetCaption("Cancel");
    cancel->ModalResult = mrCancel;
    cancel->Cancel = true;
    cancel->SetBounds(width - 16 - buttonWidth, buttonTop, buttonWidth, kButtonHeight);
    auto* hex = new TCheckBox(&dialog);
    hex->SetParent(&dialog);
    hex->SetCaption("Hex Text");
    hex->SetEnabled(false);
    hex->SetChecked(hexText);
    hex->SetBounds(16, buttonTop - 8 - kCheckHeight, width - 16, kCheckHeight);
    auto* list = new TListBox(&dialog);
    list->SetParent(&dialog);
    list->SetAlign(alTop);
    list->SetHeight(clientHeight - kButtonHeight - 16 - 8 - kCheckHeight);

    int preselect = 0;
    for (std::int32_t i = 0; i <= high && i < static_cast<std::int32_t>(offered.size()); ++i) {
        const CLIPFORMAT format = offered[static_cast<std::size_t>(i)];
        if (format == g_lastChosenFormat)
            preselect = list->Count();
        list->AddItem(ZAZFormatDisplayName(format), format);
    }
    ok->SetEnabled(list->Count() > 0);
    list->SetItemIndex(preselect);
    auto isText = [list] {
        const int i = list->ItemIndex();
        const auto format = i >= 0 ? list->ItemValue(i) : 0;
        return format == CF_TEXT || format == CF_OEMTEXT;
    };
    list->OnClick = [hex, isText](TObject*) { hex->SetEnabled(isText()); };
    list->OnDblClick = [ok](TObject*) { ok->Click(); };
    hex->SetEnabled(isText());

    if (dialog.ShowModal() != mrOk || list->ItemIndex() < 0)
        return false;
    chosen = static_cast<CLIPFORMAT>(list->ItemValue(list->ItemIndex()));
    if (chosen == CF_TEXT || chosen == CF_OEMTEXT)
        hexText = hex->Checked();
    g_lastChosenFormat = chosen;
    return true;
}
