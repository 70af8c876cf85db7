// Icon and cursor codec.
//
// Directory header (6 bytes): reserved (0), type (1 icon, 2 cursor), count.
// Each of the count entries (16 bytes):
//
//   0  1  bWidth        4  2  wPlanes
//   1  1  bHeight       6  2  wBitCount
//   2  1  bColorCount   8  4  dwBytesInRes
//   3  1  bReserved    12  4  dwImageOffset (from the start of the file)
//
// A width or height byte of 0 means 256 pixels. An image is a 40-byte info
// header (its height counts the colour rows and the mask together), the
// palette, the colour rows bottom row first and the AND mask: one bit per
// pixel, rows padded to 4 bytes, a set bit marks a transparent pixel. An
// image may instead be a whole PNG file.
#include "imaging/vxico.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"
#include "imaging/vxformats_p.h"

#include <cstring>
#include <vector>

namespace {
constexpr std::size_t bWidth = 0;
constexpr std::size_t bHeight = 1;
constexpr std::size_t dwBytesInRes = 8;
constexpr std::size_t dwImageOffset = 12;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t biBitCount = 14;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A size byte of 0 in the directory stands for 256 pixels.
std::uint32_t EntryPixels(std::uint8_t size) { return size == 0 ? 256 : size; }

// The depths an icon image can have; anything else is not read raw.
bool KnownBitCount(std::uint16_t bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 24 || bits == 32; }

bool MaskBit(const std::vector<std::uint8_t>& mask, std::uint32_t maskRow, std::int32_t x, std::int32_t y)
{
    return (mask[static_cast<std::size_t>(y) * maskRow + static_cast<std::size_t>(x) / 8] >> (7 - x % 8)) & 1;
}
}  // namespace

// An entry may hold a whole PNG file instead of a bitmap (the 256-pixel
// images of current icons). It goes to the PNG codec of the format table;
// while the table has none, the entry is refused.
bool VxImageICO::DecodePngEntry(VxFile* stream, std::uint32_t bytes)
{
    if (!VxFormatRow(VXFMT_PNG)->create) {
        SetError("PNG-compressed icon needs the PNG codec");
        return false;
    }
    // The signature has been read; the rest of the entry follows, as far as
    // the file holds it.
    VxReader in(stream);
    std::vector<std::uint8_t> data(kPngSignature, kPngSignature + sizeof kPngSignature);
    const std::int64_t left = in.Remaining();
    const std::uint64_t rest = bytes > sizeof kPngSignature ? bytes - sizeof kPngSignature : 0;
    data.resize(sizeof kPngSignature + static_cast<std::size_t>(
                                           left < 0 ? rest : std::min<std::uint64_t>(rest, static_cast<std::uint64_t>(left))));
    data.resize(sizeof kPngSignature + in.ReadSome(data.data() + sizeof kPngSignature, data.size() - sizeof kPngSignature));
    VxMemFile file(data.data(), static_cast<std::int32_t>(data.size()));
    VxImage picture;
    if (!picture.Decode(&file, VXFMT_PNG)) {
        SetError(picture.GetLastError());
        return false;
    }
    const VxImageAttributes own = m_info;
    AdoptPixels(picture);
    m_info.formatId = VXFMT_ICO;
    m_info.framesFound = own.framesFound;
    m_info.frameToLoad = own.frameToLoad;
    return true;
}

bool VxImageICO::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        VxReader in(stream);
        const std::int32_t start = stream->Tell();
        std::uint16_t reserved, type, count;
        if (!in.U16(reserved) || !in.U16(type) || !in.U16(count) || reserved != 0 || (type != 1 && type != 2))
            VxRaise("Not an icon");
        m_info.framesFound = count;
        std::vector<std::uint8_t> entries(static_cast<std::size_t>(count) * kEntrySize);
        if (!in.Read(entries.data(), entries.size()))
            VxRaise("Corrupted icon");
        const std::int32_t frame = m_info.frameToLoad;
        if (frame < 0 || frame >= count)
            VxRaise("Icon frame not found");
        const std::uint8_t* entry = entries.data() + static_cast<std::size_t>(frame) * kEntrySize;
        const std::int64_t offset = static_cast<std::int64_t>(start) + VxGet32(entry + dwImageOffset);
        if (offset > 0x7FFFFFFF || !stream->Seek(static_cast<std::int32_t>(offset), 0))
            VxRaise("Corrupted icon");
        std::uint8_t bih[kInfoHeaderSize];
        if (!in.Read(bih, sizeof kPngSignature))
            VxRaise("Corrupted icon");
        if (std::memcmp(bih, kPngSignature, sizeof kPngSignature) == 0)
            return DecodePngEntry(stream, VxGet32(entry + dwBytesInRes));
        if (!in.Read(bih + sizeof kPngSignature, sizeof bih - sizeof kPngSignature))
            VxRaise("Corrupted icon");
        const std::uint16_t bitCount = VxGet16(bih + biBitCount);
        if (!KnownBitCount(bitCount))
            VxRaise("Unsupported icon bit count");
        // The colour table and at least half of the rows must be there (a
        // file cut short shows what it has); the mask after them may be
        // missing.
        const std::uint32_t width = EntryPixels(entry[bWidth]), height = EntryPixels(entry[bHeight]);
        const std::uint64_t table = bitCount <= 8 ? (4ull << bitCount) : 0;
        const std::uint64_t rowBytes = bitCount == 32 ? 4ull * width : (std::uint64_t{bitCount} * width + 31) / 32 * 4;
        if (!VxFileCanHold(in, table + (rowBytes * height + kVxStoredRowsCutShort - 1) / kVxStoredRowsCutShort, 1))
            VxRaiseDataMissing(width, height);
        if (!Create(width, height, bitCount, VXFMT_ICO))
            VxRaise(GetLastError());

        if (GetPaletteSize()) {
            std::vector<RGBQUAD> pal(GetNumColors(), RGBQUAD{0, 0, 0, 0});
            in.ReadSome(pal.data(), GetPaletteSize());
            SetPalette(pal.data(), GetNumColors());
        }
        const std::int32_t w = static_cast<std::int32_t>(GetWidth()), h = static_cast<std::int32_t>(GetHeight());
        // A 32-bit image whose fourth bytes are not all 0 has a real alpha
        // channel, and the alpha channel wins over the AND mask. All 0 is an
        // image of the older kind, whose transparency is the mask's.
        bool realAlpha = false;
        if (bitCount <= 24) {
            if (in.ReadSome(GetRowBits(0), m_header.biSizeImage) < m_header.biSizeImage) {
                MarkDamaged();
                return true;
            }
        } else {
            if (!CreateAlphaPlane())
                VxRaise(GetLastError());
            std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 4);
            for (std::int32_t y = 0; y < h; ++y) {
                if (!in.Read(line.data(), line.size())) {
                    MarkDamaged();
                    return true;
                }
                std::uint8_t* dst = GetRowBits(static_cast<std::uint32_t>(y));
                std::uint8_t* alpha = GetAlphaPointer(0, y);
                for (std::int32_t x = 0; x < w; ++x) {
                    const std::uint8_t* p = line.data() + 4 * x;
                    std::memcpy(dst + 3 * x, p, 3);
                    alpha[x] = p[3];
                    realAlpha = realAlpha || p[3] != 0;
                }
            }
            if (realAlpha)
                return true;
            DeleteAlphaPlane();
        }

        const std::uint32_t maskRow = (GetWidth() + 31) / 32 * 4;
        std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskRow) * GetHeight(), 0);
        const std::size_t maskRead = in.ReadSome(mask.data(), mask.size());
        if (maskRead == 0)
            return true;
        // A mask cut short leaves the rest of the picture opaque.
        const bool maskCut = maskRead < mask.size();

        bool allSet = true;
        for (std::uint8_t b : mask)
            if (b != 0xFF) {
                allSet = false;
                break;
            }
        if (allSet && !maskCut) {
            m_info.transparentIndex = 0;
            Negative();
            return true;
        }

        if (!CreateAlphaPlane())
            VxRaise(GetLastError());
        bool anyMasked = false;
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x)
                if (MaskBit(mask, maskRow, x, y)) {
                    SetAlphaAt(x, y, 0);
                    anyMasked = true;
                }
        if (!anyMasked)
            DeleteAlphaPlane();

        if (bitCount == 24 && anyMasked) {
            // One colour under every masked pixel becomes the transparent colour.
            bool first = true, same = true;
            RGBQUAD ref{};
            for (std::int32_t y = 0; y < h && same; ++y)
                for (std::int32_t x = 0; x < w; ++x)
                    if (MaskBit(mask, maskRow, x, y)) {
                        const RGBQUAD c = GetPixelColor(x, y, false);
                        if (first) {
                            ref = c;
                            first = false;
                        } else if (c.rgbBlue != ref.rgbBlue || c.rgbGreen != ref.rgbGreen || c.rgbRed != ref.rgbRed) {
                            same = false;
                            break;
                        }
                    }
            if (same) {
                SetTransparentColor(ref);
                m_info.transparentIndex = 0;
                DeleteAlphaPlane();
            }
        } else if (GetBpp() <= 8) {
            // Masked pixels take the lowest palette index no pixel uses.
            std::vector<bool> used(GetNumColors(), false);
            for (std::int32_t y = 0; y < h; ++y)
                for (std::int32_t x = 0; x < w; ++x)
                    used[GetPixelIndexUnchecked(x, y)] = true;
            std::int32_t free = -1;
            for (std::uint32_t i = 0; i < used.size(); ++i)
                if (!used[i]) {
                    free = static_cast<std::int32_t>(i);
                    break;
                }
            if (free >= 0) {
                bool set = false;
                for (std::int32_t y = 0; y < h; ++y)
                    for (std::int32_t x = 0; x < w; ++x)
                        if (MaskBit(mask, maskRow, x, y)) {
                            SetPixelIndex(x, y, static_cast<std::uint8_t>(free));
                            set = true;
                        }
                if (set)
                    m_info.transparentIndex = free;
            }
            DeleteAlphaPlane();
        }
        if (maskCut)
            MarkDamaged();
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}

bool VxImageICO::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    const std::uint32_t w = GetWidth(), h = GetHeight();
    if (w > 255 || h > 255) {
        SetError("Can't save this image as icon");
        return false;
    }
    if (GetBpp() <= 8 && !GetPalette())
        return false;
    const std::uint32_t maskRow = (w + 31) / 32 * 4;
    const bool rgba = GetBpp() == 24 && HasAlpha() && !IsIndexed();
    const std::uint16_t bitCount = rgba ? 32 : static_cast<std::uint16_t>(GetBpp());
    const std::uint32_t imageSize = rgba ? w * h * 4 : m_header.biSizeImage;

    std::uint8_t head[6 + kEntrySize + 40] = {};
    VxPut16(head + 2, 1);
    VxPut16(head + 4, 1);
    std::uint8_t* e = head + 6;
    e[0] = static_cast<std::uint8_t>(w);
    e[1] = static_cast<std::uint8_t>(h);
    e[2] = static_cast<std::uint8_t>(GetNumColors());
    VxPut16(e + 6, bitCount);
    VxPut32(e + 8, GetPaletteSize() + imageSize + h * maskRow + 40);
    VxPut32(e + 12, 22);
    std::uint8_t* b = e + kEntrySize;
    VxPut32(b, 40);
    VxPut32(b + 4, w);
    VxPut32(b + 8, h * 2);
    VxPut16(b + 12, 1);
    VxPut16(b + 14, bitCount);
    VxPut32(b + 20, imageSize);
    bool ok = stream->Write(head, 1, sizeof head) == sizeof head;
    if (ok && GetPaletteSize())
        ok = stream->Write(GetPalette(), 1, GetPaletteSize()) == GetPaletteSize();
    if (ok && rgba) {
        std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 4);
        for (std::uint32_t y = 0; y < h && ok; ++y) {
            for (std::uint32_t x = 0; x < w; ++x) {
                const RGBQUAD c = GetPixelColor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), true);
                std::memcpy(line.data() + 4 * x, &c, 4);
            }
            ok = stream->Write(line.data(), 1, line.size()) == line.size();
        }
    } else if (ok) {
        ok = stream->Write(GetRowBits(0), 1, m_header.biSizeImage) == m_header.biSizeImage;
    }

    std::vector<std::uint8_t> mask(static_cast<std::size_t>(maskRow) * h, 0);
    const bool palAlpha = PaletteHasAlpha();
    const RGBQUAD trans = GetTransparentColor();
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const auto xi = static_cast<std::int32_t>(x), yi = static_cast<std::int32_t>(y);
            bool masked = HasAlpha() && GetAlphaAt(xi, yi) == 0;
            if (!masked && palAlpha)
                masked = GetPixelColor(xi, yi, true).rgbReserved == 0;
            if (!masked && IsTransparent()) {
                const RGBQUAD c = GetPixelColor(xi, yi, false);
                masked = c.rgbBlue == trans.rgbBlue && c.rgbGreen == trans.rgbGreen && c.rgbRed == trans.rgbRed;
            }
            if (masked)
                mask[y * maskRow + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    if (ok)
        ok = stream->Write(mask.data(), 1, mask.size()) == mask.size();
    if (!ok)
        SetError("Can't write icon");
    return ok;
}
