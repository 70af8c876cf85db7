// Drives modal windows the way a user does, from inside their loops: a timer
// waits for the modal window to come up and then presses its keys or buttons
// through the window system's path, where a window blocked by a modal one
// gets nothing.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

// Lets queued window-system events (activation, focus) arrive.
inline void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

// The steps still waiting for their modal window.
inline QObject& PendingModalSteps()
{
    static QObject* steps = new QObject();
    return *steps;
}

// Runs step on the active modal window once one other than outer is up. When
// none comes within five seconds the test fails and step gets nullptr.
inline void WhenModal(std::function<void(QWidget*)> step, QWidget* outer = nullptr)
{
    auto* timer = new QTimer(&PendingModalSteps());
    auto* waited = new QElapsedTimer();
    waited->start();
    QObject::connect(timer, &QTimer::timeout, [timer, waited, step = std::move(step), outer] {
        QWidget* modal = QApplication::activeModalWidget();
        if ((!modal || modal == outer || !modal->isVisible()) && waited->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        delete waited;
        if (modal == outer)
            modal = nullptr;
        EXPECT_NE(modal, nullptr) << "no modal window came up";
        Settle();  // its activation
        step(modal);
    });
    timer->start(5);
}

// At the end of a test: a step whose modal window never came up fails the
// test and is dropped, so it cannot run in the next test.
inline void ExpectNoPendingModalSteps()
{
    // A step that ran has stopped its timer, which may wait for its deletion.
    const QList<QTimer*> timers = PendingModalSteps().findChildren<QTimer*>();
    const auto pending = std::count_if(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive(); });
    EXPECT_EQ(pending, 0) << pending << " modal window(s) never came up";
    qDeleteAll(timers);
}

// Runs step from the message loop once the current step has returned: a
// modal loop asked to end checks its form's close rules only then.
inline void Later(std::function<void()> step) { QTimer::singleShot(0, std::move(step)); }

// A key pressed and released on a top-level window; it reaches the window's
// focus widget unless a modal window blocks the window.
inline void PressKey(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    Settle();
    QTest::keyClick(window->window()->windowHandle(), key, modifiers);
}

// The window's close box, as the window manager reports it.
inline void PressCloseBox(QWidget* window) { window->window()->windowHandle()->close(); }

// A left click at a point of a widget, sent to its window the window
// system's way, so a window that a modal one blocks does not get it.
inline void ClickAt(QWidget* widget, QPoint pos)
{
    Settle();
    QWindow* window = widget->window()->windowHandle();
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, window->mapFromGlobal(widget->mapToGlobal(pos)));
}

// A left click in the middle of a widget.
inline void ClickWidget(QWidget* widget) { ClickAt(widget, widget->rect().center()); }

// A left click on a row of an item view, which focuses the view and selects
// the row.
inline void ClickRow(QWidget* view, int row)
{
    auto* v = qobject_cast<QAbstractItemView*>(view);
    ASSERT_NE(v, nullptr);
    const QRect r = v->visualRect(v->model()->index(row, 0));
    ASSERT_TRUE(r.isValid());
    ClickAt(v->viewport(), r.center());
}

// True when the top-level window of widget is the one that gets the keys and
// no modal window stands above it.
inline bool HasInput(QWidget* widget)
{
    Settle();
    QWidget* window = widget->window();
    QWidget* modal = QApplication::activeModalWidget();
    return (modal == nullptr || modal == window) && QGuiApplication::focusWindow() == window->windowHandle();
}
