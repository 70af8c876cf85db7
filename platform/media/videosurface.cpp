#include "videosurface_p.h"

#include <QEvent>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

VideoSurface::VideoSurface(QWidget* parent) : QWidget(parent), m_sink(new QVideoSink(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    QObject::connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        m_frame = frame.toImage();
        update();
    });
}

VideoSurface::~VideoSurface() = default;

void VideoSurface::Clear()
{
    m_frame = QImage();
    update();
}

void VideoSurface::FillParent()
{
    if (QWidget* p = parentWidget()) {
        p->installEventFilter(this);
        setGeometry(p->rect());
        raise();
    }
}

bool VideoSurface::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}

void VideoSurface::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (m_frame.isNull())
        return;
    const QSize fit = m_frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fit.width()) / 2, (height() - fit.height()) / 2), fit);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_frame);
}
