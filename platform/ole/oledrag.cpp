// Drag and drop over Qt's. A registered window's Qt drag events become calls
// of its drop target (screen point, key state from the buttons and
// modifiers, effects as drop actions); a drag of ours runs through the drag
// driver, Qt's QDrag by default. A drag that starts and ends inside the
// program hands the target the source's own data object.
#include "ole/ole_p.h"

#include "vcl/controls.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QWidget>

#include <map>

namespace {

struct EffectAction {
    DWORD effect;
    Qt::DropAction action;
};
constexpr EffectAction kEffects[] = {
    {DROPEFFECT_COPY, Qt::CopyAction},
    {DROPEFFECT_MOVE, Qt::MoveAction},
    {DROPEFFECT_LINK, Qt::LinkAction},
};

DWORD EffectsOf(Qt::DropActions actions)
{
    DWORD effects = DROPEFFECT_NONE;
    for (const EffectAction& e : kEffects)
        if (actions & e.action)
            effects |= e.effect;
    return effects;
}

Qt::DropActions ActionsOf(DWORD effects)
{
    Qt::DropActions actions;
    for (const EffectAction& e : kEffects)
        if (effects & e.effect)
            actions |= e.action;
    return actions;
}

// The one action a target chose; copy before move before link when it
// left several.
Qt::DropAction ActionOf(DWORD effect)
{
    for (const EffectAction& e : kEffects)
        if (effect & e.effect)
            return e.action;
    return Qt::IgnoreAction;
}

DWORD KeyStateOf(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    DWORD keys = 0;
    if (buttons & Qt::LeftButton)
        keys |= MK_LBUTTON;
    if (buttons & Qt::RightButton)
        keys |= MK_RBUTTON;
    if (buttons & Qt::MiddleButton)
        keys |= MK_MBUTTON;
    if (modifiers & Qt::ShiftModifier)
        keys |= MK_SHIFT;
    if (modifiers & Qt::ControlModifier)
        keys |= MK_CONTROL;
    if (modifiers & Qt::AltModifier)
        keys |= MK_ALT;
    return keys;
}

// Turns one window's drag events into calls of its drop target. No
// exception leaves it into Qt.
class TDropFilter : public QObject {
public:
    TDropFilter(QWidget* widget, IDropTarget* target) : m_widget(widget), m_target(target) {}
    IDropTarget* Target() const { return m_target.Get(); }
    QWidget* Widget() const { return m_widget.data(); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_widget)
            return false;
        try {
            switch (event->type()) {
            case QEvent::DragEnter:
                Enter(static_cast<QDragMoveEvent*>(event));
                return true;
            case QEvent::DragMove:
                Over(static_cast<QDragMoveEvent*>(event));
                return true;
            case QEvent::DragLeave:
                Leave();
                return true;
            case QEvent::Drop:
                Dropped(static_cast<QDropEvent*>(event));
                return true;
            default:
                return false;
            }
        } catch (...) {
            m_data.Reset();
            event->ignore();
            return true;
        }
    }

private:
    POINTL ScreenPoint(const QDropEvent* e) const
    {
        const QPoint p = m_widget->mapToGlobal(e->position().toPoint());
        return {p.x(), p.y()};
    }
    // Takes the target's answer: the drop action it chose, or none.
    static void Answer(QDropEvent* e, HRESULT hr, DWORD effect)
    {
        const DWORD chosen = SUCCEEDED(hr) ? effect & EffectsOf(e->possibleActions()) : DROPEFFECT_NONE;
        if (chosen) {
            e->setDropAction(ActionOf(chosen));
            e->accept();
        } else {
            e->setDropAction(Qt::IgnoreAction);
            e->ignore();
        }
    }
    void Enter(QDragMoveEvent* e)
    {
        m_data = DataObjectOfMime(e->mimeData());
        DWORD effect = EffectsOf(e->possibleActions());
        const HRESULT hr = m_target->DragEnter(m_data.Get(), KeyStateOf(e->buttons(), e->modifiers()),
                                               ScreenPoint(e), &effect);
        Answer(e, hr, effect);
        // The drag stays with the window whatever the answer, so that it
        // hears the moves (the answer may change with the keys) and the leave.
        e->accept();
    }
    void Over(QDragMoveEvent* e)
    {
        if (!m_data)
            return Enter(e);
        DWORD effect = EffectsOf(e->possibleActions());
        const HRESULT hr = m_target->DragOver(KeyStateOf(e->buttons(), e->modifiers()), ScreenPoint(e), &effect);
        Answer(e, hr, effect);
    }
    void Leave()
    {
        if (m_data)
            m_target->DragLeave();
        m_data.Reset();
    }
    void Dropped(QDropEvent* e)
    {
        TComPtr<IDataObject> data = m_data ? m_data : DataObjectOfMime(e->mimeData());
        m_data.Reset();
        DWORD effect = EffectsOf(e->possibleActions());
        const HRESULT hr = m_target->Drop(data.Get(), KeyStateOf(e->buttons(), e->modifiers()), ScreenPoint(e), &effect);
        Answer(e, hr, effect);
    }

    QPointer<QWidget> m_widget;
    TComPtr<IDropTarget> m_target;
    TComPtr<IDataObject> m_data;
};

std::map<HWND, std::unique_ptr<TDropFilter>>& Registrations()
{
    static std::map<HWND, std::unique_ptr<TDropFilter>> map;
    return map;
}

// Qt's drag loop: it decides the end itself (Esc cancels, the release
// drops), so the source is asked only for the feedback.
class TQtDragDriver : public TDragDriver {
public:
    HRESULT Run(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect) override
    {
        QObject* origin = QApplication::widgetAt(QCursor::pos());
        if (!origin)
            origin = QCoreApplication::instance();
        if (!origin)
            return E_UNEXPECTED;
        auto* drag = new QDrag(origin);  // Qt deletes it after the drag
        drag->setMimeData(new TDataObjectMime(data));
        QObject::connect(drag, &QDrag::actionChanged, [source](Qt::DropAction action) {
            source->GiveFeedback(EffectsOf(action));
        });
        const Qt::DropActions actions = ActionsOf(okEffects);
        const Qt::DropAction result = drag->exec(actions, ActionOf(okEffects & DROPEFFECT_MOVE ? DROPEFFECT_MOVE
                                                                                                : okEffects));
        if (result == Qt::IgnoreAction) {
            *effect = DROPEFFECT_NONE;
            return DRAGDROP_S_CANCEL;
        }
        *effect = EffectsOf(result) & okEffects;
        return DRAGDROP_S_DROP;
    }
};

std::unique_ptr<TDragDriver>& Driver()
{
    static std::unique_ptr<TDragDriver> driver;
    return driver;
}

int Depth(const QWidget* w)
{
    int depth = 0;
    for (; w; w = w->parentWidget())
        ++depth;
    return depth;
}

} // namespace

HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect)
{
    if (!data || !source || !effect)
        return E_INVALIDARG;
    *effect = DROPEFFECT_NONE;
    try {
        if (!Driver())
            Driver() = std::make_unique<TQtDragDriver>();
        return Driver()->Run(data, source, okEffects, effect);
    } catch (...) {
        *effect = DROPEFFECT_NONE;
        return E_UNEXPECTED;
    }
}

std::unique_ptr<TDragDriver> SetDragDriver(std::unique_ptr<TDragDriver> driver)
{
    std::unique_ptr<TDragDriver> previous = std::move(Driver());
    Driver() = std::move(driver);
    return previous;
}

HRESULT RegisterDragDrop(HWND window, IDropTarget* target)
{
    if (!target)
        return E_INVALIDARG;
    TControl* control = FindControl(window);
    QWidget* widget = control ? control->Widget() : nullptr;
    if (!widget)
        return DRAGDROP_E_INVALIDHWND;
    auto& registrations = Registrations();
    if (registrations.count(window))
        return DRAGDROP_E_ALREADYREGISTERED;
    try {
        auto filter = std::make_unique<TDropFilter>(widget, target);
        widget->installEventFilter(filter.get());
        widget->setAcceptDrops(true);
        registrations.emplace(window, std::move(filter));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RevokeDragDrop(HWND window)
{
    auto& registrations = Registrations();
    const auto it = registrations.find(window);
    if (it == registrations.end())
        return DRAGDROP_E_NOTREGISTERED;
    if (QWidget* widget = it->second->Widget()) {
        widget->removeEventFilter(it->second.get());
        widget->setAcceptDrops(false);
    }
    registrations.erase(it);
    return S_OK;
}

HRESULT CoLockObjectExternal(IUnknown* object, BOOL lock, BOOL)
{
    if (!object)
        return E_INVALIDARG;
    if (lock)
        object->AddRef();
    else
        object->Release();
    return S_OK;
}

IDropTarget* RegisteredDropTargetAt(POINTL screen)
{
    IDropTarget* found = nullptr;
    int foundDepth = -1;
    for (const auto& [window, filter] : Registrations()) {
        const QWidget* w = filter->Widget();
        if (!w || !w->isVisible() || !w->rect().contains(w->mapFromGlobal(QPoint(screen.x, screen.y))))
            continue;
        const int depth = Depth(w);
        if (depth > foundDepth) {
            found = filter->Target();
            foundDepth = depth;
        }
    }
    return found;
}
