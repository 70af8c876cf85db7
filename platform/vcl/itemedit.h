// In-place editing of an item's label in a tree or list view, and the keys
// of a list view's item views, which reach the control before the view acts
// on them (as the system's list control hands every key to its window first).
#pragma once

#include "customlistview.h"
#include "treeview.h"

#include <functional>
#include <memory>
#include <string>

class QLineEdit;

// One edit box over a label. Enter ends the edit with the text, and so does
// a click elsewhere (the box losing the focus); Escape cancels.
class TLabelEditor {
public:
    using Done = std::function<void(bool accepted, const std::string& text)>;

    TLabelEditor();
    ~TLabelEditor();
    TLabelEditor(const TLabelEditor&) = delete;
    TLabelEditor& operator=(const TLabelEditor&) = delete;

    // Shows the box over the rectangle (client coordinates of the control),
    // holding the text, all of it selected. False when an edit is running.
    bool Begin(TWinControl* control, TRect rect, const std::string& text, Done done);
    bool Active() const;
    // Ends the edit as Enter or Escape would.
    void Finish(bool accept);
    // The box while an edit runs (tests type into it); null otherwise.
    QLineEdit* Box() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The label's rectangle of a node or list item, in client coordinates.
TRect TreeNodeLabelRect(TCustomTreeView& tree, TTreeNode* node);
TRect ListItemLabelRect(TCustomListView& list, TListItem* item);

// Makes the keys typed in the list's item views reach the control's
// KeyDown and KeyPress first; the view acts only on keys the control leaves.
void RouteListViewKeys(TCustomListView& list);
