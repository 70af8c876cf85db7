// Type names and icons from the MIME database (private to the namespace backend).
#pragma once

#include <string>

namespace shellns {

// The type name of a file or folder by its name: the MIME type's description,
// or "EXT File" (the upper-cased extension) for a file of no known type.
std::string FileTypeName(const std::string& name, bool folder);

} // namespace shellns
