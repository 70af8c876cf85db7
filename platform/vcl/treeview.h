// The tree view with images, buttons on demand and the common controls'
// notifications: a click is announced (CN_NOTIFY with NM_CLICK, NM_RCLICK)
// before the view acts on it, and each node that is painted asks the control's
// window procedure for a custom-draw answer (NM_CUSTOMDRAW) that steers the
// painting. Children are loaded when a node is first expanded: CanExpand is
// asked before a node opens.
#pragma once

#include "commctrl.h"
#include "comctrls.h"

#include <concepts>
#include <functional>
#include <memory>
#include <vector>

class QTreeWidget;

// The tree's change event (Sender and node); a plain notify handler that
// takes only the sender may be assigned to it as well.
class TTVChangedEvent {
public:
    TTVChangedEvent() = default;
    template <class F>
        requires std::invocable<F&, TObject*, TTreeNode*>
    TTVChangedEvent(F f) : m_f(std::move(f))
    {
    }
    template <class F>
        requires(!std::invocable<F&, TObject*, TTreeNode*> && std::invocable<F&, TObject*>)
    TTVChangedEvent(F f) : m_f([f = std::move(f)](TObject* sender, TTreeNode*) mutable { f(sender); })
    {
    }
    explicit operator bool() const { return static_cast<bool>(m_f); }
    void operator()(TObject* sender, TTreeNode* node) const { m_f(sender, node); }

private:
    std::function<void(TObject*, TTreeNode*)> m_f;
};
using TTVExpandingEvent = std::function<void(TObject* sender, TTreeNode* node, bool& allowExpansion)>;
using TTVExpandedEvent = std::function<void(TObject* sender, TTreeNode* node)>;
using TTVGetImageEvent = std::function<void(TObject* sender, TTreeNode* node)>;

class TCustomTreeView : public TWinControl {
public:
    explicit TCustomTreeView(TComponent* owner);
    ~TCustomTreeView() override;

    // Nodes. A node added last goes after its siblings.
    TTreeNode* AddChild(TTreeNode* parent, const std::string& text);
    // Deletes the node and everything below it (Delete runs for each, deepest first).
    void DeleteNode(TTreeNode* node);
    void ClearNodes();
    int RootCount() const { return static_cast<int>(m_roots.size()); }
    TTreeNode* Root(int index) const { return m_roots.at(static_cast<size_t>(index)).get(); }
    TTreeNode* GetFirstNode() const { return m_roots.empty() ? nullptr : m_roots.front().get(); }
    // Number of nodes in the whole tree.
    int NodeCount() const;
    void BeginUpdate();
    void EndUpdate();

    TTreeNode* Selected() const { return m_selected; }
    // Selects the node (nullptr clears the selection); Change runs when the
    // selection changes.
    void SetSelected(TTreeNode* node);
    // The node shown as the target of a drag (TVIS_DROPHILITED): drawn as
    // selected while the selected node is drawn plain; nullptr for none.
    TTreeNode* DropTarget() const { return m_dropTarget; }
    void SetDropTarget(TTreeNode* node);
    // Scrolls one line left (negative) or right (positive) and one line up
    // or down, where the view has room; true when it moved.
    bool ScrollByLine(int horizontal, int vertical);

    void SetHasChildren(TTreeNode* node, bool hasChildren);
    bool Expanded(const TTreeNode* node) const;
    // Opens the node when CanExpand allows it.
    void Expand(TTreeNode* node, bool recursive = false);
    void Collapse(TTreeNode* node);
    // Orders the children of the node (all roots for nullptr) by the comparison.
    void SortChildren(TTreeNode* parent, const std::function<int(TTreeNode*, TTreeNode*)>& compare, bool recursive);
    void MakeVisible(TTreeNode* node);
    // Notes which node stands in the first row, so that after the program
    // changed the nodes RestoreScrollPosition puts it back there and the rows
    // under the mouse stay where they were (a deleted node falls back to the
    // old scroll bar values).
    void KeepScrollPosition();
    void RestoreScrollPosition();
    // The node's rectangle in client coordinates: the text part or the whole row.
    TRect NodeRect(const TTreeNode* node, bool textOnly) const;
    TTreeNode* GetNodeAt(int x, int y) const;
    void InvalidateNode(TTreeNode* node);

    bool ShowRoot() const { return m_showRoot; }
    void SetShowRoot(bool on);
    // The system image list the node icons come from; none by default.
    void* Images = nullptr;
    bool HideSelection() const { return m_hideSelection; }
    void SetHideSelection(bool on);
    bool RightClickSelect = false;

    TTVChangedEvent OnChange;
    TTVExpandingEvent OnExpanding;
    TTVExpandedEvent OnExpanded;
    TTVChangedEvent OnDeletion;
    TTVGetImageEvent OnGetImageIndex;
    TTVGetImageEvent OnGetSelectedIndex;

    // Paints the control into a bitmap of its size (offscreen tests).
    void PaintTo(TBitmap& bitmap);

    void WndProc(TMessage& message) override;
    bool HandleEvent(QEvent* event) override;

protected:
    virtual bool CanExpand(TTreeNode* node);
    virtual void Expanded_(TTreeNode* node);
    virtual void Change(TTreeNode* node);
    virtual void Delete(TTreeNode* node);
    virtual void GetImageIndex(TTreeNode* node);
    virtual void GetSelectedIndex(TTreeNode* node);
    QTreeWidget* TreeWidget() const;
    // True while the control itself changes the current node (no Change then).
    bool m_silentSelect = false;

private:
    bool m_hideSelection = true;
    friend class TreeDrawDelegate;
    friend class TreeViewportFilter;
    void DeleteChildren(TTreeNode* node);
    // Puts the children's items into the order of the nodes, keeping open
    // nodes open and the current item current.
    void ReorderItems(TTreeNode* parent);
    void Detach(TTreeNode* node);
    void CurrentChanged(QTreeWidgetItem* current);
    void ItemExpanded(QTreeWidgetItem* item);
    static TTreeNode* NodeOf(QTreeWidgetItem* item);

    std::vector<std::unique_ptr<TTreeNode>> m_roots;
    TTreeNode* m_selected = nullptr;
    TTreeNode* m_dropTarget = nullptr;
    bool m_showRoot = true;
    bool m_expanding = false;
    bool m_destroying = false;
    int m_updateLevel = 0;
    struct KeptPosition {
        TTreeNode* top = nullptr;
        int topY = 0;
        int vertical = 0;
        int horizontal = 0;
    } m_kept;
    struct Paint;
    std::unique_ptr<Paint> m_paint;
    std::unique_ptr<QObject> m_viewportFilter;
};
