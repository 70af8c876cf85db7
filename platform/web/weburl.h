// Addresses in web pages: schemes, escapes, relative references, and the
// local file a reference in a page on disk names.
#pragma once

#include <string>
#include <cstddef>
#include <string_view>

// The scheme of an address, lower-cased ("http", "file", "cid"); "" when the
// text is a relative reference.
std::string UrlScheme(std::string_view address);
// A reference resolved against an absolute base address (RFC 3986, 5.2).
std::string ResolveUrl(std::string_view base, std::string_view reference);
// "." and ".." segments taken out of a path (RFC 3986, 5.2.4).
std::string RemoveDotSegments(std::string_view path);
// "%41" and the like turned into their bytes; other text stays as it is.
std::string PercentDecode(std::string_view text);
// The address without its "#fragment".
std::string_view WithoutFragment(std::string_view address);
// The local file that a reference in a page names, the page lying in folder
// (with its trailing '/'): a relative or absolute path, or a file: address
// of this machine, escapes undone. "" for any other address (http, ftp,
// another machine's files): those are never fetched.
std::string LocalFileOfReference(const std::string& folder, std::string_view reference);
// The byte that the two hexadecimal digits at text[at] spell; false when
// they are no two such digits.
bool HexByteAt(std::string_view text, std::size_t at, char& byte);
