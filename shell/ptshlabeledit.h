// What the shell tree and the shell list share for renaming in place. The
// edit counts as busy from its start to its end, so a refresh asked for
// meanwhile waits for it; the name it began with is kept, so an unchanged
// name renames nothing; and the typed name goes whole to the folder (never
// cut to fit: that would rename to another name), with the rename's own
// change notification swallowed.
#pragma once

#include "shell/ptshrefresh.h"
#include "shell/ptshutils.h"

#include <string>

class TPTShellLabelEdit {
public:
    explicit TPTShellLabelEdit(TPTShellRefresh& refresh) : m_refresh(refresh) {}

    // The edit box opens with the item's editing name.
    void Began(const std::string& name);
    void Ended();
    // True when the name is not the one the edit began with.
    bool Changed(const std::string& name) const { return name != m_startName; }
    // SetNameOf on the folder, which tells a refused name to the owner
    // window with the system's reason; the new relative list, when the
    // folder gives one, is the caller's to free.
    HRESULT Rename(IShellFolder* folder, HWND owner, LPCITEMIDLIST item, const std::string& name, LPITEMIDLIST& renamed);

private:
    TPTShellRefresh& m_refresh;
    std::string m_startName;
    bool m_active = false;
};
