#include "caret.h"

#include "controls.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// A child widget over the owner that inverts the pixels under the white
// part of the shape: the owner has painted beneath it in the same backing
// store by the time the child paints, so a difference blend inverts them.
class CaretWidget : public QWidget {
public:
    CaretWidget(QWidget* parent, QImage shape) : QWidget(parent), m_shape(std::move(shape))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        resize(m_shape.size());
        m_blink.setInterval(530);
        QObject::connect(&m_blink, &QTimer::timeout, this, [this] {
            m_on = !m_on;
            update();
        });
    }
    void Start()
    {
        m_on = true;
        m_blink.start();
        show();
        raise();
        update();
    }
    void Stop()
    {
        m_blink.stop();
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!m_on)
            return;
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Difference);
        for (int y = 0; y < m_shape.height(); ++y)
            for (int x = 0; x < m_shape.width(); ++x)
                if ((m_shape.pixel(x, y) & 0xFFFFFF) != 0)
                    p.fillRect(x, y, 1, 1, Qt::white);
    }

private:
    QImage m_shape;
    QTimer m_blink;
    bool m_on = true;
};

struct CaretState {
    TWinControl* owner = nullptr;
    QPointer<CaretWidget> widget;
    TPoint pos;
    int hideCount = 1;  // a new caret starts hidden
};

CaretState& State()
{
    static CaretState s;
    return s;
}

}  // namespace

bool CreateCaret(TWinControl* owner, const TBitmap* shape, int width, int height)
{
    if (!owner || !owner->Widget())
        return false;
    DestroyCaret();
    QImage image;
    if (shape && !shape->Empty())
        image = shape->Image().convertToFormat(QImage::Format_RGB32);
    else {
        image = QImage(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
        image.fill(Qt::white);
    }
    CaretState& s = State();
    s.owner = owner;
    s.widget = new CaretWidget(owner->Widget(), image);
    s.widget->hide();
    s.pos = {};
    s.hideCount = 1;
    return true;
}

bool DestroyCaret()
{
    CaretState& s = State();
    if (!s.owner)
        return false;
    delete s.widget.data();
    s.owner = nullptr;
    s.hideCount = 1;
    return true;
}

bool SetCaretPos(int x, int y)
{
    CaretState& s = State();
    if (!s.owner)
        return false;
    s.pos = {x, y};
    if (s.widget)
        s.widget->move(x, y);
    return true;
}

bool GetCaretPos(TPoint& pos)
{
    CaretState& s = State();
    if (!s.owner)
        return false;
    pos = s.pos;
    return true;
}

bool ShowCaret(TWinControl* owner)
{
    CaretState& s = State();
    if (!s.owner || (owner && owner != s.owner))
        return false;
    if (s.hideCount > 0 && --s.hideCount == 0 && s.widget)
        s.widget->Start();
    return true;
}

bool HideCaret(TWinControl* owner)
{
    CaretState& s = State();
    if (!s.owner || (owner && owner != s.owner))
        return false;
    if (s.hideCount++ == 0 && s.widget)
        s.widget->Stop();
    return true;
}

TWinControl* CaretOwner() { return State().owner; }

bool CaretVisible() { return State().owner && State().hideCount == 0; }
