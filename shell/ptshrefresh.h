// The refresh rules the shell tree and the shell list share. A change
// notification starts (or restarts) a delay: 400 ms when the control has the
// focus, 2000 ms otherwise, so a burst of changes makes one refresh. While
// the control is busy (a drag out of it, a shell context menu, a label edit)
// a refresh is kept pending and runs once when the last busy spell ends. The
// control's own rename or new folder swallows the next notification.
#pragma once

#include "vcl/extctrls.h"

#include <functional>
#include <memory>

class TPTShellRefresh {
public:
    // delayEnded runs when the delay after the last notification ends;
    // refresh runs a pending refresh when the control stops being busy.
    TPTShellRefresh(std::function<void()> delayEnded, std::function<void()> refresh);

    // A change notification reached the control.
    void Notified(bool focused);
    // True when the control is busy: the refresh asked for is kept pending.
    bool Defer();
    void BeginBusy() { ++m_busy; }
    void EndBusy();
    bool Pending() const { return m_pending; }
    bool Busy() const { return m_busy > 0; }

    bool Scheduled() const { return m_timer->Enabled(); }
    void Cancel() { m_timer->SetEnabled(false); }
    // Ends a scheduled delay at once (the refresh runs now).
    void RunScheduled();

    // Runs a change the control makes itself (a rename, a new folder): the
    // change notification it causes is swallowed, unless the change failed
    // (answered false) and causes none.
    bool OwnChange(const std::function<bool()>& change);

    // Set while the notification of the control's own change is awaited.
    bool IgnoreNextNotification = false;

private:
    std::unique_ptr<TTimer> m_timer;
    std::function<void()> m_delayEnded;
    std::function<void()> m_refresh;
    int m_busy = 0;
    bool m_pending = false;
};
