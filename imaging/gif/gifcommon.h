// What every part of the GIF graphic class shares: its exception and the
// severities of the messages it reports while reading a damaged file.
#pragma once

#include "rtl/sysutils.h"

VISTREL_DECLARE_EXCEPTION(GIFException, Exception)

enum class TGIFSeverity { Info, Warning, Error };
