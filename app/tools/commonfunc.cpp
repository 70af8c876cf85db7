#include "commonfunc.h"

void AddListRow(TListView& view, const std::vector<std::string>& strings)
{
    TListItem* item = view.Items().Add();
    if (strings.empty())
        return;
    item->SetCaption(strings[0]);
    TStringList& sub = item->SubItemsForUpdate();
    for (size_t i = 1; i < strings.size(); ++i)
        sub.Add(strings[i]);
}

void MoveListItem(TListView& view, int direction)
{
    view.SetFocus();
    TListItem* row = view.Selected();
    if (!row)
        return;
    const int index = row->Index();
    const int count = view.Items().Count();
    if ((direction == 0 && index <= 0) || (direction != 0 && index >= count - 1))
        return;
    TListItem* neighbour = view.Items()[direction == 0 ? index - 1 : index + 1];
    const std::string caption = row->Caption();
    row->SetCaption(neighbour->Caption());
    neighbour->SetCaption(caption);
    TStringList rowSub;
    rowSub.Assign(row->SubItems());
    row->SubItemsForUpdate().Assign(neighbour->SubItems());
    neighbour->SubItemsForUpdate().Assign(rowSub);
    neighbour->SetSelected(true);
    row->SetSelected(false);
}

void DeleteSelectedItems(TListView& view)
{
    TListItems& items = view.Items();
    items.BeginUpdate();
    int i = 0;
    while (i < items.Count()) {
        if (items[i]->Selected())
            items.Delete(i);
        else
            ++i;
    }
    items.EndUpdate();
}
