// Row routines shared by the list views of the main window and its dialogs.
#pragma once

#include "vcl/comctrls.h"

#include <string>
#include <vector>

// Appends a row: the first string is its caption, the others its sub-items.
void AddListRow(TListView& view, const std::vector<std::string>& strings);
// Moves the selected row one place up (direction 0) or down (1) by swapping
// its texts with the neighbour's; the selection follows the moved texts.
void MoveListItem(TListView& view, int direction);
// Removes the selected rows (the rows only; no file is touched).
void DeleteSelectedItems(TListView& view);
