// The icons of the system image lists as Qt icons, for the platform's own
// image-list and control classes (never included by the subsystems).
#pragma once

#include "shellapi.h"

#include <QIcon>

// The theme icon of an index, with the generic file icon for a name the theme lacks.
QIcon ShellImageListIcon(HIMAGELIST list, int index);
