// Places a control on a parent at a position, as a form description does.
#pragma once

#include "vcl/controls.h"

#include <string>

template <typename T>
T* Place(TComponent* owner, TWinControl* parent, int left, int top, int width, int height,
    const std::string& caption = "", const std::string& name = "")
{
    auto* control = new T(owner);
    control->SetName(name);
    control->SetBounds(left, top, width, height);
    if (!caption.empty())
        control->SetCaption(caption);
    control->SetParent(parent);
    return control;
}
