#include "shell/ptcombos.h"

#include "shell/shellapi.h"

#include "vcl/winmenus.h"

#include <algorithm>

// ---- TPTCustomCombobox ----

void TPTCustomCombobox::WndProc(TMessage& message)
{
    if (message.Msg == CN_COMMAND) {
        switch (HIWORD(message.WParam)) {
        case CBN_CLOSEUP:
            CloseUp();
            return;
        case CBN_SELENDOK:
            SelEndOk();
            return;
        case CBN_SELENDCANCEL:
            SelEndCancel();
            return;
        default:
            break;
        }
    } else if (message.Msg == WM_DELETEITEM) {
        auto* item = reinterpret_cast<DELETEITEMSTRUCT*>(message.LParam);
        if (item->itemData) {
            DeleteItem(reinterpret_cast<void*>(item->itemData));
            item->itemData = 0;
        }
    }
    TCustomComboBox::WndProc(message);
}

void TPTCustomCombobox::DeleteItem(void* item)
{
    if (OnDeleteItem)
        OnDeleteItem(this, item);
}

void TPTCustomCombobox::CloseUp()
{
    if (OnCloseUp)
        OnCloseUp(this);
}

void TPTCustomCombobox::SelEndCancel()
{
    if (OnSelEndCancel)
        OnSelEndCancel(this);
}

void TPTCustomCombobox::SelEndOk()
{
    if (OnSelEndOk)
        OnSelEndOk(this);
}

// ---- TPTImageComboItem ----

void TPTImageComboItem::Changed() { m_owner->Invalidate(); }

void TPTImageComboItem::SetIndent(int indent)
{
    m_indent = indent;
    Changed();
}

void TPTImageComboItem::SetImageIndex(int index)
{
    m_imageIndex = index;
    Changed();
}

void TPTImageComboItem::SetOverlayIndex(int index)
{
    m_overlayIndex = index;
    Changed();
}

void TPTImageComboItem::SetCaption(const std::string& caption)
{
    m_caption = caption;
    Changed();
}

// ---- TPTCustomImageCombo ----

TPTCustomImageCombo::TPTCustomImageCombo(TComponent* owner) : TPTCustomCombobox(owner)
{
    SetStyle(TComboBoxStyle::csOwnerDrawFixed);
    Perform(CB_SETEXTENDEDUI, 1, 0);
    AutoSize();
}

// The entries go with the window, each through its deletion.
TPTCustomImageCombo::~TPTCustomImageCombo() { ClearItems(); }

TPTImageComboItem* TPTCustomImageCombo::AddItem(const std::string& caption, int imageIndex, int indent)
{
    auto* item = new TPTImageComboItem(this, ItemCount());
    TCustomComboBox::AddItem(std::string(), item);
    item->SetCaption(caption);
    item->SetImageIndex(imageIndex);
    item->SetIndent(indent);
    return item;
}

TPTImageComboItem* TPTCustomImageCombo::GetImageComboItem(int index) const
{
    return static_cast<TPTImageComboItem*>(ItemObject(index));
}

void TPTCustomImageCombo::SetIndentPixels(int pixels)
{
    m_indentPixels = pixels;
    Invalidate();
}

void TPTCustomImageCombo::SetImageList(void* list)
{
    m_imageList = list;
    Invalidate();
    if (!IsLoading())
        AutoSize();
}

void TPTCustomImageCombo::SetAutoSizeHeight(bool on)
{
    m_autoSizeHeight = on;
    AutoSize();
}

void TPTCustomImageCombo::FontChanged()
{
    TPTCustomCombobox::FontChanged();
    AutoSize();
}

void TPTCustomImageCombo::AutoSize()
{
    if (!m_autoSizeHeight || m_sizing)
        return;
    m_sizing = true;
    TCanvas measure;
    measure.Font().Assign(Font());
    int height = measure.TextHeight("Wg") + 2;
    int width = 0, imageHeight = 0;
    if (m_imageList && ImageList_GetIconSize(m_imageList, &width, &imageHeight))
        height = std::max(height, imageHeight);
    SetItemHeight(height);
    m_sizing = false;
}

void TPTCustomImageCombo::GetItemData(TPTImageComboItem* item)
{
    if (OnGetItemData)
        OnGetItemData(this, item);
}

void TPTCustomImageCombo::DrawItem(int index, const TRect& rect, UINT state)
{
    if (OnDrawItem) {
        TPTCustomCombobox::DrawItem(index, rect, state);
        return;
    }
    TPTImageComboItem* item = GetImageComboItem(index);
    if (!item)
        return;
    GetItemData(item);
    TCanvas& canvas = Canvas();
    // The face shows the chosen entry without its indent.
    const int level = (state & ODS_COMBOBOXEDIT) ? 0 : item->Indent();
    const TColor brush = canvas.Brush().Color();
    canvas.Brush().SetColor(Color());
    canvas.FillRect(rect);
    canvas.Brush().SetColor(brush);
    int imageWidth = 0, imageHeight = 0;
    const bool images = m_imageList && ImageList_GetIconSize(m_imageList, &imageWidth, &imageHeight);
    const int left = rect.Left + m_indentPixels * level;
    if (images) {
        UINT style = (state & ODS_SELECTED) ? ILD_SELECTED : ILD_NORMAL;
        if (item->OverlayIndex() >= 0)
            style |= INDEXTOOVERLAYMASK(static_cast<UINT>(item->OverlayIndex()) + 1);
        ImageList_Draw(m_imageList, item->ImageIndex(), canvas, left + 2,
            rect.Top + (rect.Height() - imageHeight) / 2, style);
    }
    if (item->Caption().empty())
        return;
    // Only the caption is highlighted, in a box as wide as its text.
    TRect text;
    text.Left = left + (images ? imageWidth : 0) + 4 + 1;
    text.Top = rect.Top;
    text.Right = text.Left + canvas.TextWidth(item->Caption()) + 3;
    text.Bottom = rect.Bottom;
    canvas.TextRect(text, text.Left + 1, text.Top + 1, item->Caption());
}

void TPTCustomImageCombo::DeleteItem(void* data)
{
    auto* item = static_cast<TPTImageComboItem*>(data);
    if (OnDeleteItem)
        OnDeleteItem(this, item);
    delete item;
}
