// The bookkeeping every modal loop of the class library shares: modal forms
// and the prompt service's dialogs alike. Private to platform/vcl.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

// One modal loop while it runs. The program's end (TApplication::Terminate)
// closes every loop through its close function, innermost first. When the
// loop is over, the window that was active before it becomes active again:
// a bare X server has no window manager that would hand the input back, and
// without it the keyboard would go nowhere.
class ModalScope {
public:
    explicit ModalScope(std::function<void()> close);
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

    // The window the modal window belongs to (the one active before it, else
    // the main form), for placing it and for its transient parent.
    QWidget* Owner() const { return m_previous.data(); }
    // Makes the modal window the active one, so its keys reach it.
    static void Activate(QWidget* window);
    static void CloseAll();

private:
    std::function<void()> m_close;
    QPointer<QWidget> m_previous;
};

// A question asked once the program is ending gets Cancel without showing.
bool ProgramEnding();
