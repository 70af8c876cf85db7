#include "metafile.h"

#include <QPainter>
#include <QPicture>

TMetafile::TMetafile() : m_picture(std::make_unique<QPicture>()) {}

TMetafile::~TMetafile() = default;

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

bool TMetafile::Empty() const { return m_picture->isNull(); }

std::int64_t TMetafile::Size() const { return m_picture->size(); }

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
