// Text of web pages in the character sets they declare, turned into UTF-8.
#pragma once

#include <string>
#include <string_view>

// The bytes in the named character set ("utf-8", "windows-1252", "gb2312",
// ...; any name iconv knows, compared without regard to case) as UTF-8. A
// byte sequence the set does not allow becomes U+FFFD and the conversion
// goes on; an unknown set is read as Windows-1252, the set browsers assume.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);

// The character set of an HTML page: its byte-order mark, else the charset
// its <meta> declares within the first 4096 bytes, else UTF-8 when every
// byte is valid UTF-8, else Windows-1252.
std::string HtmlCharset(std::string_view html);
