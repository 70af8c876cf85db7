// Style sheets that a page links without naming their type.
#pragma once

#include <string>
#include <string_view>

// The page with type="text/css" given to every <link> whose rel names a
// style sheet ("stylesheet", not an "alternate" one) and whose type is
// missing, empty or "text/css" in another case. Pages rarely name the type
// any more, and browsers assume it; the rich-text engine applies a linked
// sheet only when the type is spelt exactly so. Comments and the text of
// script and style elements are left as they are.
std::string TypeStyleSheetLinks(std::string_view html);
