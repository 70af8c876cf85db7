// The item delegate of the list view. In the icon and small-icon views every
// item takes its grid cell, so a long name wraps or ends in an ellipsis inside
// its own cell instead of running over the next icon; in the list view each
// name keeps a gap to the next column, and a very long name does not make its
// column wider than a readable limit. Sizes come from the text and the icon
// size alone, so laying out many items never loads their icons.
#pragma once

#include <QStyledItemDelegate>

class TListView;

class ListViewDelegate : public QStyledItemDelegate {
public:
    ListViewDelegate(TListView* view, QObject* parent) : QStyledItemDelegate(parent), m_view(view) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The size of an item drawn on one line: its icon, then its whole name.
    QSize LineItemSize(const QStyleOptionViewItem& option, const QModelIndex& index) const;

protected:
    // Names under a large icon start right below it, one line or two.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    // While a drag shows an item as its target, that item looks selected and
    // the selected ones do not.
    void ShowDropTarget(QStyleOptionViewItem& option, const QModelIndex& index) const;
    // The side of the items' icons in the current view style; 0 for none.
    virtual int IconSize() const { return 0; }
    TListView* m_view;
};
