#include "shell/ptcontrols.h"

#include "shell/ptshutils.h"

#include <cstdlib>

namespace {

// Fonts are objects apart from their colour: one that differs only in colour
// is the font already selected.
bool SameFontFace(const TFont& a, const TFont& b)
{
    return a.Name() == b.Name() && a.Size() == b.Size() && a.Style() == b.Style() && a.Charset() == b.Charset();
}

bool ComCtl6() { return VersionHigh(COMCTL32_VER) >= 0x00060000; }

} // namespace

// ---- TPTCustomDraw ----

TPTCustomDraw::TPTCustomDraw(NMCUSTOMDRAW* notification, const TFont& controlFont, LRESULT* result)
    : m_notification(notification), m_controlFont(controlFont), m_result(result)
{
    Reset(notification, result);
}

TPTCustomDraw::~TPTCustomDraw() = default;

void TPTCustomDraw::Reset(NMCUSTOMDRAW* notification, LRESULT* result)
{
    m_notification = notification;
    m_result = result;
    ResultSet = false;
    m_font.reset();
    m_brush.reset();
    FontChanged = BrushChanged = false;
}

std::unique_ptr<TFont> TPTCustomDraw::CreateFont()
{
    auto font = std::make_unique<TFont>();
    font->Assign(m_controlFont);
    font->SetColor(static_cast<TColor>(GetTextColor(GetHandle())));
    font->OnChange = [this](TObject*) { FontChanged = true; };
    return font;
}

std::unique_ptr<TBrush> TPTCustomDraw::CreateBrush()
{
    auto brush = std::make_unique<TBrush>();
    brush->SetColor(static_cast<TColor>(GetBkColor(GetHandle())));
    brush->OnChange = [this](TObject*) { BrushChanged = true; };
    return brush;
}

TFont& TPTCustomDraw::GetFont()
{
    if (!m_font)
        m_font = CreateFont();
    return *m_font;
}

void TPTCustomDraw::SetFont(const TFont& font)
{
    GetFont().Assign(font);
    FontChanged = true;
}

TBrush& TPTCustomDraw::GetBrush()
{
    if (!m_brush)
        m_brush = CreateBrush();
    return *m_brush;
}

void TPTCustomDraw::SetBrush(const TBrush& brush)
{
    GetBrush().Assign(brush);
    BrushChanged = true;
}

TCanvas& TPTCustomDraw::GetCanvas()
{
    if (!m_canvas)
        m_canvas = std::make_unique<TCanvas>();
    m_canvas->SetPainter(GetHandle() ? GetHandle()->Painter : nullptr);
    return *m_canvas;
}

TPTCustomDrawStage TPTCustomDraw::GetDrawStage() const
{
    switch (m_notification->dwDrawStage) {
    case CDDS_PREPAINT: return ptcdsPrePaint;
    case CDDS_POSTPAINT: return ptcdsPostPaint;
    case CDDS_ITEMPREPAINT: return ptcdsItemPrePaint;
    case CDDS_ITEMPOSTPAINT: return ptcdsItemPostPaint;
    default: return ptcdsUnknown;
    }
}

void TPTCustomDraw::SetResult(LRESULT value)
{
    *m_result = value;
    ResultSet = true;
}

void TPTCustomDraw::ApplyItem(COLORREF& textColor, COLORREF& textBkColor)
{
    if (!ResultSet)
        *m_result = 0;
    const DWORD stage = m_notification->dwDrawStage;
    if (stage == CDDS_PREPAINT) {
        if (!ResultSet && ItemNotify)
            *m_result |= CDRF_NOTIFYITEMDRAW;
        return;
    }
    if (stage != CDDS_ITEMPREPAINT)
        return;
    if (SkipDefault) {
        if (!ResultSet)
            *m_result |= CDRF_SKIPDEFAULT;
        return;
    }
    if (FontChanged && m_font) {
        HDC_CD dc = GetHandle();
        if (dc && !SameFontFace(dc->Font, *m_font)) {
            dc->Font.Assign(*m_font);
            *m_result |= CDRF_NEWFONT;
        }
        textColor = ColorToRGB(m_font->Color());
    }
    if (BrushChanged && m_brush)
        textBkColor = ColorToRGB(m_brush->Color());
}

void TPTTvCustomDraw::Apply()
{
    NMTVCUSTOMDRAW* nm = GetMpTvCd();
    ApplyItem(nm->clrText, nm->clrTextBk);
}

// A list handler's own answer is kept, as the tree keeps it: the handler that
// calls SetResult decides.
void TPTLvCustomDraw::Apply()
{
    NMLVCUSTOMDRAW* nm = GetMpLvCd();
    ApplyItem(nm->clrText, nm->clrTextBk);
}

// ---- TPTCustomTreeView ----

TPTCustomTreeView::TPTCustomTreeView(TComponent* owner) : TCustomTreeView(owner) {}
TPTCustomTreeView::~TPTCustomTreeView() = default;

void TPTCustomTreeView::InvalidateNode(TTreeNode* node, bool, bool) { TCustomTreeView::InvalidateNode(node); }

std::unique_ptr<TPTCustomDraw> TPTCustomTreeView::CreateCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    auto cd = std::make_unique<TPTTvCustomDraw>(notification, Font(), result);
    cd->ItemNotify = true;
    return cd;
}

TPTCustomDraw* TPTCustomTreeView::PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    const bool hasPlain = static_cast<bool>(OnPTCustomDraw);
    const bool hasEx = static_cast<bool>(OnPTCustomDrawEx);
    std::unique_ptr<TPTCustomDraw> cd;
    TTreeNode* node = nullptr;
    const bool item = notification->dwDrawStage & CDDS_ITEM;
    if (hasEx) {
        cd = CreateCustomDraw(notification, result);
        node = item ? reinterpret_cast<TTreeNode*>(notification->dwItemSpec) : nullptr;
        OnPTCustomDrawEx(this, cd.get(), node);
    }
    if (hasPlain && notification->dwDrawStage == CDDS_ITEMPREPAINT) {
        if (!cd) {
            cd = CreateCustomDraw(notification, result);
            node = reinterpret_cast<TTreeNode*>(notification->dwItemSpec);
        }
        OnPTCustomDraw(this, cd.get(), node);
    }
    if (cd)
        cd->Apply();
    if ((notification->dwDrawStage & 1) && (hasPlain || hasEx))
        *result |= CDRF_NOTIFYITEMDRAW;
    m_lastCustomDraw = std::move(cd);
    return m_lastCustomDraw.get();
}

void TPTCustomTreeView::NodeContextMenu(TTreeNode* node, TPoint& pos, TPopupMenu*& menu)
{
    if (OnNodeContextMenu)
        OnNodeContextMenu(this, node, pos, menu);
}

void TPTCustomTreeView::DoNodeContextMenu(TTreeNode* node, TPoint pos)
{
    TPopupMenu* menu = PopupMenu;
    NodeContextMenu(node, pos, menu);
    if (menu != PopupMenu)
        NodeMenuShown = true;
    if (menu) {
        const TPoint screen = ClientToScreen(pos);
        menu->Popup(screen.X, screen.Y);
    }
}

void TPTCustomTreeView::DoPreNodeContextMenu()
{
    if (TTreeNode* node = Selected()) {
        const TRect r = NodeRect(node, true);
        DoNodeContextMenu(node, Point((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2));
    } else if (PopupMenu) {
        const TPoint screen = ClientToScreen(Point(0, 0));
        PopupMenu->Popup(screen.X, screen.Y);
    }
}

bool TPTCustomTreeView::CanEdit(TTreeNode* node, std::string&)
{
    bool allow = !ReadOnly;
    if (allow && OnEditing)
        OnEditing(this, node, allow);
    return allow;
}

void TPTCustomTreeView::Edit(TTreeNode* node, const std::string& text)
{
    std::string name = text;
    if (OnEdited)
        OnEdited(this, node, name);
    node->SetText(name);
}

bool TPTCustomTreeView::EditLabel(TTreeNode* node)
{
    if (!node || IsEditing())
        return false;
    std::string text = node->Text();
    if (!CanEdit(node, text))
        return false;
    MakeVisible(node);
    const bool begun = m_labelEditor.Begin(this, TreeNodeLabelRect(*this, node), text,
        [this, node](bool accepted, const std::string& typed) {
            if (accepted)
                Edit(node, typed);
            EditEnded();
        });
    if (!begun)
        EditEnded();
    return begun;
}

void TPTCustomTreeView::KeyDown(WORD& key, TShiftState shift)
{
    const TShiftState mods = shift & (ssShift | ssAlt | ssCtrl);
    if ((key == VK_APPS && mods == 0) || (key == VK_F10 && mods == ssShift)) {
        key = 0;
        DoPreNodeContextMenu();
    }
    TCustomTreeView::KeyDown(key, shift);
}

void TPTCustomTreeView::WndProc(TMessage& message)
{
    if (message.Msg == CN_NOTIFY) {
        auto* hdr = reinterpret_cast<NMHDR*>(message.LParam);
        if (hdr->code == NM_CUSTOMDRAW) {
            message.Result = 0;
            m_lastCustomDraw.reset();
            PTCustomDraw(reinterpret_cast<NMCUSTOMDRAW*>(hdr), &message.Result);
            return;
        }
        if (hdr->code == NM_RCLICK) {
            const TPoint pt = reinterpret_cast<NMMOUSE_PT*>(hdr)->pt;
            if (TTreeNode* node = GetNodeAt(pt.X, pt.Y)) {
                TPoint pos = pt;
                DoNodeContextMenu(node, pos);
                NodeMenuShown = true;
            }
        }
    }
    TCustomTreeView::WndProc(message);
}

// ---- TPTCustomListView ----

TPTCustomListView::TPTCustomListView(TComponent* owner) : TCustomListView(owner) { RouteListViewKeys(*this); }

TPTCustomListView::~TPTCustomListView() = default;

void TPTCustomListView::SetViewStyle(TViewStyle style)
{
    if (style == ViewStyle())
        return;
    TCustomListView::SetViewStyle(style);
    if (style == TViewStyle::vsReport)
        SetHeaderODStyle();
}

void TPTCustomListView::ColumnsChanged()
{
    TCustomListView::ColumnsChanged();
    SetHeaderODStyle();
}

void TPTCustomListView::SetHeaderSortColumn(int column)
{
    if (column == m_headerSortColumn)
        return;
    m_headerSortColumn = column;
    InvalidateHeader();
    SetHeaderODStyle();
}

void TPTCustomListView::SetHeaderSortDirection(TPTLvSortDirection direction)
{
    if (direction == m_headerSortDirection)
        return;
    m_headerSortDirection = direction;
    if (m_headerSortColumn >= 0)
        SetHeaderODStyle();
    InvalidateHeader();
}

void TPTCustomListView::SetHeaderSortDisplayMode(TPTLvHeaderSortDisplayMode mode)
{
    if (mode == m_headerSortDisplayMode)
        return;
    // Common controls before 4.70 have no owner-drawn header items.
    m_headerSortDisplayMode = VersionHigh(COMCTL32_VER) > 0x00040045 ? mode : ptlvNone;
    SetHeaderODStyle();
    InvalidateHeader();
}

void TPTCustomListView::SetHeaderODStyle()
{
    if (ViewStyle() != TViewStyle::vsReport || m_headerStyleLevel > 0)
        return;
    ++m_headerStyleLevel;
    const bool ownerDraw =
        m_headerSortDisplayMode != ptlvNone && !(ComCtl6() && m_headerSortDisplayMode == ptlvRightOfText);
    for (int i = HeaderItemCount() - 1; i >= 0; --i) {
        int format = GetHeaderItemFormat(i) & HDF_JUSTIFYMASK;
        if (ownerDraw) {
            format |= HDF_OWNERDRAW;
        } else {
            format |= HDF_STRING;
            if (i == m_headerSortColumn)
                format |= m_headerSortDirection == ptsdAsc ? HDF_SORTUP : HDF_SORTDOWN;
        }
        SetHeaderItemFormat(i, format);
    }
    InvalidateHeader();
    --m_headerStyleLevel;
}

TRect PTHeaderGlyphRect(const TRect& x)
{
    const int a = (x.Top + x.Bottom) / 2 - 1;
    TRect g;
    g.Left = x.Left;
    g.Right = x.Left + a + 1;
    g.Top = (x.Top + x.Bottom - a) / 2 - 1;
    g.Bottom = g.Top + a;
    return g;
}

namespace {

TRect Moved(TRect r, int dx)
{
    r.Left += dx;
    r.Right += dx;
    return r;
}

} // namespace

void TPTCustomListView::DrawHeader(int column, TRect rect)
{
    m_headerCanvas.Font().Assign(Font());
    m_headerCanvas.Brush().SetColor(clBtnFace);
    rect.Left += 2;
    rect.Top += 2;
    rect.Right -= 2;
    rect.Bottom -= 2;
    if (HeaderDefaultDrawing)
        DefaultDrawHeader(column, rect);
}

void TPTCustomListView::DefaultDrawHeader(int column, TRect r)
{
    if (column < 0 || column >= ColumnCount())
        return;
    TRect t = r;
    t.Left += 4;
    t.Right -= 4;
    m_headerCanvas.SetClipRect(r);
    const TListColumn& col = Column(column);
    const int justify = GetHeaderItemFormat(column) & HDF_JUSTIFYMASK;
    const UINT align = justify == HDF_RIGHT ? DT_RIGHT : justify == HDF_CENTER ? DT_CENTER : DT_LEFT;
    const UINT flags = DT_SINGLELINE | DT_END_ELLIPSIS | DT_VCENTER | align;
    const bool sortColumn = column == m_headerSortColumn;
    auto caption = [&](TRect& into) { DrawText(m_headerCanvas, col.Caption, into, flags); };
    switch (m_headerSortDisplayMode) {
    case ptlvNone:
        caption(t);
        break;
    case ptlvLeftAlign:
        if (sortColumn && ColumnWidth(column) > 15) {
            const TRect g = PTHeaderGlyphRect(t);
            DrawHeaderGlyphs(column, g);
            t.Left = g.Right + 5;
        }
        caption(t);
        break;
    case ptlvRightOfText:
        if (justify == HDF_RIGHT) {
            if (sortColumn) {
                TRect g = PTHeaderGlyphRect(t);
                g = Moved(g, t.Width() - g.Width() - 5);
                DrawHeaderGlyphs(column, g);
                t.Right = g.Left - 4;
            }
            caption(t);
        } else {
            caption(t);
            TRect m = t;
            DrawText(m_headerCanvas, col.Caption, m, DT_CALCRECT | DT_RIGHT | flags);
            m = Moved(m, m.Width() + 5);
            DrawHeaderGlyphs(column, PTHeaderGlyphRect(m));
        }
        break;
    case ptlvRightAlign: {
        TRect g = PTHeaderGlyphRect(t);
        g = Moved(g, t.Width() - g.Width() - 5);
        DrawHeaderGlyphs(column, g);
        if (sortColumn)
            t.Right = g.Left - 4;
        caption(t);
        break;
    }
    }
    m_headerCanvas.SetClipRect(TRect {});
}

void TPTCustomListView::DrawHeaderGlyphs(int column, TRect glyph)
{
    if (column != m_headerSortColumn || ColumnWidth(column) <= 2 * glyph.Width())
        return;
    if (m_headerSortDirection == ptsdDesc)
        DrawUpArrow(m_headerCanvas, glyph, clBtnFace, clBtnShadow, clBtnHighlight);
    else
        DrawDownArrow(m_headerCanvas, glyph, clBtnFace, clBtnShadow, clBtnHighlight);
}

namespace {

void Polyline(TCanvas& canvas, TColor color, std::initializer_list<TPoint> points)
{
    canvas.Pen().SetColor(color);
    auto it = points.begin();
    canvas.MoveTo(it->X, it->Y);
    for (++it; it != points.end(); ++it)
        canvas.LineTo(it->X, it->Y);
}

struct ArrowBox {
    int h, w, l, t, m;
    explicit ArrowBox(const TRect& r)
    {
        h = (r.Bottom - r.Top - 1) | 1;
        w = h + 1;
        l = r.Left;
        t = r.Top;
        m = l + (w - 1) / 2;
    }
};

void FillBox(TCanvas& canvas, const ArrowBox& b, TColor fill)
{
    if (fill == clNone)
        return;
    canvas.Brush().SetColor(fill);
    canvas.FillRect(Rect(b.l, b.t, b.l + b.w, b.t + b.h));
}

} // namespace

void DrawUpArrow(TCanvas& canvas, const TRect& r, TColor fill, TColor first, TColor second)
{
    const ArrowBox b(r);
    FillBox(canvas, b, fill);
    Polyline(canvas, first, {Point(b.m, b.t), Point(b.l, b.t + b.h - 2), Point(b.l, b.t + b.h - 1)});
    Polyline(canvas, second, {Point(b.l, b.t + b.h - 1), Point(b.l + b.w - 1, b.t + b.h - 1), Point(b.m + 1, b.t - 1)});
}

void DrawDownArrow(TCanvas& canvas, const TRect& r, TColor fill, TColor first, TColor second)
{
    const ArrowBox b(r);
    FillBox(canvas, b, fill);
    Polyline(canvas, first, {Point(b.m, b.t + b.h - 1), Point(b.l, b.t + 1), Point(b.l, b.t), Point(b.l + b.w - 1, b.t)});
    Polyline(canvas, second, {Point(b.m + 1, b.t + b.h - 1), Point(b.l + b.w, b.t - 1)});
}

std::unique_ptr<TPTCustomDraw> TPTCustomListView::CreateCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    return std::make_unique<TPTLvCustomDraw>(notification, Font(), result);
}

TPTCustomDraw* TPTCustomListView::PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result)
{
    const bool hasPlain = static_cast<bool>(OnPTCustomDraw);
    const bool hasEx = static_cast<bool>(OnPTCustomDrawEx);
    std::unique_ptr<TPTCustomDraw> cd;
    TListItem* item = nullptr;
    const bool isItem = notification->dwDrawStage & CDDS_ITEM;
    auto itemAt = [&]() -> TListItem* {
        const int row = static_cast<int>(notification->dwItemSpec);
        return row >= 0 && row < Items().Count() ? Items()[row] : nullptr;
    };
    if (hasEx) {
        cd = CreateCustomDraw(notification, result);
        item = isItem ? itemAt() : nullptr;
        OnPTCustomDrawEx(this, cd.get(), item);
    }
    if (hasPlain && notification->dwDrawStage == CDDS_ITEMPREPAINT) {
        if (!cd) {
            cd = CreateCustomDraw(notification, result);
            item = itemAt();
        }
        OnPTCustomDraw(this, cd.get(), item);
    }
    if (cd)
        cd->Apply();
    if (notification->dwDrawStage & 1)
        *result |= CDRF_NOTIFYSUBITEMDRAW;
    m_lastCustomDraw = std::move(cd);
    return m_lastCustomDraw.get();
}

void TPTCustomListView::ItemContextMenu(TListItem* item, TPoint& pos, TPopupMenu*& menu)
{
    if (OnItemContextMenu)
        OnItemContextMenu(this, item, pos, menu);
}

void TPTCustomListView::DoItemContextMenu(TPoint pos)
{
    TPopupMenu* menu = PopupMenu;
    ItemContextMenu(ItemFocused(), pos, menu);
    ItemMenuShown = true;
    if (menu) {
        const TPoint screen = ClientToScreen(pos);
        menu->Popup(screen.X, screen.Y);
    }
}

void TPTCustomListView::DoPreItemContextMenu(TPoint pos)
{
    auto plainMenu = [&] {
        if (PopupMenu) {
            const TPoint screen = ClientToScreen(pos);
            PopupMenu->Popup(screen.X, screen.Y);
        }
        ItemMenuShown = true;
    };
    TListItem* focused = ItemFocused();
    if (!focused || ItemRightClicked) {
        if (ItemRightClicked)
            DoItemContextMenu(pos);
        else
            plainMenu();
        return;
    }
    TListItem* target = focused->Selected() ? focused : Selected();
    if (!target) {
        plainMenu();
        return;
    }
    const TRect r = ItemIconRect(target);
    DoItemContextMenu(Point((r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2));
}

bool TPTCustomListView::CanEdit(TListItem* item, std::string&)
{
    bool allow = !ReadOnly;
    if (allow && OnEditing)
        OnEditing(this, item, allow);
    return allow;
}

void TPTCustomListView::Edit(TListItem* item, const std::string& text)
{
    std::string caption = text;
    if (OnEdited)
        OnEdited(this, item, caption);
    item->SetCaption(caption);
}

bool TPTCustomListView::EditCaption(TListItem* item)
{
    if (!item || IsEditing())
        return false;
    std::string text = ItemText(item, 0);
    if (!CanEdit(item, text))
        return false;
    const bool begun = m_labelEditor.Begin(this, ListItemLabelRect(*this, item), text,
        [this, item](bool accepted, const std::string& typed) {
            if (accepted && Items().IndexOf(item) >= 0)
                Edit(item, typed);
            EditEnded();
        });
    if (!begun)
        EditEnded();
    return begun;
}

void TPTCustomListView::KeyDown(WORD& key, TShiftState shift)
{
    const TShiftState mods = shift & (ssShift | ssAlt | ssCtrl);
    if ((key == VK_APPS && mods == 0) || (key == VK_F10 && mods == ssShift)) {
        key = 0;
        DoPreItemContextMenu(Point(0, 0));
    }
    TCustomListView::KeyDown(key, shift);
}

void TPTCustomListView::WndProc(TMessage& message)
{
    if (message.Msg == WM_DRAWITEM) {
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(message.LParam);
        if (dis->CtlType == ODT_HEADER) {
            m_headerCanvas.SetPainter(dis->hDC ? dis->hDC->Painter : nullptr);
            DrawHeader(static_cast<int>(dis->itemID), dis->rcItem);
            m_headerCanvas.SetPainter(nullptr);
            message.Result = 1;
            return;
        }
    }
    if (message.Msg == CN_NOTIFY) {
        auto* hdr = reinterpret_cast<NMHDR*>(message.LParam);
        switch (hdr->code) {
        case LVN_BEGINDRAG:
        case LVN_BEGINRDRAG:
            DragBegun = true;
            break;
        case NM_CUSTOMDRAW:
            message.Result = 0;
            m_lastCustomDraw.reset();
            PTCustomDraw(reinterpret_cast<NMCUSTOMDRAW*>(hdr), &message.Result);
            return;
        case NM_RCLICK: {
            const TPoint pt = reinterpret_cast<NMMOUSE_PT*>(hdr)->pt;
            ItemRightClicked = GetItemAt(pt.X, pt.Y) != nullptr;
            DoPreItemContextMenu(pt);
            ItemRightClicked = false;
            break;
        }
        default:
            break;
        }
    }
    TCustomListView::WndProc(message);
}
