#include "controls.h"

#include "menus.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QWidget>

#include <algorithm>
#include <unordered_map>

namespace {

class EventForwarder : public QObject {
public:
    explicit EventForwarder(TControl* c) : control(c) {}
    bool eventFilter(QObject*, QEvent* e) override { return control->HandleEvent(e); }
    TControl* control;
};

// Relayouts a windowed control's aligned children when its client area resizes.
class ClientResizeWatcher : public QObject {
public:
    explicit ClientResizeWatcher(TWinControl* c) : control(c) {}
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Resize)
            control->AlignControls();
        return false;
    }
    TWinControl* control;
};

TMouseButton ButtonFromQt(Qt::MouseButton b)
{
    return b == Qt::RightButton ? mbRight : b == Qt::MiddleButton ? mbMiddle : mbLeft;
}

Qt::CursorShape CursorShape(TCursor c)
{
    switch (c) {
    case TCursor::crHourGlass: return Qt::WaitCursor;
    case TCursor::crHandPoint: return Qt::PointingHandCursor;
    case TCursor::crSizeWE: return Qt::SplitHCursor;
    case TCursor::crSizeNS: return Qt::SplitVCursor;
    case TCursor::crDrag: return Qt::DragMoveCursor;
    case TCursor::crIBeam: return Qt::IBeamCursor;
    default: return Qt::ArrowCursor;
    }
}

}

// The widget of a custom control: paints through the control's canvas.
class PaintWidget : public QWidget {
public:
    explicit PaintWidget(TCustomControl* c) : control(c) { setAttribute(Qt::WA_OpaquePaintEvent); }
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        control->Canvas().SetPainter(&painter);
        control->Paint();
        control->Canvas().SetPainter(nullptr);
    }
    TCustomControl* control;
};

WORD VirtualKeyFromQtKey(int k)
{
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        return static_cast<WORD>('A' + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return static_cast<WORD>('0' + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24)
        return static_cast<WORD>(VK_F1 + (k - Qt::Key_F1));
    struct Map {
        int qt;
        WORD vk;
    };
    static constexpr Map table[] = {
        {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB}, {Qt::Key_Return, VK_RETURN},
        {Qt::Key_Enter, VK_RETURN}, {Qt::Key_Shift, VK_SHIFT}, {Qt::Key_Control, VK_CONTROL},
        {Qt::Key_Alt, VK_MENU}, {Qt::Key_Escape, VK_ESCAPE}, {Qt::Key_Space, VK_SPACE},
        {Qt::Key_PageUp, VK_PRIOR}, {Qt::Key_PageDown, VK_NEXT}, {Qt::Key_End, VK_END},
        {Qt::Key_Home, VK_HOME}, {Qt::Key_Left, VK_LEFT}, {Qt::Key_Up, VK_UP}, {Qt::Key_Right, VK_RIGHT},
        {Qt::Key_Down, VK_DOWN}, {Qt::Key_Insert, VK_INSERT}, {Qt::Key_Delete, VK_DELETE},
        {Qt::Key_Menu, VK_APPS}, {Qt::Key_Plus, VK_ADD}, {Qt::Key_Minus, VK_SUBTRACT},
        {Qt::Key_Asterisk, VK_MULTIPLY},
    };
    for (const Map& m : table)
        if (m.qt == k)
            return m.vk;
    return 0;
}

TShiftState ShiftStateFromQt(int modifiers, int buttons)
{
    TShiftState s = 0;
    if (modifiers & Qt::ShiftModifier)
        s |= ssShift;
    if (modifiers & Qt::AltModifier)
        s |= ssAlt;
    if (modifiers & Qt::ControlModifier)
        s |= ssCtrl;
    if (buttons & Qt::LeftButton)
        s |= ssLeft;
    if (buttons & Qt::RightButton)
        s |= ssRight;
    if (buttons & Qt::MiddleButton)
        s |= ssMiddle;
    return s;
}

namespace {

// The controls whose window handle was asked for, by handle.
std::unordered_map<HWND, TControl*>& ControlsByHandle()
{
    static std::unordered_map<HWND, TControl*> map;
    return map;
}

} // namespace

TControl* FindControl(HWND handle)
{
    const auto it = ControlsByHandle().find(handle);
    return it == ControlsByHandle().end() ? nullptr : it->second;
}

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl()
{
    DestroyComponents();
    if (m_handle) {
        ControlsByHandle().erase(m_handle);
        DeallocateHWnd(m_handle);
    }
    if (m_parent)
        m_parent->RemoveControl(this);
    if (m_widget) {
        m_widget->removeEventFilter(m_filter.get());
        // The widget may already be gone with a parent widget that Qt freed.
        QPointer<QWidget> guard(m_widget);
        m_widget = nullptr;
        delete guard.data();
    }
}

QWidget* TControl::Widget() const { return m_widget; }

void TControl::SetWidget(QWidget* widget)
{
    m_widget = widget;
    m_filter = std::make_unique<EventForwarder>(this);
    widget->installEventFilter(m_filter.get());
    widget->setAttribute(Qt::WA_DeleteOnClose, false);
    m_font.FromQFont(widget->font());
    m_font.SetName("Tahoma");
    m_font.SetSize(8);
    widget->setFont(m_font.ToQFont());
    m_font.OnChange = [this](TObject*) { FontChanged(); };
}

void TControl::SetParent(TWinControl* parent)
{
    if (parent == m_parent)
        return;
    if (m_parent)
        m_parent->RemoveControl(this);
    m_parent = parent;
    if (!m_widget)
        return;
    const QRect geometry = m_widget->geometry();
    m_widget->setParent(parent ? parent->ClientWidget() : nullptr);
    m_widget->setGeometry(geometry);
    if (parent) {
        parent->InsertControl(this);
        m_widget->setVisible(m_visible);
    }
}

void TControl::RequestRealign()
{
    if (m_parent && m_align != alNone)
        m_parent->AlignControls();
}

void TControl::SetAlign(TAlign align)
{
    if (align == m_align)
        return;
    const TAlign previous = m_align;
    m_align = align;
    AlignChanged(previous);
    if (m_parent)
        m_parent->AlignControls();
}

void TControl::SetVisible(bool visible)
{
    if (visible == m_visible && (!m_widget || m_widget->isVisibleTo(m_widget->parentWidget()) == visible || !m_parent))
        return;
    m_visible = visible;
    if (m_widget && (m_parent || !visible))
        m_widget->setVisible(visible);
    if (m_parent)
        m_parent->AlignControls();
}

bool TControl::Showing() const { return m_widget && m_widget->isVisible(); }

void TControl::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    if (m_widget)
        m_widget->setEnabled(enabled);
}

int TControl::Left() const { return m_widget ? m_widget->x() : 0; }
int TControl::Top() const { return m_widget ? m_widget->y() : 0; }
int TControl::Width() const { return m_widget ? m_widget->width() : 0; }
int TControl::Height() const { return m_widget ? m_widget->height() : 0; }

void TControl::SetBounds(int left, int top, int width, int height)
{
    if (!m_widget)
        return;
    const QRect r(left, top, std::max(0, width), std::max(0, height));
    if (r == m_widget->geometry())
        return;
    m_widget->setGeometry(r);
    if (auto* self = dynamic_cast<TWinControl*>(this))
        self->AlignControls();
    RequestRealign();
}

void TControl::SetCaption(const std::string& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    CaptionChanged();
}

void TControl::CaptionChanged() {}

void TControl::SetHint(const std::string& hint)
{
    m_hint = hint;
    if (m_widget)
        m_widget->setToolTip(QString::fromStdString(hint));
}

void TControl::FontChanged()
{
    if (m_widget)
        m_widget->setFont(m_font.ToQFont());
}

void TControl::SetColor(TColor color)
{
    m_color = color;
    if (m_widget) {
        QPalette pal = m_widget->palette();
        pal.setColor(QPalette::Window, ToQColor(color));
        pal.setColor(QPalette::Base, ToQColor(color));
        m_widget->setPalette(pal);
        m_widget->setAutoFillBackground(true);
    }
}

void TControl::SetCursor(TCursor cursor)
{
    m_cursor = cursor;
    if (m_widget)
        m_widget->setCursor(CursorShape(cursor));
}

void TControl::BringToFront()
{
    if (m_widget)
        m_widget->raise();
}

void TControl::SendToBack()
{
    if (m_widget)
        m_widget->lower();
}

void TControl::Invalidate()
{
    if (m_widget)
        m_widget->update();
}

void TControl::SetRedraw(bool on)
{
    if (m_widget)
        m_widget->setUpdatesEnabled(on);
}

void TControl::Repaint()
{
    if (m_widget)
        m_widget->repaint();
}

void TControl::Update()
{
    if (m_widget)
        m_widget->repaint();
}

TPoint TControl::ClientToScreen(TPoint p) const
{
    const QPoint q = m_widget ? m_widget->mapToGlobal(QPoint(p.X, p.Y)) : QPoint(p.X, p.Y);
    return {q.x(), q.y()};
}

TPoint TControl::ScreenToClient(TPoint p) const
{
    const QPoint q = m_widget ? m_widget->mapFromGlobal(QPoint(p.X, p.Y)) : QPoint(p.X, p.Y);
    return {q.x(), q.y()};
}

HWND TControl::Handle()
{
    if (!m_handle) {
        m_handle = AllocateHWnd([this](TMessage& m) { WndProc(m); });
        ControlsByHandle()[m_handle] = this;
    }
    return m_handle;
}

void TControl::WndProc(TMessage&) {}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam)
{
    TMessage m;
    m.Msg = msg;
    m.WParam = wParam;
    m.LParam = lParam;
    WndProc(m);
    return m.Result;
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TControl::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
}

void TControl::MouseMove(TShiftState shift, int x, int y)
{
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
}

void TControl::Resize()
{
    if (OnResize)
        OnResize(this);
}

void TControl::ContextPopup(TPoint pos, bool& handled)
{
    if (OnContextPopup)
        OnContextPopup(this, pos, handled);
}

bool TControl::HandleEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::MouseButtonPress: {
        auto* m = static_cast<QMouseEvent*>(e);
        MouseDown(ButtonFromQt(m->button()), ShiftStateFromQt(m->modifiers(), m->buttons()),
            m->position().toPoint().x(), m->position().toPoint().y());
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(e);
        const QPoint p = m->position().toPoint();
        MouseUp(ButtonFromQt(m->button()), ShiftStateFromQt(m->modifiers(), m->buttons()), p.x(), p.y());
        if (!m_widgetClicks && m->button() == Qt::LeftButton && m_widget && m_widget->rect().contains(p))
            Click();
        return false;
    }
    case QEvent::MouseButtonDblClick:
        DblClick();
        return false;
    case QEvent::MouseMove: {
        auto* m = static_cast<QMouseEvent*>(e);
        MouseMove(ShiftStateFromQt(m->modifiers(), m->buttons()), m->position().toPoint().x(),
            m->position().toPoint().y());
        return false;
    }
    case QEvent::Resize:
        Resize();
        return false;
    case QEvent::ContextMenu: {
        auto* c = static_cast<QContextMenuEvent*>(e);
        bool handled = false;
        const TPoint pos{c->pos().x(), c->pos().y()};
        ContextPopup(pos, handled);
        if (!handled && PopupMenu && PopupMenu->AutoPopup) {
            CancelMode();
            PopupMenu->PopupComponent = this;
            const TPoint screen = ClientToScreen(pos);
            PopupMenu->Popup(screen.X, screen.Y);
            handled = true;
        }
        return handled;
    }
    default:
        return false;
    }
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl()
{
    DestroyComponents();
    // Children that belong to other owners outlive this parent's widget only
    // as orphans: detach them first.
    for (TControl* c : std::vector<TControl*>(m_controls))
        c->SetParent(nullptr);
    if (m_clientFilter && ClientWidget())
        ClientWidget()->removeEventFilter(m_clientFilter.get());
}

QWidget* TWinControl::ClientWidget() const { return Widget(); }

void TWinControl::InsertControl(TControl* control)
{
    if (!m_clientFilter && ClientWidget()) {
        m_clientFilter = std::make_unique<ClientResizeWatcher>(this);
        ClientWidget()->installEventFilter(m_clientFilter.get());
    }
    m_controls.push_back(control);
    ControlInserted(control);
    AlignControls();
}

void TWinControl::RemoveControl(TControl* control)
{
    m_controls.erase(std::remove(m_controls.begin(), m_controls.end(), control), m_controls.end());
    AlignControls();
}

void TWinControl::AlignControls()
{
    QWidget* client = ClientWidget();
    if (!client || m_aligning)
        return;
    m_aligning = true;
    QRect area = client->contentsRect();
    // Within one alignment the control nearer the edge goes first; ties keep
    // the order in which the controls were placed.
    auto byEdge = [&](TAlign align) {
        std::vector<TControl*> list;
        for (TControl* c : m_controls)
            if (c->Align() == align && c->Visible() && c->Widget())
                list.push_back(c);
        std::stable_sort(list.begin(), list.end(), [align](TControl* a, TControl* b) {
            switch (align) {
            case alTop: return a->Top() < b->Top();
            case alBottom: return a->Top() + a->Height() > b->Top() + b->Height();
            case alLeft: return a->Left() < b->Left();
            case alRight: return a->Left() + a->Width() > b->Left() + b->Width();
            default: return false;
            }
        });
        return list;
    };
    // Hidden widgets get their resize events only when shown, so nested
    // windowed controls are laid out here directly.
    auto place = [](TControl* c, int x, int y, int w, int h) {
        const QRect r(x, y, std::max(0, w), std::max(0, h));
        if (c->Widget()->geometry() == r)
            return;
        c->Widget()->setGeometry(r);
        if (auto* win = dynamic_cast<TWinControl*>(c))
            win->AlignControls();
    };
    for (TControl* c : byEdge(alTop)) {
        place(c, area.left(), area.top(), area.width(), c->Height());
        area.setTop(area.top() + c->Height());
    }
    for (TControl* c : byEdge(alBottom)) {
        place(c, area.left(), area.bottom() + 1 - c->Height(), area.width(), c->Height());
        area.setBottom(area.bottom() - c->Height());
    }
    for (TControl* c : byEdge(alLeft)) {
        place(c, area.left(), area.top(), c->Width(), area.height());
        area.setLeft(area.left() + c->Width());
    }
    for (TControl* c : byEdge(alRight)) {
        place(c, area.right() + 1 - c->Width(), area.top(), c->Width(), area.height());
        area.setRight(area.right() - c->Width());
    }
    for (TControl* c : byEdge(alClient))
        place(c, area.left(), area.top(), area.width(), area.height());
    m_aligning = false;
}

void TWinControl::SetFocus()
{
    if (Widget())
        Widget()->setFocus(Qt::OtherFocusReason);
}

void TWinControl::FocusWindow()
{
    if (!Widget())
        return;
    Widget()->activateWindow();
    Widget()->setFocus(Qt::ActiveWindowFocusReason);
}

bool TWinControl::Focused() const { return Widget() && Widget()->hasFocus(); }

bool TWinControl::CanFocus() const { return Widget() && Widget()->isVisible() && Widget()->isEnabled(); }

void TWinControl::KeyDown(WORD& key, TShiftState shift)
{
    if (OnKeyDown)
        OnKeyDown(this, key, shift);
}

void TWinControl::KeyUp(WORD& key, TShiftState shift)
{
    if (OnKeyUp)
        OnKeyUp(this, key, shift);
}

void TWinControl::KeyPress(char& key)
{
    if (OnKeyPress)
        OnKeyPress(this, key);
}

void TWinControl::DoEnter()
{
    if (OnEnter)
        OnEnter(this);
}

void TWinControl::DoExit()
{
    if (OnExit)
        OnExit(this);
}

bool TWinControl::HandleEvent(QEvent* e)
{
    switch (e->type()) {
    case QEvent::KeyPress: {
        auto* k = static_cast<QKeyEvent*>(e);
        WORD key = VirtualKeyFromQtKey(k->key());
        const TShiftState shift = ShiftStateFromQt(k->modifiers(), 0);
        if (key)
            KeyDown(key, shift);
        if (key == 0 && VirtualKeyFromQtKey(k->key()) != 0)
            return true;
        const QString text = k->text();
        if (text.size() == 1 && text[0].unicode() < 0x80 && !(shift & ssCtrl)) {
            char c = static_cast<char>(text[0].unicode());
            KeyPress(c);
            if (c == 0)
                return true;
        }
        return false;
    }
    case QEvent::KeyRelease: {
        auto* k = static_cast<QKeyEvent*>(e);
        WORD key = VirtualKeyFromQtKey(k->key());
        if (key)
            KeyUp(key, ShiftStateFromQt(k->modifiers(), 0));
        return false;
    }
    case QEvent::FocusIn:
        DoEnter();
        return false;
    case QEvent::FocusOut:
        DoExit();
        return false;
    default:
        return TControl::HandleEvent(e);
    }
}

TCustomControl::TCustomControl(TComponent* owner) : TWinControl(owner)
{
    auto* w = new PaintWidget(this);
    w->setFocusPolicy(Qt::StrongFocus);
    SetWidget(w);
}

void TCustomControl::Paint()
{
    if (OnPaint)
        OnPaint(this);
}

void TCustomControl::PaintTo(TBitmap& bitmap)
{
    // A fresh white image each time: what the control leaves unpainted shows.
    bitmap.SetSize(0, 0);
    bitmap.SetSize(Width(), Height());
    QPainter painter(&bitmap.Image());
    m_canvas.SetPainter(&painter);
    Paint();
    m_canvas.SetPainter(nullptr);
}
