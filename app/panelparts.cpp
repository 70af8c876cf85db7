#include "panelparts.h"

TPanel* PreviewPanel(TForm* form, TWinControl* parent, const std::string& name, TColor color)
{
    auto* p = new TPanel(form);
    p->SetName(name);
    p->SetBevelOuter(TBevelCut::bvNone);
    p->SetAlign(alClient);
    p->SetColor(color);
    p->SetParent(parent);
    return p;
}

TToolBar* PanelToolBar(TForm* form, TWinControl* parent, const std::string& name)
{
    auto* bar = new TToolBar(form);
    bar->SetName(name);
    bar->SetParent(parent);
    return bar;
}

TToolButton* PanelButton(TForm* form, TToolBar* bar, const std::string& caption, const std::string& hint,
    TNotifyEvent onClick, TToolButtonStyle style)
{
    auto* b = new TToolButton(form);
    b->SetStyle(style);
    b->SetCaption(caption);
    b->SetHint(hint);
    b->OnClick = std::move(onClick);
    b->SetParent(bar);
    return b;
}

TMenuItem* PopupItem(TForm* form, TPopupMenu* menu, const std::string& caption, TNotifyEvent onClick)
{
    TMenuItem* item = NewItem(form, caption, std::move(onClick));
    menu->Items()->Add(item);
    return item;
}

void PopupBelow(TPopupMenu* menu, TControl* button)
{
    const TPoint p = button->ClientToScreen(Point(0, button->Height()));
    menu->Popup(p.X, p.Y);
}
