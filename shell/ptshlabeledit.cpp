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
    const std::u16string wide = ShellUtf8ToWide(name);
    HRESULT hr = S_OK;
    m_refresh.OwnChange([&] { return SUCCEEDED(hr = folder->SetNameOf(owner, item, wide.c_str(), 0x20, &renamed)); });
    return hr;
}
