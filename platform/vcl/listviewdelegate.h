// The item delegate of the list view. In the icon and small-icon views a
// cell never grows past its grid cell, so a long name wraps or ends in an
// ellipsis inside its own cell instead of running over the next icon; in the
// list view each name keeps a gap to the next column, and a very long name
// does not make its column wider than a readable limit.
#pragma once

#include <QStyledItemDelegate>

class TListView;

class ListViewDelegate : public QStyledItemDelegate {
public:
    ListViewDelegate(TListView* view, QObject* parent) : QStyledItemDelegate(parent), m_view(view) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The size the item asks for before the view style limits it.
    QSize NaturalSize(const QStyleOptionViewItem& option, const QModelIndex& index) const
    {
        return QStyledItemDelegate::sizeHint(option, index);
    }

protected:
    TListView* m_view;
};
