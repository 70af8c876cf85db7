// The image control.
#include "extctrls.h"

#include "gdi/wingdi.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace {

class ImageWidget : public QWidget {
public:
    explicit ImageWidget(TImage* owner) : m_owner(owner) {}

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QRect r = event->rect().intersected(rect());
        if (r.isEmpty())
            return;
        TBitmap buffer;
        m_owner->PaintArea(buffer, Rect(r.left(), r.top(), r.right() + 1, r.bottom() + 1));
        QPainter painter(this);
        painter.drawImage(r.topLeft(), buffer.Image());
    }

private:
    TImage* m_owner;
};

}  // namespace

TImage::TImage(TComponent* owner) : TControl(owner), m_picture(std::make_unique<TPicture>())
{
    SetWidget(new ImageWidget(this));
    m_picture->OnChange = [this](TObject*) { PictureChanged(); };
    SetBounds(0, 0, 105, 105);
}

TImage::~TImage() = default;

TCanvas& TImage::Canvas() { return m_picture->Bitmap()->Canvas(); }

void TImage::PictureChanged()
{
    if (m_autoSize && Align() == alNone && m_picture->Width() > 0 && m_picture->Height() > 0)
        SetBounds(Left(), Top(), m_picture->Width(), m_picture->Height());
    Invalidate();
}

void TImage::SetAutoSize(bool autoSize)
{
    if (autoSize == m_autoSize)
        return;
    m_autoSize = autoSize;
    PictureChanged();
}

void TImage::SetCenter(bool center)
{
    if (center == m_center)
        return;
    m_center = center;
    Invalidate();
}

void TImage::SetProportional(bool proportional)
{
    if (proportional == m_proportional)
        return;
    m_proportional = proportional;
    Invalidate();
}

void TImage::SetStretch(bool stretch)
{
    if (stretch == m_stretch)
        return;
    m_stretch = stretch;
    Invalidate();
}

TRect TImage::DestRect() const { return DestRectFor(Width(), Height()); }

TRect TImage::DestRectFor(int cw, int ch) const
{
    int w = m_picture->Width(), h = m_picture->Height();
    // Stretched, or shrunk with its proportions when it does not fit; a
    // proportional picture that fits is never enlarged.
    if (m_stretch || (m_proportional && (w > cw || h > ch))) {
        if (m_proportional && w > 0 && h > 0) {
            const double aspect = static_cast<double>(w) / h;
            if (w > h) {
                w = cw;
                h = static_cast<int>(cw / aspect);
                if (h > ch) {
                    h = ch;
                    w = static_cast<int>(ch * aspect);
                }
            } else {
                h = ch;
                w = static_cast<int>(ch * aspect);
                if (w > cw) {
                    w = cw;
                    h = static_cast<int>(cw / aspect);
                }
            }
        } else {
            w = cw;
            h = ch;
        }
    }
    TRect r = Rect(0, 0, w, h);
    if (m_center) {
        const int dx = (cw - w) / 2, dy = (ch - h) / 2;
        r = Rect(dx, dy, dx + w, dy + h);
    }
    return r;
}

void TImage::PaintArea(TBitmap& target, const TRect& area)
{
    target.SetPixelFormat(pf32bit);
    target.SetSize(area.Width(), area.Height());
    TCanvas& canvas = target.Canvas();
    // What the graphic leaves uncovered shows the colour of the control
    // below, as a control without a background of its own does.
    const TColor background = Parent() ? Parent()->Color() : clBtnFace;
    canvas.Brush().SetColor(background);
    canvas.FillRect(Rect(0, 0, area.Width(), area.Height()));
    TGraphic* graphic = m_picture->Graphic();
    if (!graphic || graphic->Empty())
        return;
    const TRect d = DestRect();
    // A graphic that cannot render (a GIF frame without any colour table)
    // leaves the background: an exception must not leave a paint event.
    try {
        canvas.StretchDraw(Rect(d.Left - area.Left, d.Top - area.Top, d.Right - area.Left, d.Bottom - area.Top), graphic);
    } catch (const Exception&) {
    }
}
