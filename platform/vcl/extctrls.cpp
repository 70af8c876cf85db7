#include "extctrls.h"

#include "rtl/clock.h"

#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

TPanel::TPanel(TComponent* owner) : TWinControl(owner)
{
    auto* f = new QFrame();
    f->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SetWidget(f);
}

void TPanel::SetBevelOuter(TBevelCut bevel)
{
    m_bevelOuter = bevel;
    auto* f = static_cast<QFrame*>(Widget());
    switch (bevel) {
    case TBevelCut::bvNone: f->setFrameStyle(QFrame::NoFrame); break;
    case TBevelCut::bvLowered: f->setFrameStyle(QFrame::Panel | QFrame::Sunken); break;
    case TBevelCut::bvRaised: f->setFrameStyle(QFrame::Panel | QFrame::Raised); break;
    }
    AlignControls();
}

void TPanel::SetBorderStyleSingle(bool single)
{
    auto* f = static_cast<QFrame*>(Widget());
    f->setFrameStyle(single ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    AlignControls();
}

void TPanel::CaptionChanged()
{
    // A panel shows its caption centred behind its children.
    auto* label = Widget()->findChild<QLabel*>("caption", Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(Widget());
        label->setObjectName("caption");
        label->setAlignment(Qt::AlignCenter);
        auto* layout = new QVBoxLayout(Widget());
        layout->addWidget(label);
        label->lower();
    }
    label->setText(QString::fromStdString(Caption()));
}

TSplitter::TSplitter(TComponent* owner) : TControl(owner)
{
    SetWidget(new QWidget());
    SetAlign(alLeft);
    SetBounds(0, 0, 3, 100);
}

TControl* TSplitter::FindControl() const
{
    TWinControl* parent = Parent();
    if (!parent)
        return nullptr;
    for (int i = 0; i < parent->ControlCount(); ++i) {
        TControl* c = parent->Controls(i);
        if (c == this || !c->Visible() || c->Align() != Align())
            continue;
        switch (Align()) {
        case alLeft:
            if (c->Left() + c->Width() == Left())
                return c;
            break;
        case alRight:
            if (c->Left() == Left() + Width())
                return c;
            break;
        case alTop:
            if (c->Top() + c->Height() == Top())
                return c;
            break;
        case alBottom:
            if (c->Top() == Top() + Height())
                return c;
            break;
        default: break;
        }
    }
    return nullptr;
}

void TSplitter::AlignChanged(TAlign)
{
    // A splitter is thin one way and stretched across its parent the other.
    // Turned between a row and a column it keeps the thin side; otherwise it
    // would come out as wide (or high) as the parent and cover its neighbours.
    const int thickness = std::min(Width(), Height());
    if (Align() == alLeft || Align() == alRight)
        SetBounds(Left(), Top(), thickness, Height());
    else if (Align() == alTop || Align() == alBottom)
        SetBounds(Left(), Top(), Width(), thickness);
}

void TSplitter::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    TControl::MouseDown(button, shift, x, y);
    if (button != mbLeft)
        return;
    m_target = FindControl();
    const TPoint screen = ClientToScreen({x, y});
    const bool horizontal = Align() == alLeft || Align() == alRight;
    m_downPos = horizontal ? screen.X : screen.Y;
    if (m_target)
        m_startSize = horizontal ? m_target->Width() : m_target->Height();
}

void TSplitter::MouseMove(TShiftState shift, int x, int y)
{
    TControl::MouseMove(shift, x, y);
    if (!m_target || !(shift & ssLeft))
        return;
    const TPoint screen = ClientToScreen({x, y});
    int delta = (Align() == alLeft || Align() == alRight) ? screen.X - m_downPos : screen.Y - m_downPos;
    if (Align() == alRight || Align() == alBottom)
        delta = -delta;
    const int size = std::max(MinSize, m_startSize + delta);
    if (Align() == alLeft || Align() == alRight)
        m_target->SetWidth(size);
    else
        m_target->SetHeight(size);
}

void TSplitter::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    TControl::MouseUp(button, shift, x, y);
    if (m_target && OnMoved)
        OnMoved(this);
    m_target = nullptr;
}

TScrollBox::TScrollBox(TComponent* owner) : TWinControl(owner)
{
    m_area = new QScrollArea();
    m_content = new QWidget();
    m_area->setWidget(m_content);
    m_area->setWidgetResizable(false);
    SetWidget(m_area);
}

QWidget* TScrollBox::ClientWidget() const { return m_content; }

void TScrollBox::AlignControls()
{
    int w = 0, h = 0;
    for (int i = 0; i < ControlCount(); ++i) {
        TControl* c = Controls(i);
        // Aligned children take the visible area, whatever size they had:
        // only the others make the area scroll.
        if (!c->Visible() || c->Align() != alNone)
            continue;
        w = std::max(w, c->Left() + c->Width());
        h = std::max(h, c->Top() + c->Height());
    }
    const QSize viewport = m_area->viewport()->size();
    if (!m_autoScroll)
        m_content->resize(viewport);
    else
        m_content->resize(std::max(w, viewport.width()), std::max(h, viewport.height()));
    TWinControl::AlignControls();
}

int TScrollBox::HorzPosition() const { return m_area->horizontalScrollBar()->value(); }
int TScrollBox::VertPosition() const { return m_area->verticalScrollBar()->value(); }

void TScrollBox::SetAutoScroll(bool autoScroll)
{
    if (autoScroll == m_autoScroll)
        return;
    m_autoScroll = autoScroll;
    const Qt::ScrollBarPolicy policy = autoScroll ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    m_area->setHorizontalScrollBarPolicy(policy);
    m_area->setVerticalScrollBarPolicy(policy);
    if (!autoScroll)
        ScrollTo(0, 0);
    AlignControls();
}

void TScrollBox::ScrollTo(int x, int y)
{
    m_area->horizontalScrollBar()->setValue(x);
    m_area->verticalScrollBar()->setValue(y);
}

TTimer::TTimer(TComponent* owner) : TComponent(owner) { Restart(); }

TTimer::~TTimer() { Stop(); }

void TTimer::SetEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Restart();
}

void TTimer::SetInterval(unsigned ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    Restart();
}

void TTimer::Stop()
{
    if (m_manual) {
        m_manual->RemoveTimer(m_manualId);
        m_manual = nullptr;
        m_manualId = 0;
    }
    delete m_qtimer;
    m_qtimer = nullptr;
}

void TTimer::Restart()
{
    Stop();
    if (!m_enabled || m_interval == 0)
        return;
    auto fire = [this] {
        if (OnTimer)
            OnTimer(this);
    };
    if (auto* manual = dynamic_cast<ManualClock*>(&CurrentClock())) {
        m_manual = manual;
        m_manualId = manual->AddTimer(m_interval, fire);
        return;
    }
    m_qtimer = new QTimer();
    QObject::connect(m_qtimer, &QTimer::timeout, fire);
    m_qtimer->start(static_cast<int>(m_interval));
}
