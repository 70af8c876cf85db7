#include "shell/ptshlabeledit.h"

void TPTShellLabelEdit::Began(const std::string& name)
{
    m_startName = name;
    if (!m_active) {
        m_active = true;
        m_refresh.BeginBusy();
    }
}

void TPTShellLabelEdit::Ended()
{
    if (m_active) {
        m_active = false;
        m_refresh.EndBusy();
    }
}

HRESULT TPTShellLabelEdit::Rename(IShellFolder* folder, HWND owner, LPCITEMIDLIST item, const std::string& name,
    LPITEMIDLIST& renamed)
{
    renamed = nullptr;
    m_refresh.IgnoreNextNotification = true;
    const std::u16string wide = ShellUtf8ToWide(name);
    const HRESULT hr = folder->SetNameOf(owner, item, wide.c_str(), 0x20, &renamed);
    if (FAILED(hr))
        m_refresh.IgnoreNextNotification = false;
    return hr;
}
