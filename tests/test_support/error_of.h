// The message of the class library's exception that a piece of work raises,
// empty when it raises none: tests compare the texts users see.
#pragma once

#include "rtl/sysutils.h"

#include <functional>
#include <string>

inline std::string ErrorOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}
