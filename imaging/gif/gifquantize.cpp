#include "imaging/gif/gifquantize.h"

#include "vcl/graphics.h"

#include <functional>

namespace {

constexpr int kMaxColors = 256;
constexpr int kWindowsColors = 236;  // what the 20 static colours leave of 256
constexpr int kStaticHalf = 10;

// Feeds the quantizer every row of the bitmap in 24 bits, through a
// converted copy when the bitmap has another format.
void AddRows24(TColorQuantizer& quantizer, TBitmap& bitmap)
{
    TBitmap* source = &bitmap;
    TBitmap copy;
    if (bitmap.PixelFormat() != pf24bit) {
        copy.Assign(bitmap);
        copy.SetPixelFormat(pf24bit);
        source = &copy;
    }
    for (int y = 0; y < source->Height(); ++y)
        quantizer.AddRow(source->ScanLine(y), source->Width());
}

HPALETTE MakePalette(const std::vector<PALETTEENTRY>& entries)
{
    std::vector<std::uint8_t> memory(sizeof(LOGPALETTE) + entries.size() * sizeof(PALETTEENTRY));
    auto* logical = reinterpret_cast<LOGPALETTE*>(memory.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = static_cast<WORD>(entries.size());
    std::copy(entries.begin(), entries.end(), logical->palPalEntry);
    return CreatePalette(logical);
}

void CheckColorCount(int colors)
{
    if (colors < 1 || colors > kMaxColors)
        throw GIFException("Invalid color count");
}

// Runs the quantizer over whatever feed adds, placing its colours into a
// palette of colors entries, or of 256 around the static colours.
HPALETTE BuildQuantizedPalette(const std::function<void(TColorQuantizer&)>& feed, int colors, int colorBits,
                               bool windows)
{
    CheckColorCount(colors);
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(windows ? kMaxColors : colors), PALETTEENTRY{0, 0, 0, 0});
    int offset = 0;
    if (windows) {
        std::vector<PALETTEENTRY> statics(20);
        GetPaletteEntries(static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), 0, 20, statics.data());
        std::copy(statics.begin(), statics.begin() + kStaticHalf, entries.begin());
        std::copy(statics.begin() + kStaticHalf, statics.end(), entries.end() - kStaticHalf);
        colors = kWindowsColors;
        offset = kStaticHalf;
    }
    TColorQuantizer quantizer(colors, colorBits);
    feed(quantizer);
    const auto table = quantizer.ColorTable();
    for (size_t i = 0; i < table.size() && static_cast<int>(i) < colors; ++i)
        entries[static_cast<size_t>(offset) + i] = {table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
    return MakePalette(entries);
}

HPALETTE FixedPalette(int count, const std::function<std::uint8_t(int)>& grey)
{
    std::vector<PALETTEENTRY> entries(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::uint8_t v = grey(i);
        entries[static_cast<size_t>(i)] = {v, v, v, PC_NOCOLLAPSE};
    }
    return MakePalette(entries);
}

}  // namespace

TColorQuantizer::TColorQuantizer(int colorLimit, int colorBits) : m_colorLimit(colorLimit), m_colorBits(colorBits)
{
    CheckColorCount(colorLimit);
    if (colorBits < 1 || colorBits > 8)
        throw GIFException("Invalid color bits");
}

TColorQuantizer::~TColorQuantizer() = default;

TOctreeNode* TColorQuantizer::CreateNode(int level)
{
    auto* node = new TOctreeNode;
    if (level == m_colorBits) {
        node->Leaf = true;
        ++m_leafCount;
    } else {
        node->Next = m_reducible[level];
        m_reducible[level] = node;
    }
    return node;
}

void TColorQuantizer::InsertColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    if (!m_root)
        m_root.reset(CreateNode(0));
    TOctreeNode* node = m_root.get();
    for (int level = 0; !node->Leaf; ++level) {
        const int shift = 7 - level;
        const int index = (((red >> shift) & 1) << 2) | (((green >> shift) & 1) << 1) | ((blue >> shift) & 1);
        auto& child = node->Children[index];
        if (!child)
            child.reset(CreateNode(level + 1));
        node = child.get();
    }
    ++node->PixelCount;
    node->RedSum += red;
    node->GreenSum += green;
    node->BlueSum += blue;
}

// Folds the newest inner node of the deepest level into a leaf holding the
// sums of its children.
void TColorQuantizer::MergeDeepestNode()
{
    int level = m_colorBits - 1;
    while (level > 0 && !m_reducible[level])
        --level;
    TOctreeNode* node = m_reducible[level];
    if (!node)
        return;
    m_reducible[level] = node->Next;
    int children = 0;
    node->RedSum = node->GreenSum = node->BlueSum = 0;
    for (auto& child : node->Children) {
        if (!child)
            continue;
        node->PixelCount += child->PixelCount;
        node->RedSum += child->RedSum;
        node->GreenSum += child->GreenSum;
        node->BlueSum += child->BlueSum;
        child.reset();
        ++children;
    }
    node->Leaf = true;
    m_leafCount -= children - 1;
}

void TColorQuantizer::AddRow(const std::uint8_t* bgr, int width)
{
    for (int x = 0; x < width; ++x, bgr += 3) {
        InsertColor(bgr[2], bgr[1], bgr[0]);
        while (m_leafCount > m_colorLimit)
            MergeDeepestNode();
    }
}

void TColorQuantizer::AddBitmap(TBitmap& bitmap) { AddRows24(*this, bitmap); }

std::vector<RGBQUAD> TColorQuantizer::ColorTable() const
{
    std::vector<RGBQUAD> table;
    std::function<void(const TOctreeNode*)> walk = [&](const TOctreeNode* node) {
        if (table.size() == kMaxColors)
            return;
        if (node->Leaf) {
            RGBQUAD c{0, 0, 0, 0};
            if (node->PixelCount > 0) {
                c.rgbRed = static_cast<BYTE>(node->RedSum / node->PixelCount);
                c.rgbGreen = static_cast<BYTE>(node->GreenSum / node->PixelCount);
                c.rgbBlue = static_cast<BYTE>(node->BlueSum / node->PixelCount);
            }
            table.push_back(c);
            return;
        }
        for (const auto& child : node->Children)
            if (child)
                walk(child.get());
    };
    if (m_root)
        walk(m_root.get());
    return table;
}

HPALETTE CreateOptimizedPaletteForBitmap(TBitmap& bitmap, int colors, int colorBits, bool windows)
{
    return BuildQuantizedPalette([&](TColorQuantizer& q) { q.AddBitmap(bitmap); }, colors, colorBits, windows);
}

HPALETTE CreateOptimizedPaletteFromManyBitmaps(const std::vector<TBitmap*>& bitmaps, int colors, int colorBits,
                                               bool windows)
{
    if (bitmaps.empty())
        throw GIFException("Invalid bitmap list");
    return BuildQuantizedPalette(
        [&](TColorQuantizer& q) {
            for (TBitmap* bitmap : bitmaps)
                q.AddBitmap(*bitmap);
        },
        colors, colorBits, windows);
}

HPALETTE CreateGrayScalePalette()
{
    return FixedPalette(256, [](int i) { return static_cast<std::uint8_t>(i); });
}

HPALETTE CreateMonochromePalette()
{
    return FixedPalette(2, [](int i) { return static_cast<std::uint8_t>(i ? 255 : 0); });
}

HPALETTE CreateWindowsGrayPalette()
{
    static constexpr std::uint8_t kGreys[] = {0, 128, 192, 255};
    return FixedPalette(4, [](int i) { return kGreys[i]; });
}

HPALETTE CreateWindowsHalftonePalette()
{
    HDC screen = GetDC(nullptr);
    HPALETTE palette = CreateHalftonePalette(screen);
    ReleaseDC(nullptr, screen);
    return palette;
}
