// The lister's steps for compressed files (gzip, compress: one entry) and
// TAR archives (every file, link and, with ShowEmptyDirs, folder).
#pragma once

#include "archive/zadvirov.h"

TListFormat GzipListFormat();
TListFormat TarListFormat();
