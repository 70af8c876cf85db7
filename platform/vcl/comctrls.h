// Common controls: tool bars, status bars, page controls, list views, tree
// views and progress bars.
#pragma once

#include "controls.h"

#include <memory>
#include <string>
#include <vector>

class QToolButton;
class QTabWidget;
class QStackedWidget;
class QTableView;
class QListView;
class QAbstractItemModel;
class QTreeWidget;
class QTreeWidgetItem;
class QProgressBar;
class QAbstractItemView;
class TPopupMenu;
class TPageControl;
class TListView;

enum class TToolButtonStyle { tbsButton, tbsCheck, tbsDropDown, tbsSeparator, tbsDivider };

class TToolBar : public TWinControl {
public:
    explicit TToolBar(TComponent* owner);

protected:
    // Controls line up in the bar in the order they are placed on it.
    void ControlInserted(TControl* control) override;
};

class TToolButton : public TControl {
public:
    explicit TToolButton(TComponent* owner);
    TToolButtonStyle Style() const { return m_style; }
    void SetStyle(TToolButtonStyle style);
    bool Down() const;
    void SetDown(bool down);
    bool Grouped = false;
    TComponentLink<TPopupMenu> DropdownMenu{this};
    // Presses the button as a user's click does.
    void Click() override;

protected:
    void CaptionChanged() override;

private:
    QToolButton* Button() const;
    // DropdownMenu is a plain field, so the menu is attached when it can be
    // needed: before a press and on a click.
    void AttachDropdownMenu();
    TToolButtonStyle m_style = TToolButtonStyle::tbsButton;
    bool m_down = false;
};

struct TStatusPanel {
    std::string Text;
    int Width = 50;
};

class TStatusBar : public TWinControl {
public:
    explicit TStatusBar(TComponent* owner);
    int PanelCount() const { return static_cast<int>(m_panels.size()); }
    void SetPanelCount(int count);
    const TStatusPanel& Panel(int index) const { return m_panels.at(static_cast<size_t>(index)); }
    void SetPanelText(int index, const std::string& text);
    void SetPanelWidth(int index, int width);
    bool SimplePanel = false;
    std::string SimpleText;
    void Repaint();

private:
    std::vector<TStatusPanel> m_panels;
};

class TTabSheet : public TWinControl {
public:
    explicit TTabSheet(TComponent* owner);
    TPageControl* PageControl() const { return m_pageControl; }
    void SetPageControl(TPageControl* pageControl);
    int PageIndex() const;

protected:
    void CaptionChanged() override;

private:
    TComponentLink<TPageControl> m_pageControl{this};
};

class TPageControl : public TWinControl {
public:
    explicit TPageControl(TComponent* owner);
    int PageCount() const { return static_cast<int>(m_pages.size()); }
    TTabSheet* Pages(int index) const { return m_pages.at(static_cast<size_t>(index)); }
    TTabSheet* ActivePage() const;
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const;
    TNotifyEvent OnChange;

private:
    friend class TTabSheet;
    void AddPage(TTabSheet* page);
    void RemovePage(TTabSheet* page);
    void RenamePage(TTabSheet* page);
    QTabWidget* Tabs() const;
    std::vector<TTabSheet*> m_pages;
    bool m_silent = false;
};

enum class TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

class TListItem {
public:
    const std::string& Caption() const;
    void SetCaption(std::string caption);
    const TStringList& SubItems() const;
    // Changing the sub-items through this reference updates the view.
    TStringList& SubItemsForUpdate();
    int ImageIndex() const { return m_imageIndex; }
    void SetImageIndex(int index);
    // The overlay image drawn over the icon (0 a shared folder's emblem, 1 a
    // link's; -1 none) and the cut state, which draws the item dimmed.
    int OverlayIndex() const { return m_overlayIndex; }
    void SetOverlayIndex(int index);
    bool Cut() const { return m_cut; }
    void SetCut(bool cut);
    bool Selected() const { return m_selected; }
    void SetSelected(bool selected);
    int Index() const;
    void* Data = nullptr;
    TListView* ListView() const { return m_owner; }

private:
    friend class TListView;
    friend class TListItems;
    explicit TListItem(TListView* owner) : m_owner(owner) {}
    // The texts an item holds itself, made when it is given one: items of
    // a list whose texts come on demand carry none, which keeps a list of
    // many items small.
    struct Texts {
        std::string caption;
        TStringList subItems;
    };
    Texts& OwnTexts();
    TListView* m_owner;
    std::unique_ptr<Texts> m_texts;
    int m_imageIndex = -1;
    bool m_selected = false;
    bool m_cut = false;
    signed char m_overlayIndex = -1;
};

struct TListColumn {
    std::string Caption;
    int Width = 50;
    bool RightAligned = false;
};

using TLVSelectItemEvent = std::function<void(TObject* sender, TListItem* item, bool selected)>;
using TLVColumnClickEvent = std::function<void(TObject* sender, int column)>;

// The rows of a list view.
class TListItems {
public:
    explicit TListItems(TListView* owner) : m_owner(owner) {}
    int Count() const { return static_cast<int>(m_items.size()); }
    TListItem* operator[](int index) const;
    TListItem* Item(int index) const { return (*this)[index]; }
    TListItem* Add();
    TListItem* Insert(int index);
    void Delete(int index);
    // Deletes every item the predicate names, in one pass.
    void DeleteIf(const std::function<bool(TListItem*)>& predicate);
    void Clear();
    void BeginUpdate();
    void EndUpdate();
    void Exchange(int a, int b);
    int IndexOf(const TListItem* item) const;
    // Orders the rows by the comparison (negative: a before b); rows that
    // compare equal keep their order.
    void CustomSort(const std::function<int(TListItem* a, TListItem* b)>& compare);
    // The same order when the first `sorted` rows are in it already (rows
    // added after a sorted fill): only the others are sorted, then merged
    // among them, a comparison or so per row instead of a whole sort.
    void CustomSortAfter(int sorted, const std::function<int(TListItem* a, TListItem* b)>& compare);
    // Puts the rows in the order given by their present indexes (order[k]
    // is the row that goes to place k), as a sort that ordered them outside.
    void Arrange(const std::vector<std::size_t>& order);

private:
    friend class TListView;
    friend class TListItem;
    TListView* m_owner;
    std::vector<std::unique_ptr<TListItem>> m_items;
};

class TListView : public TWinControl {
public:
    explicit TListView(TComponent* owner);
    ~TListView() override;

    TListItems& Items() { return m_items; }
    const TListItems& Items() const { return m_items; }
    void AddColumn(const std::string& caption, int width, bool rightAligned = false);
    // A column whose width was designed in the pixels of a dialog font whose
    // characters average kDesignCharWidth pixels: the width grows with the
    // list's font, and at least to hold the caption and the sample of what
    // the column usually shows.
    void AddDesignedColumn(const std::string& caption, int designWidth, const std::string& usualText = {},
        bool rightAligned = false);
    // The designed width scaled as AddDesignedColumn scales it.
    int DesignedColumnWidth(const std::string& caption, int designWidth, const std::string& usualText = {}) const;
    static constexpr int kDesignCharWidth = 6;
    void ClearColumns();
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    const TListColumn& Column(int index) const { return m_columns.at(static_cast<size_t>(index)); }
    // The width the report view shows, which the user may have changed.
    int ColumnWidth(int index) const;
    void SetColumnWidth(int index, int width);

    TViewStyle ViewStyle() const { return m_viewStyle; }
    virtual void SetViewStyle(TViewStyle style);
    bool GridLines() const { return m_gridLines; }
    void SetGridLines(bool on);
    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool on);
    // The report view selects whole rows, or single cells.
    bool RowSelect() const { return m_rowSelect; }
    void SetRowSelect(bool on);
    bool HideSelection() const { return m_hideSelection; }
    void SetHideSelection(bool on);

    // The first selected row in list order, nullptr when none.
    TListItem* Selected() const;
    int SelCount() const;
    void ClearSelection();
    virtual void SelectAll();
    TListItem* ItemFocused() const;
    // Gives the item the focus state without selecting it.
    void SetItemFocused(TListItem* item);
    // The item shown as the target of a drag (LVIS_DROPHILITED): drawn as
    // selected while the selected items are drawn plain; nullptr for none.
    TListItem* DropTarget() const { return m_dropTarget; }
    void SetDropTarget(TListItem* item);
    // Scrolls the showing view one line left (negative) or right (positive)
    // and one line up or down, where it has room; true when it moved.
    bool ScrollByLine(int horizontal, int vertical);

    TLVSelectItemEvent OnSelectItem;
    TLVColumnClickEvent OnColumnClick;

    // The item view currently showing (report table or icon/list view).
    QWidget* ActiveView() const;

protected:
    // The text a cell shows: the item's caption and sub-items, unless a
    // derived list produces its texts on demand.
    virtual std::string ItemText(TListItem* item, int column);
    // Called for every item about to leave the list.
    virtual void Delete(TListItem*) {}
    // A click on a column header; fires OnColumnClick.
    virtual void ColClick(int column);
    // Called after the columns were added or cleared.
    virtual void ColumnsChanged() {}
    void FontChanged() override;
    QTableView* ReportView() const;
    QListView* IconView() const;
    QAbstractItemModel* ItemModel() const;

private:
    friend class TListItems;
    friend class TListItem;
    friend class ListViewModel;
    void ItemsChanged(bool reordered = false);
    void ItemChanged(const TListItem* item);
    // Sizes the cells of the icon and small-icon styles for their names.
    void UpdateGrid(int changedRow = -1);
    void SyncSelectionToView();
    void SelectionFromView();
    // An item leaves the list: it no longer holds the focus.
    void ItemLeaving(TListItem* item);
    // Selection changes reach OnSelectItem whether the user or the program
    // made them, deselections first, as with the system's list control.
    void ReportSelectionChanges(const std::vector<TListItem*>& deselected, const std::vector<TListItem*>& selected);

    TListItems m_items;
    std::vector<TListColumn> m_columns;
    TViewStyle m_viewStyle = TViewStyle::vsIcon;
    bool m_gridLines = false;
    bool m_multiSelect = false;
    bool m_rowSelect = true;
    bool m_hideSelection = true;
    int m_updateLevel = 0;
    bool m_syncing = false;
    // The item with the focus state, kept by identity: a refill or a refresh
    // that adds and removes rows resets the view's model, which forgets its
    // current row, and the keyboard would go on from the first row.
    TListItem* m_focused = nullptr;
    TListItem* m_dropTarget = nullptr;
    struct Views;
    std::unique_ptr<Views> m_views;
};

class TCustomTreeView;

class TTreeNode {
public:
    const std::string& Text() const { return m_text; }
    void SetText(const std::string& text);
    TTreeNode* Parent() const { return m_parent; }
    int Count() const { return static_cast<int>(m_children.size()); }
    TTreeNode* Item(int index) const { return m_children.at(static_cast<size_t>(index)).get(); }
    void* Data = nullptr;

    // What the tree views with images and buttons keep per node.
    int ImageIndex = 0;
    int SelectedIndex = 0;
    int OverlayIndex = -1;
    bool Cut = false;
    bool HasChildren() const { return m_hasChildren; }
    int Level() const { return m_parent ? m_parent->Level() + 1 : 0; }
    int Index() const;
    TTreeNode* GetFirstChild() const { return m_children.empty() ? nullptr : m_children.front().get(); }
    TTreeNode* GetNextSibling() const;
    TTreeNode* GetPrevSibling() const;
    // True when this node is the other one or lies below it.
    bool HasAsParent(const TTreeNode* other) const;
    TCustomTreeView* TreeView() const { return m_tree; }

private:
    friend class TCustomTreeView;
    TTreeNode* m_parent = nullptr;
    std::string m_text;
    std::vector<std::unique_ptr<TTreeNode>> m_children;
    QTreeWidgetItem* m_item = nullptr;
    TCustomTreeView* m_tree = nullptr;
    // The container that holds this node (the parent's children or the tree's roots).
    std::vector<std::unique_ptr<TTreeNode>>* m_siblings = nullptr;
    bool m_hasChildren = false;
};

// An item view with HideSelection off keeps its selection as visible
// without the focus as with it; with it on, the selection shows only
// while the view has the focus.
void SetSelectionHiddenWithoutFocus(QAbstractItemView* view, bool hide);

class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* owner);
    int Position() const;
    void SetPosition(int position);
    void SetRange(int min, int max);
};
