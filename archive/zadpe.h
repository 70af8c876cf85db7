// Reads string resources out of a Windows executable without running it:
// the executable is parsed as data, with every offset checked against the
// file before it is used.
#pragma once

#include <string>
#include <vector>

class TStream32;

// The string resources first..last in order; the list ends at the first id
// that is missing. Each string is cut to 5 characters (the room the
// self-extractor probes give it) and converted to UTF-8.
std::vector<std::string> ReadPeStringResources(TStream32* stream, int first, int last);
