// Writing the object tree of a GIF image back as a GIF stream: the header
// and its global table, every frame with its extensions, descriptor, local
// table and compressed pixels, and the trailer. The byte layouts are drawn
// next to the records in gifitems.h, gifextensions.h and gifframe.h.
#include "imaging/gif/gifencoder.h"
#include "imaging/gif/gifextensions.h"
#include "imaging/gif/gifframe.h"
#include "imaging/gif/gifimage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr std::uint8_t kTrailer = ';';
constexpr std::size_t kSubBlockBytes = 255;

void PutByte(TStream& stream, std::uint8_t value) { stream.WriteBuffer(&value, 1); }

void PutWord(TStream& stream, std::uint16_t value)
{
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    stream.WriteBuffer(bytes, 2);
}

// Every line in sub-blocks of at most 255 bytes (an empty line takes none),
// then the terminator.
void WriteTextSubBlocks(TStream& stream, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        for (std::size_t at = 0; at < line.size(); at += kSubBlockBytes) {
            const std::size_t n = std::min(kSubBlockBytes, line.size() - at);
            PutByte(stream, static_cast<std::uint8_t>(n));
            stream.WriteBuffer(line.data() + at, static_cast<std::int64_t>(n));
        }
    PutByte(stream, 0);
}

const char* VersionText(TGIFVersion version) { return version == gv89a ? "89a" : "87a"; }

}  // namespace

void SaveColorMap(const TGIFColorMap& map, TStream& stream)
{
    if (map.Count() == 0)
        return;
    for (int i = 0; i < map.Count(); ++i) {
        const TGIFColor& c = map.Entry(i);
        const std::uint8_t rgb[3] = {c.Red, c.Green, c.Blue};
        stream.WriteBuffer(rgb, 3);
    }
    const std::uint8_t black[3] = {0, 0, 0};
    for (int i = map.Count(); i < (1 << map.BitsPerPixel()); ++i)
        stream.WriteBuffer(black, 3);
}

void TGIFList::SaveToStream(TStream& stream)
{
    for (int i = 0; i < Count(); ++i)
        Item(i)->SaveToStream(stream);
}

void TGIFHeader::SaveToStream(TStream& stream)
{
    const TGIFVersion version = Image() ? Image()->GetVersion() : gvUnknown;
    if (version == gvUnknown)
        GIFError(gifmsg::BadVersion);
    Prepare();
    stream.WriteBuffer("GIF", 3);
    stream.WriteBuffer(VersionText(version), 3);
    PutWord(stream, m_descriptor.ScreenWidth);
    PutWord(stream, m_descriptor.ScreenHeight);
    PutByte(stream, m_descriptor.PackedFields);
    PutByte(stream, m_descriptor.BackgroundColorIndex);
    PutByte(stream, m_descriptor.AspectRatio);
    if (m_descriptor.PackedFields & kGlobalTable)
        SaveColorMap(m_colorMap, stream);
}

void TGIFTrailer::SaveToStream(TStream& stream) { PutByte(stream, kTrailer); }

void TGIFExtension::SaveToStream(TStream& stream)
{
    PutByte(stream, kIntroducer);
    PutByte(stream, GetExtensionType());
}

void TGIFGraphicControlExtension::SaveToStream(TStream& stream)
{
    // The reader takes the record as six bytes whatever its size byte and
    // terminator say; a copy of damaged ones would mislead every reader that
    // trusts them into the image after it, so the copy is well formed.
    TGIFExtension::SaveToStream(stream);
    PutByte(stream, 4);
    PutByte(stream, m_record.PackedFields);
    PutWord(stream, m_record.DelayTime);
    PutByte(stream, m_record.TransparentColorIndex);
    PutByte(stream, 0);
}

void TGIFTextExtension::SaveToStream(TStream& stream)
{
    TGIFExtension::SaveToStream(stream);
    PutByte(stream, 12);  // the twelve bytes below, whatever size the file read claimed
    for (std::uint16_t v : {m_record.Left, m_record.Top, m_record.Width, m_record.Height})
        PutWord(stream, v);
    for (std::uint8_t v : {m_record.CellWidth, m_record.CellHeight, m_record.TextFGColorIndex, m_record.TextBGColorIndex})
        PutByte(stream, v);
    WriteTextSubBlocks(stream, m_text);
}

void TGIFCommentExtension::SaveToStream(TStream& stream)
{
    TGIFExtension::SaveToStream(stream);
    WriteTextSubBlocks(stream, m_text);
}

void TGIFApplicationExtension::SaveToStream(TStream& stream)
{
    TGIFExtension::SaveToStream(stream);
    PutByte(stream, static_cast<std::uint8_t>(m_rec.size()));
    stream.WriteBuffer(m_rec.data(), static_cast<std::int64_t>(m_rec.size()));
    SaveData(stream);
}

void TGIFUnknownAppExtension::SaveData(TStream& stream)
{
    for (const TGIFBlock& block : m_blocks) {
        PutByte(stream, static_cast<std::uint8_t>(block.Data.size()));
        stream.WriteBuffer(block.Data.data(), static_cast<std::int64_t>(block.Data.size()));
    }
    PutByte(stream, 0);
}

void TGIFAppExtNSLoop::SaveData(TStream& stream)
{
    PutByte(stream, 3);
    PutByte(stream, 1);
    PutWord(stream, m_loops);
    if (m_bufferSize != 0) {
        PutByte(stream, 5);
        PutByte(stream, 2);
        const std::uint8_t size[4] = {static_cast<std::uint8_t>(m_bufferSize), static_cast<std::uint8_t>(m_bufferSize >> 8),
                                      static_cast<std::uint8_t>(m_bufferSize >> 16),
                                      static_cast<std::uint8_t>(m_bufferSize >> 24)};
        stream.WriteBuffer(size, 4);
    }
    PutByte(stream, 0);
}

void TGIFSubImage::Prepare()
{
    std::uint8_t packed = m_descriptor.PackedFields & static_cast<std::uint8_t>(~(kLocalTable | 0x20 | kTableSize));
    if (m_colorMap.Count() > 0) {
        packed |= kLocalTable;
        if (m_colorMap.Optimized())
            packed |= 0x20;
        packed |= static_cast<std::uint8_t>((m_colorMap.BitsPerPixel() - 1) & kTableSize);
    }
    m_descriptor.PackedFields = packed;
}

void TGIFSubImage::Compress(TStream& stream)
{
    int bits = 0;
    int colors = 0;
    if (m_colorMap.Count() > 0) {
        colors = m_colorMap.Count();
        bits = m_colorMap.BitsPerPixel();
    } else {
        bits = Image()->GetBitsPerPixel();
        colors = 1 << bits;
    }
    TLZWEncoder lzw;
    TRLEEncoder rle;
    TGIFEncoder& encoder = Image()->Compression() == gcRLE ? static_cast<TGIFEncoder&>(rle) : lzw;
    encoder.Compress(stream, bits, Width(), Height(), GetInterlaced(), m_pixels.empty() ? nullptr : m_pixels.data(),
                     colors);
}

void TGIFSubImage::SaveToStream(TStream& stream)
{
    m_extensions.SaveToStream(stream);
    if (Empty())
        return;
    Prepare();
    PutByte(stream, m_descriptor.Separator);
    PutWord(stream, m_descriptor.Left);
    PutWord(stream, m_descriptor.Top);
    PutWord(stream, m_descriptor.Width);
    PutWord(stream, m_descriptor.Height);
    PutByte(stream, m_descriptor.PackedFields);
    SaveColorMap(m_colorMap, stream);
    Compress(stream);
}

void TGIFImage::SaveToStream(TStream& stream)
{
    ReportProgress(this, psStarting, 0, false, gifmsg::Saving);
    try {
        m_header.SaveToStream(stream);
        for (int i = 0; i < m_images.Count(); ++i) {
            m_images.Image(i)->SaveToStream(stream);
            const double percent = std::round((i + 1) * 100.0 / m_images.Count());
            ReportProgress(&m_images, psRunning, static_cast<std::uint8_t>(percent), false, gifmsg::Saving);
        }
        TGIFTrailer trailer(this);
        trailer.SaveToStream(stream);
    } catch (...) {
        ReportProgress(this, psEnding, 0, true, gifmsg::Saving);
        throw;
    }
    ReportProgress(this, psEnding, 100, true, gifmsg::Saving);
}

void TGIFImage::WriteData(TStream& stream)
{
    if (GIFImageOptimizeOnStream)
        Optimize(ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColors, rmNone, dmNearest, 8);
    SaveToStream(stream);
}
