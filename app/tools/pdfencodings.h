// The character sets PDF fonts and strings are written in: the simple-font
// encodings (standard, WinAnsi, MacRoman, Symbol), PDFDoc, the glyph names
// of the Adobe glyph list that they use, and the widths of the standard
// fonts that documents may use without giving widths.
#pragma once

#include <array>
#include <string_view>

// A code of a simple font as a Unicode character; 0 where the encoding has
// no character.
using TPdfEncoding = std::array<char32_t, 256>;

enum class TPdfEncodingName { Standard, WinAnsi, MacRoman, PdfDoc, Symbol };
const TPdfEncoding& PdfEncoding(TPdfEncodingName name);

// The character of a glyph name: a name of the glyph list (eacute, fi,
// quoteright), "uniXXXX", "uXXXX" to "uXXXXXX"; a suffix after a dot
// (a.sc, one.oldstyle) is left out. 0 for a name it does not know. A
// ligature of several names joined by "_" (f_f_i) gives its first letter
// here; PdfGlyphNameText gives all of them.
char32_t PdfGlyphNameToUnicode(std::string_view name);
// The characters of a glyph name, several for "f_f_i" or "uni00660069";
// empty for a name it does not know.
std::u32string PdfGlyphNameText(std::string_view name);

// The families of the standard fonts whose widths are known without the
// font's /Widths.
enum class TPdfStandardFamily { None, Helvetica, Times, Courier };
// The family of a base font name (subset prefix "ABCDEF+" and style
// suffixes left out; Arial is Helvetica's twin).
TPdfStandardFamily PdfStandardFamily(std::string_view baseFont);
// The width of a character in thousandths of the font size in a standard
// family; characters it does not list get the family's usual width.
int PdfStandardWidth(TPdfStandardFamily family, char32_t c);
