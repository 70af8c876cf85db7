#include "metafile.h"

#include "graphicbytes_p.h"

#include "gdi/metafile.h"
#include "gdi/mfplayer.h"
#include "rtl/streams.h"

#include <QPainter>
#include <QPicture>

namespace {

// Placeable metafile header (22 bytes, little-endian): key 0x9AC6CDD7,
// handle (2), bounding box left, top, right, bottom (signed 16-bit,
// metafile units), units per inch (2), reserved (4), checksum (2: the
// exclusive or of the ten words before it). The Windows metafile follows.
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kEmfSignatureOffset = 40;
constexpr std::int64_t kHundredthMmPerInch = 2540;
// A metafile file larger than this is refused unread.
constexpr std::int64_t kMaxMetafile = 64 * 1024 * 1024;


}  // namespace

TMetafile::TMetafile() : m_picture(std::make_unique<QPicture>()) {}

TMetafile::~TMetafile() { Clear(); }

void TMetafile::Clear()
{
    if (m_handle)
        DeleteEnhMetaFile(m_handle);
    m_handle = nullptr;
    m_file.clear();
    m_enhanced = false;
}

void TMetafile::LoadFromStream(TStream& stream)
{
    const std::int64_t size = stream.Size() - stream.Position();
    if (size < static_cast<std::int64_t>(kPlaceableSize) || size > kMaxMetafile)
        throw EInvalidGraphic("Metafile is not valid");
    std::string file(static_cast<std::size_t>(size), '\0');
    stream.ReadBuffer(file.data(), size);
    const auto* data = reinterpret_cast<const std::uint8_t*>(file.data());
    HENHMETAFILE handle = nullptr;
    std::int64_t mmWidth = 0, mmHeight = 0;
    bool enhanced = false;
    if (GraphicGet32(data) == kPlaceableKey) {
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 20; i += 2)
            sum ^= static_cast<std::uint16_t>(GraphicGet16(data + i));
        const auto left = static_cast<std::int16_t>(GraphicGet16(data + 6)), top = static_cast<std::int16_t>(GraphicGet16(data + 8));
        const auto right = static_cast<std::int16_t>(GraphicGet16(data + 10)),
                   bottom = static_cast<std::int16_t>(GraphicGet16(data + 12));
        const std::int64_t inch = GraphicGet16(data + 14);
        if (sum != GraphicGet16(data + 20) || inch == 0)
            throw EInvalidGraphic("Metafile is not valid");
        mmWidth = (static_cast<std::int64_t>(right) - left) * kHundredthMmPerInch / inch;
        mmHeight = (static_cast<std::int64_t>(bottom) - top) * kHundredthMmPerInch / inch;
        if (mmWidth <= 0 || mmHeight <= 0)
            throw EInvalidGraphic("Metafile is not valid");
        const METAFILEPICT picture {MM_ANISOTROPIC, static_cast<LONG>(mmWidth), static_cast<LONG>(mmHeight), nullptr};
        handle = SetWinMetaFileBits(static_cast<UINT>(file.size() - kPlaceableSize), data + kPlaceableSize, nullptr,
            &picture);
    } else if (file.size() >= sizeof(ENHMETAHEADER) && GraphicGet32(data + kEmfSignatureOffset) == ENHMETA_SIGNATURE) {
        handle = SetEnhMetaFileBits(static_cast<UINT>(file.size()), data);
        ENHMETAHEADER header {};
        if (handle && GetEnhMetaFileHeader(handle, sizeof header, &header) == 0) {
            DeleteEnhMetaFile(handle);
            handle = nullptr;
        }
        mmWidth = static_cast<std::int64_t>(header.rclFrame.right) - header.rclFrame.left;
        mmHeight = static_cast<std::int64_t>(header.rclFrame.bottom) - header.rclFrame.top;
        enhanced = true;
    }
    if (!handle)
        throw EInvalidGraphic("Metafile is not valid");
    // The frame is kept in 0.01 mm and shown at the screen's 96 dots per inch.
    const std::int64_t width = mmWidth * kScreenPixelsPerInch / kHundredthMmPerInch;
    const std::int64_t height = mmHeight * kScreenPixelsPerInch / kHundredthMmPerInch;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
        DeleteEnhMetaFile(handle);
        throw EInvalidGraphic("Metafile is not valid");
    }
    Clear();
    *m_picture = QPicture();
    m_handle = handle;
    m_file = std::move(file);
    m_enhanced = enhanced;
    m_width = static_cast<int>(width);
    m_height = static_cast<int>(height);
    Changed();
}

void TMetafile::SaveToStream(TStream& stream)
{
    if (m_file.empty())
        throw EInvalidGraphicOperation("Cannot save this metafile");
    stream.WriteBuffer(m_file.data(), static_cast<std::int64_t>(m_file.size()));
}

void TMetafile::Draw(TCanvas& canvas, const TRect& rect)
{
    if (!m_handle) {
        StretchDraw(canvas, rect);
        return;
    }
    if (rect.IsEmpty())
        return;
    const RECT target {rect.Left, rect.Top, rect.Right, rect.Bottom};
    if (canvas.Handle())
        PlayEnhMetaFile(canvas.Handle(), m_handle, &target);
    else if (QPainter* p = canvas.Painter())
        PlayMetafile(p, m_handle, QRectF(rect.Left, rect.Top, rect.Width(), rect.Height()));
}

void TMetafile::SetWidth(int width)
{
    m_width = std::max(0, width);
    m_picture->setBoundingRect(QRect(0, 0, m_width, m_height));
}

void TMetafile::SetHeight(int height)
{
    m_height = std::max(0, height);
    m_picture->setBoundingRect(QRect(0, 0, m_width, m_height));
}

bool TMetafile::Empty() const { return !m_handle && m_picture->isNull(); }

std::int64_t TMetafile::Size() const
{
    return m_handle ? static_cast<std::int64_t>(m_file.size()) : static_cast<std::int64_t>(m_picture->size());
}

void TMetafile::StretchDraw(TCanvas& canvas, const TRect& rect) const
{
    QPainter* p = canvas.Painter();
    if (!p || m_recording || m_width <= 0 || m_height <= 0 || rect.IsEmpty())
        return;
    // QPicture plays its recording scaled by the target's resolution over
    // its own (a 1200 dpi printer page would get 12.5 times the size); the
    // frame is to cover the rectangle exactly, so that scale is taken out.
    const QPaintDevice* device = p->device();
    const double dpiX = static_cast<double>(m_picture->logicalDpiX()) / device->logicalDpiX();
    const double dpiY = static_cast<double>(m_picture->logicalDpiY()) / device->logicalDpiY();
    p->save();
    p->translate(rect.Left, rect.Top);
    p->scale(dpiX * rect.Width() / m_width, dpiY * rect.Height() / m_height);
    p->drawPicture(0, 0, *m_picture);
    p->restore();
}

TMetafileCanvas::TMetafileCanvas(TMetafile& metafile)
    : m_metafile(metafile), m_recorder(std::make_unique<QPainter>()), m_windowW(metafile.Width()),
      m_windowH(metafile.Height()), m_viewportW(metafile.Width()), m_viewportH(metafile.Height())
{
    metafile.Clear();
    QPicture& picture = *metafile.m_picture;
    picture = QPicture();
    picture.setBoundingRect(QRect(0, 0, metafile.Width(), metafile.Height()));
    m_recorder->begin(&picture);
    metafile.m_recording = true;
    SetPainter(m_recorder.get());
}

TMetafileCanvas::~TMetafileCanvas()
{
    SetPainter(nullptr);
    m_recorder->end();
    // The frame stays what the metafile says, whatever the drawing covered.
    m_metafile.m_picture->setBoundingRect(QRect(0, 0, m_metafile.Width(), m_metafile.Height()));
    m_metafile.m_recording = false;
}

void TMetafileCanvas::SetWindowExt(int width, int height)
{
    m_windowW = width;
    m_windowH = height;
    ApplyMapping();
}

void TMetafileCanvas::SetViewportExt(int width, int height)
{
    m_viewportW = width;
    m_viewportH = height;
    ApplyMapping();
}

void TMetafileCanvas::ApplyMapping()
{
    // A zero extent maps nothing anywhere; the previous mapping stays.
    if (m_windowW == 0 || m_windowH == 0 || m_viewportW == 0 || m_viewportH == 0)
        return;
    m_recorder->setViewTransformEnabled(true);
    m_recorder->setWindow(0, 0, m_windowW, m_windowH);
    m_recorder->setViewport(0, 0, m_viewportW, m_viewportH);
}
