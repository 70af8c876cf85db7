#include "imaging/gif/gifitems.h"

#include "imaging/gif/gifimage.h"
#include "imaging/gif/gifstream.h"

#include <cctype>

void TGIFItem::Warning(TGIFSeverity severity, const std::string& message)
{
    if (m_image)
        m_image->Warning(this, severity, message);
}

void TGIFItem::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGIFItem::SaveToFile(const std::string& fileName)
{
    TMemoryStream stream;
    SaveToStream(stream);
    WriteFileAtomically(fileName, std::string_view(reinterpret_cast<const char*>(stream.Memory()),
                                                   static_cast<std::size_t>(stream.Size())));
}

TGIFList::~TGIFList() { Clear(); }

void TGIFList::Delete(int index)
{
    TGIFItem* item = Item(index);
    m_items.Delete(index);
    delete item;
}

void TGIFList::Clear()
{
    // A frame or an extension takes itself out of its list when freed, so
    // the list is emptied from the front, one item at a time.
    while (Count() > 0)
        Delete(0);
}

void TGIFList::Warning(TGIFSeverity severity, const std::string& message)
{
    if (m_image)
        m_image->Warning(this, severity, message);
}

// The global table: its pixels are those of every frame without a table
// of its own.
TGIFGlobalColorMap::~TGIFGlobalColorMap() = default;

void TGIFGlobalColorMap::Warning(TGIFSeverity severity, const std::string& message)
{
    if (TGIFImage* image = m_header->Image())
        image->Warning(this, severity, message);
}

namespace {

template <class F>
void ForFramesUsing(TGIFImage* image, const TGIFColorMap* map, F&& f)
{
    if (!image)
        return;
    for (int i = 0; i < image->Images().Count(); ++i) {
        TGIFSubImage* frame = image->Images().Image(i);
        if (&frame->GetActiveColorMap() == map)
            f(*frame);
    }
}

void CountPixels(TGIFSubImage& frame, TColorHistogram& histogram, int count)
{
    for (std::uint8_t p : frame.Pixels())
        if (p < count)
            histogram[p].Count++;
}

void MapPixels(TGIFSubImage& frame, const TColorMapping& map)
{
    if (!frame.Empty()) {
        for (int y = 0; y < frame.Height(); ++y) {
            std::uint8_t* row = frame.GetScanline(y);
            for (int x = 0; x < frame.Width(); ++x)
                row[x] = map[row[x]];
        }
    }
    if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension(); gce && frame.Transparent())
        gce->SetTransparentColorIndex(map[gce->GetTransparentColorIndex() & 0xFF]);
    frame.FreeBitmap();
}

void StartHistogram(TColorHistogram& histogram, int count)
{
    for (int i = 0; i < count; ++i)
        histogram[static_cast<std::size_t>(i)] = {0, static_cast<std::uint32_t>(i)};
}

}  // namespace

void TGIFGlobalColorMap::BuildHistogram(TColorHistogram& histogram)
{
    StartHistogram(histogram, Count());
    ForFramesUsing(m_header->Image(), this, [&](TGIFSubImage& f) { CountPixels(f, histogram, Count()); });
}

void TGIFGlobalColorMap::MapImages(const TColorMapping& map)
{
    ForFramesUsing(m_header->Image(), this, [&](TGIFSubImage& f) { MapPixels(f, map); });
}

bool TGIFGlobalColorMap::Optimize()
{
    TGIFImage* image = m_header->Image();
    if (!image || image->Images().Count() == 0)
        return false;
    return DoOptimize();
}

void TGIFGlobalColorMap::Changed()
{
    if (TGIFImage* image = m_header->Image())
        image->SetPalette(nullptr);
}

TGIFLocalColorMap::~TGIFLocalColorMap() = default;

void TGIFLocalColorMap::Warning(TGIFSeverity severity, const std::string& message) { m_frame->Warning(severity, message); }

void TGIFLocalColorMap::BuildHistogram(TColorHistogram& histogram)
{
    StartHistogram(histogram, Count());
    CountPixels(*m_frame, histogram, Count());
}

void TGIFLocalColorMap::MapImages(const TColorMapping& map) { MapPixels(*m_frame, map); }

bool TGIFLocalColorMap::Optimize() { return DoOptimize(); }

void TGIFLocalColorMap::Changed() { m_frame->SetPalette(nullptr); }

void LoadColorMap(TGIFColorMap& map, TStream& stream, int count)
{
    TGIFColor colors[TGIFColorMap::kMaxColors];
    count = std::clamp(count, 0, TGIFColorMap::kMaxColors);
    gifio::ReadExact(stream, colors, 3 * count);
    map.ImportColorMap(colors, count);
}

TGIFHeader::TGIFHeader(TGIFImage* image) : TGIFItem(image), m_colorMap(this) {}

TGIFHeader::~TGIFHeader() = default;

void TGIFHeader::Clear()
{
    m_colorMap.Clear();
    m_descriptor = {};
}

void TGIFHeader::Prepare()
{
    std::uint8_t packed = 0;
    int bits = 0;
    if (m_colorMap.Count() > 0) {
        packed |= kGlobalTable;
        if (m_colorMap.Optimized())
            packed |= kSorted;
        bits = m_colorMap.BitsPerPixel();
    } else if (Image()) {
        bits = Image()->GetBitsPerPixel();
    }
    const int resolution = Image() ? Image()->GetColorResolution() : 0;
    packed |= static_cast<std::uint8_t>((resolution & 7) << 4);
    packed |= static_cast<std::uint8_t>((bits - 1) & 7);
    m_descriptor.PackedFields = packed;
}

TGIFVersion TGIFHeader::GetVersion() const
{
    return m_colorMap.Optimized() || m_descriptor.AspectRatio != 0 ? gv89a : gv87a;
}

COLORREF TGIFHeader::GetBackgroundColor() { return m_colorMap.GetColor(m_descriptor.BackgroundColorIndex); }

void TGIFHeader::SetBackgroundColor(COLORREF color) { SetBackgroundColorIndex(m_colorMap.AddUnique(color)); }

void TGIFHeader::SetBackgroundColorIndex(int index)
{
    if (m_colorMap.Count() > 0 && index >= m_colorMap.Count()) {
        Warning(TGIFSeverity::Warning, gifmsg::BadColorIndex);
        index = 0;
    }
    m_descriptor.BackgroundColorIndex = static_cast<std::uint8_t>(index);
}

void TGIFHeader::Assign(const TPersistent* source)
{
    if (const auto* other = dynamic_cast<const TGIFHeader*>(source)) {
        m_colorMap.Assign(&other->m_colorMap);
        m_descriptor = other->m_descriptor;
        return;
    }
    if (const auto* map = dynamic_cast<const TGIFColorMap*>(source)) {
        Clear();
        m_colorMap.Assign(map);
        return;
    }
    TGIFItem::Assign(source);
}

void TGIFHeader::LoadFromStream(TStream& stream)
{
    // "GIF" may also stand four bytes into the data.
    const std::int64_t start = stream.Position();
    std::uint8_t sig[6];
    const auto isGif = [&] {
        return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F';
    };
    gifio::ReadExact(stream, sig, 6);
    if (!isGif()) {
        stream.SetPosition(start + 4);
        gifio::ReadExact(stream, sig, 6);
        if (!isGif())
            GIFError(gifmsg::BadSignature);
    }
    std::uint8_t lsd[7];
    gifio::ReadExact(stream, lsd, 7);
    m_descriptor.ScreenWidth = static_cast<std::uint16_t>(lsd[0] | (lsd[1] << 8));
    m_descriptor.ScreenHeight = static_cast<std::uint16_t>(lsd[2] | (lsd[3] << 8));
    m_descriptor.PackedFields = lsd[4];
    m_descriptor.BackgroundColorIndex = lsd[5];
    m_descriptor.AspectRatio = lsd[6];
    if (m_descriptor.PackedFields & kGlobalTable)
        LoadColorMap(m_colorMap, stream, 2 << (m_descriptor.PackedFields & kTableSize));
    else
        m_colorMap.Clear();
}

void TGIFTrailer::LoadFromStream(TStream& stream)
{
    const int b = gifio::GetStreamByte(stream);
    if (b >= 0 && b != ';')
        Warning(TGIFSeverity::Warning, gifmsg::BadTrailer);
}
