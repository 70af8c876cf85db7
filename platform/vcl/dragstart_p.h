// Tells a view's control that a drag begins: a left or right button pressed
// on the view and moved past the system's drag distance with the button
// still held (Qt's views know only the left button). The control hears it
// as CN_NOTIFY with the begin-drag code of the button and the point of the
// press in its client coordinates.
#pragma once

#include "vcl/commctrl.h"
#include "vcl/controls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMouseEvent>

class DragStartDetector {
public:
    DragStartDetector(int leftCode, int rightCode) : m_leftCode(leftCode), m_rightCode(rightCode) {}

    // Watches one event of a view's viewport; true when it started a drag
    // (the view must not see that move).
    bool Watch(TWinControl& control, QObject* viewport, QEvent* e)
    {
        const QEvent::Type type = e->type();
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease && type != QEvent::MouseMove)
            return false;
        auto* view = qobject_cast<QAbstractItemView*>(viewport->parent());
        if (!view)
            return false;
        switch (type) {
        case QEvent::MouseButtonPress: {
            auto* m = static_cast<QMouseEvent*>(e);
            m_button = m->button() == Qt::LeftButton || m->button() == Qt::RightButton ? m->button() : Qt::NoButton;
            m_pressed = m->position().toPoint();
            m_started = false;
            return false;
        }
        case QEvent::MouseButtonRelease:
            m_button = Qt::NoButton;
            return false;
        case QEvent::MouseMove: {
            auto* m = static_cast<QMouseEvent*>(e);
            if (m_button == Qt::NoButton || !(m->buttons() & m_button)
                || (m->position().toPoint() - m_pressed).manhattanLength() < QApplication::startDragDistance())
                return false;
            const QPoint c = view->viewport()->mapTo(view, m_pressed);
            NMMOUSE_PT nm;
            nm.hdr.hwndFrom = control.Handle();
            nm.hdr.code = m_button == Qt::LeftButton ? m_leftCode : m_rightCode;
            nm.pt = TPoint {c.x(), c.y()};
            m_button = Qt::NoButton;
            m_started = true;
            control.Perform(CN_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
            return true;
        }
        default:
            return false;
        }
    }

    // True when the last press became a drag: its release is no click.
    bool Started() const { return m_started; }

private:
    int m_leftCode;
    int m_rightCode;
    Qt::MouseButton m_button = Qt::NoButton;
    QPoint m_pressed;
    bool m_started = false;
};
