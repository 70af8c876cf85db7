// The tree and list control bases of the shell controls: a custom-draw object
// per notification that lets a handler change one item's font and colours and
// turns those changes into the custom-draw answer; context-menu hooks for the
// node or item under a right click or the menu key; and, for the list, the sort
// indicator of the report header, drawn by the control itself (owner-drawn
// items with small 3-D triangles) or left to the header's own arrows.
#pragma once

#include "vcl/customlistview.h"
#include "vcl/itemedit.h"
#include "vcl/menus.h"
#include "vcl/treeview.h"

#include <functional>
#include <memory>

enum TPTCustomDrawStage {
    ptcdsUnknown, ptcdsPrePaint, ptcdsPostPaint, ptcdsPreErase, ptcdsItemPrePaint, ptcdsItemPostPaint,
    ptcdsItemPreErase, ptcdsItemPostErase
};

// One custom-draw notification as an object. It lives until the control's
// next custom-draw notification, so that a font it selected stays valid while
// the control draws.
class TPTCustomDraw : public TObject {
public:
    TPTCustomDraw(NMCUSTOMDRAW* notification, const TFont& controlFont, LRESULT* result);
    ~TPTCustomDraw() override;

    virtual void Reset(NMCUSTOMDRAW* notification, LRESULT* result);
    TFont& GetFont();
    void SetFont(const TFont& font);
    TBrush& GetBrush();
    void SetBrush(const TBrush& brush);
    TCanvas& GetCanvas();
    HDC_CD GetHandle() const { return m_notification->hdc; }
    TRect GetRect() const { return m_notification->rc; }
    DWORD GetRawDrawStage() const { return m_notification->dwDrawStage; }
    TPTCustomDrawStage GetDrawStage() const;
    bool GetIsItem() const { return m_notification->dwDrawStage & CDDS_ITEM; }
    LRESULT GetResult() const { return *m_result; }
    void SetResult(LRESULT value);
    // Turns the object's state into the answer.
    virtual void Apply() = 0;

    bool FontChanged = false;
    bool BrushChanged = false;
    bool ItemNotify = false;
    bool SkipDefault = false;
    bool ResultSet = false;

protected:
    virtual std::unique_ptr<TFont> CreateFont();
    virtual std::unique_ptr<TBrush> CreateBrush();
    // The item pre-paint part of Apply on the record's text colours.
    void ApplyItem(COLORREF& textColor, COLORREF& textBkColor);
    NMCUSTOMDRAW* m_notification;

private:
    const TFont& m_controlFont;
    LRESULT* m_result;
    std::unique_ptr<TFont> m_font;
    std::unique_ptr<TBrush> m_brush;
    std::unique_ptr<TCanvas> m_canvas;
};

class TPTTvCustomDraw : public TPTCustomDraw {
public:
    using TPTCustomDraw::TPTCustomDraw;
    NMTVCUSTOMDRAW* GetMpTvCd() const { return reinterpret_cast<NMTVCUSTOMDRAW*>(m_notification); }
    void Apply() override;
};

class TPTLvCustomDraw : public TPTCustomDraw {
public:
    using TPTCustomDraw::TPTCustomDraw;
    NMLVCUSTOMDRAW* GetMpLvCd() const { return reinterpret_cast<NMLVCUSTOMDRAW*>(m_notification); }
    void Apply() override;
};

using TPTTvCustomDrawEvent = std::function<void(TObject* sender, TPTCustomDraw* cd, TTreeNode* node)>;
using TPTTvOnNodeContextMenuEvent = std::function<void(TObject* sender, TTreeNode* node, TPoint& pos, TPopupMenu*& menu)>;
using TTVEditingEvent = std::function<void(TObject* sender, TTreeNode* node, bool& allowEdit)>;
using TTVEditedEvent = std::function<void(TObject* sender, TTreeNode* node, std::string& text)>;

class TPTCustomTreeView : public TCustomTreeView {
public:
    explicit TPTCustomTreeView(TComponent* owner);
    ~TPTCustomTreeView() override;

    void InvalidateNode(TTreeNode* node, bool textOnly, bool erase);
    // Builds and applies the custom-draw object of a notification; the control keeps it.
    virtual TPTCustomDraw* PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result);

    TPTTvCustomDrawEvent OnPTCustomDraw;
    TPTTvCustomDrawEvent OnPTCustomDrawEx;
    TPTTvOnNodeContextMenuEvent OnNodeContextMenu;
    bool NodeMenuShown = false;

    // Editing a node's text in place: EditLabel starts when CanEdit allows
    // it; the edit ends in Edit with the text the user typed.
    bool ReadOnly = false;
    bool EditLabel(TTreeNode* node);
    bool IsEditing() const { return m_labelEditor.Active(); }
    TLabelEditor& LabelEditor() { return m_labelEditor; }
    TTVEditingEvent OnEditing;
    TTVEditedEvent OnEdited;

    void WndProc(TMessage& message) override;

protected:
    // Whether the node may be edited (fires OnEditing); may set the text the
    // edit box starts with.
    virtual bool CanEdit(TTreeNode* node, std::string& text);
    // The edit ended with a text: fires OnEdited, then the node takes it.
    virtual void Edit(TTreeNode* node, const std::string& text);
    // Called when an edit ends, with or without a text.
    virtual void EditEnded() {}
    virtual std::unique_ptr<TPTCustomDraw> CreateCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result);
    virtual void NodeContextMenu(TTreeNode* node, TPoint& pos, TPopupMenu*& menu);
    virtual void DoNodeContextMenu(TTreeNode* node, TPoint pos);
    virtual void DoPreNodeContextMenu();
    void KeyDown(WORD& key, TShiftState shift) override;
    // The last custom-draw object (kept until the next notification).
    std::unique_ptr<TPTCustomDraw> m_lastCustomDraw;

private:
    TLabelEditor m_labelEditor;
};

enum TPTLvSortDirection { ptsdAsc, ptsdDesc };
enum TPTLvHeaderSortDisplayMode { ptlvNone, ptlvLeftAlign, ptlvRightOfText, ptlvRightAlign };

using TPTLvCustomDrawEvent = std::function<void(TObject* sender, TPTCustomDraw* cd, TListItem* item)>;
using TPTLvOnItemContextMenuEvent = std::function<void(TObject* sender, TListItem* item, TPoint& pos, TPopupMenu*& menu)>;
using TLVEditingEvent = std::function<void(TObject* sender, TListItem* item, bool& allowEdit)>;
using TLVEditedEvent = std::function<void(TObject* sender, TListItem* item, std::string& text)>;

class TPTCustomListView : public TCustomListView {
public:
    explicit TPTCustomListView(TComponent* owner);
    ~TPTCustomListView() override;

    void SetViewStyle(TViewStyle style) override;
    int HeaderSortColumn() const { return m_headerSortColumn; }
    void SetHeaderSortColumn(int column);
    TPTLvSortDirection HeaderSortDirection() const { return m_headerSortDirection; }
    void SetHeaderSortDirection(TPTLvSortDirection direction);
    TPTLvHeaderSortDisplayMode HeaderSortDisplayMode() const { return m_headerSortDisplayMode; }
    void SetHeaderSortDisplayMode(TPTLvHeaderSortDisplayMode mode);
    bool HeaderDefaultDrawing = true;
    // Re-applies the owner-draw or sort-arrow formats of the header items.
    void SetHeaderODStyle();

    virtual TPTCustomDraw* PTCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result);
    virtual void DrawHeader(int column, TRect rect);
    virtual void DefaultDrawHeader(int column, TRect rect);
    virtual void DrawHeaderGlyphs(int column, TRect glyph);

    TPTLvCustomDrawEvent OnPTCustomDraw;
    TPTLvCustomDrawEvent OnPTCustomDrawEx;
    TPTLvOnItemContextMenuEvent OnItemContextMenu;
    bool DragBegun = false;
    bool ItemRightClicked = false;
    bool ItemMenuShown = false;

    // Editing an item's caption in place, as the tree's node texts.
    bool ReadOnly = false;
    bool EditCaption(TListItem* item);
    bool IsEditing() const { return m_labelEditor.Active(); }
    TLabelEditor& LabelEditor() { return m_labelEditor; }
    TLVEditingEvent OnEditing;
    TLVEditedEvent OnEdited;

    void WndProc(TMessage& message) override;

protected:
    virtual bool CanEdit(TListItem* item, std::string& text);
    virtual void Edit(TListItem* item, const std::string& text);
    virtual void EditEnded() {}
    virtual std::unique_ptr<TPTCustomDraw> CreateCustomDraw(NMCUSTOMDRAW* notification, LRESULT* result);
    virtual void ItemContextMenu(TListItem* item, TPoint& pos, TPopupMenu*& menu);
    virtual void DoItemContextMenu(TPoint pos);
    virtual void DoPreItemContextMenu(TPoint pos);
    void KeyDown(WORD& key, TShiftState shift) override;
    void ColumnsChanged() override;
    std::unique_ptr<TPTCustomDraw> m_lastCustomDraw;

private:
    TCanvas m_headerCanvas;
    int m_headerSortColumn = -1;
    TPTLvSortDirection m_headerSortDirection = ptsdAsc;
    TPTLvHeaderSortDisplayMode m_headerSortDisplayMode = ptlvRightOfText;
    int m_headerStyleLevel = 0;
    TLabelEditor m_labelEditor;
};

// The glyph rectangle of the header's sort triangle for a text rectangle.
TRect PTHeaderGlyphRect(const TRect& r);
// The sort triangles; a fill of clNone leaves the background alone.
void DrawUpArrow(TCanvas& canvas, const TRect& r, TColor fill, TColor first, TColor second);
void DrawDownArrow(TCanvas& canvas, const TRect& r, TColor fill, TColor first, TColor second);
