// Scope guards of the shell controls: an item list freed with the shell
// allocator and a COM interface released when the scope ends.
#pragma once

#include "shell/ptshutils.h"

namespace ptsh {

struct OwnedList {
    LPITEMIDLIST p = nullptr;
    ~OwnedList() { ShellMemFree(p); }
};

template <class T> struct ReleaseOnExit {
    T* p = nullptr;
    ~ReleaseOnExit()
    {
        if (p)
            p->Release();
    }
};

}
