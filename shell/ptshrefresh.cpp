#include "ptshrefresh.h"

#include "ptshutils.h"

TPTShellRefresh::TPTShellRefresh(std::function<void()> delayEnded, std::function<void()> refresh)
    : m_timer(std::make_unique<TTimer>(nullptr)), m_delayEnded(std::move(delayEnded)), m_refresh(std::move(refresh))
{
    m_timer->SetEnabled(false);
    m_timer->OnTimer = [this](TObject*) {
        m_timer->SetEnabled(false);
        m_delayEnded();
    };
}

void TPTShellRefresh::Notified(bool focused)
{
    if (IgnoreNextNotification) {
        IgnoreNextNotification = false;
        return;
    }
    if (Defer())
        return;
    m_timer->SetEnabled(false);
    m_timer->SetInterval(static_cast<unsigned>(focused ? PTSH_CHANGE_NOTIFY_FASTDELAY : PTSH_CHANGE_NOTIFY_DELAY));
    m_timer->SetEnabled(true);
}

bool TPTShellRefresh::Defer()
{
    if (m_busy == 0)
        return false;
    m_pending = true;
    return true;
}

void TPTShellRefresh::EndBusy()
{
    if (m_busy > 0 && --m_busy == 0 && m_pending) {
        m_pending = false;
        m_refresh();
    }
}

void TPTShellRefresh::RunScheduled()
{
    if (!m_timer->Enabled())
        return;
    m_timer->SetEnabled(false);
    m_delayEnded();
}

bool TPTShellRefresh::OwnChange(const std::function<bool()>& change)
{
    IgnoreNextNotification = true;
    if (change())
        return true;
    IgnoreNextNotification = false;
    return false;
}
