// The parts the preview panels are built from: a panel that fills its
// parent, a tool bar with its buttons, and pop-up menus with their items.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"

#include <string>

// A panel that fills its parent and paints its whole area in its colour:
// the preview panels lie on one another, and the one in front hides the rest.
TPanel* PreviewPanel(TForm* form, TWinControl* parent, const std::string& name, TColor color = clBtnFace);
TToolBar* PanelToolBar(TForm* form, TWinControl* parent, const std::string& name);
TToolButton* PanelButton(TForm* form, TToolBar* bar, const std::string& caption, const std::string& hint,
    TNotifyEvent onClick, TToolButtonStyle style = TToolButtonStyle::tbsButton);
TMenuItem* PopupItem(TForm* form, TPopupMenu* menu, const std::string& caption, TNotifyEvent onClick = {});
// Opens a pop-up menu below the button that shows it.
void PopupBelow(TPopupMenu* menu, TControl* button);
