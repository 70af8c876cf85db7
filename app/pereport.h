// The executable-header report: the headers of a Windows executable (PE
// format) as lines of text: file header, optional header, section table,
// data directory, export directory with its functions, and the import
// descriptors with their thunks.
#pragma once

#include "rtl/classes.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Appends the report of the file at path to lines. Never raises: a file that
// cannot be opened, or is empty, gives "Failed to load file!", a file without
// the PE signatures "The file is not a PE file!", and a file that cannot be
// read to the end of a part (another program cut it short meanwhile) ends the
// report with a line that says so. The file is read in blocks as the report
// needs them, never mapped. Every header, table and name is
// read only where it lies inside the file; a part that points outside it
// ends that part of the report. The import descriptors are read within the
// import directory's size, every thunk slot is listed once however the
// descriptors' tables overlap, and a report that grows past 100,000 lines or
// 8 MB of text ends with a line that says it was cut.
void GetPEFileInfo(const std::string& path, TStringList& lines);
// The report of an image already in memory (the file's bytes), named path.
void GetPEImageInfo(const std::uint8_t* data, std::size_t size, const std::string& path, TStringList& lines);
