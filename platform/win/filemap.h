// Read-only mapping of a whole file into memory, as the system's file
// mappings (CreateFileMapping and MapViewOfFile with FILE_MAP_READ) give it.
#pragma once

#include "win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct TFileView {
    const std::uint8_t* Base = nullptr;
    std::size_t Size = 0;
};

// Maps the whole file read-only. False, with GetLastError set, when the file
// cannot be opened (OpenRegularFile: pipes and devices are refused) or
// mapped; an empty file cannot be mapped (error 1006, as
// the system reports for a mapping of zero length).
bool MapFileReadOnly(const std::string& fileName, TFileView& view);
// Unmaps a view mapped by MapFileReadOnly and clears it; nothing when empty.
void UnmapFile(TFileView& view);
