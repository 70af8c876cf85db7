// The icons of the system image lists as Qt icons, for the platform's own
// image-list and control classes (never included by the subsystems).
#pragma once

#include "shellapi.h"

#include <QIcon>

// The theme icon of an index, with the generic file icon for a name the theme lacks.
QIcon ShellImageListIcon(HIMAGELIST list, int index);
// The same with the emblem of an overlay at its lower left, as ImageList_Draw
// draws overlay n of INDEXTOOVERLAYMASK(n) (1 a shared folder's emblem, 2 a
// link's; 0 none).
QIcon ShellImageListIcon(HIMAGELIST list, int index, UINT overlay);
