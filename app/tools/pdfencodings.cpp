#include "pdfencodings.h"

#include "rtl/sysutils.h"

#include <string>
#include <unordered_map>

namespace {

struct TGlyphName {
    const char* name;
    char32_t code;
};

// The glyph names of the encodings below and of the fonts that documents
// commonly carry (TeX's, the standard fonts'), with their characters as the
// Adobe glyph list gives them. Letters and digits are added by the code.
constexpr TGlyphName kGlyphNames[] = {
    {"space", 0x20}, {"exclam", 0x21}, {"quotedbl", 0x22}, {"numbersign", 0x23}, {"dollar", 0x24},
    {"percent", 0x25}, {"ampersand", 0x26}, {"quotesingle", 0x27}, {"quoteright", 0x2019}, {"parenleft", 0x28},
    {"parenright", 0x29}, {"asterisk", 0x2A}, {"plus", 0x2B}, {"comma", 0x2C}, {"hyphen", 0x2D},
    {"period", 0x2E}, {"slash", 0x2F}, {"zero", 0x30}, {"one", 0x31}, {"two", 0x32}, {"three", 0x33},
    {"four", 0x34}, {"five", 0x35}, {"six", 0x36}, {"seven", 0x37}, {"eight", 0x38}, {"nine", 0x39},
    {"colon", 0x3A}, {"semicolon", 0x3B}, {"less", 0x3C}, {"equal", 0x3D}, {"greater", 0x3E},
    {"question", 0x3F}, {"at", 0x40}, {"bracketleft", 0x5B}, {"backslash", 0x5C}, {"bracketright", 0x5D},
    {"asciicircum", 0x5E}, {"underscore", 0x5F}, {"grave", 0x60}, {"quoteleft", 0x2018}, {"braceleft", 0x7B},
    {"bar", 0x7C}, {"braceright", 0x7D}, {"asciitilde", 0x7E},
    {"nbspace", 0xA0}, {"nonbreakingspace", 0xA0}, {"exclamdown", 0xA1}, {"cent", 0xA2}, {"sterling", 0xA3},
    {"currency", 0xA4}, {"yen", 0xA5}, {"brokenbar", 0xA6}, {"section", 0xA7}, {"dieresis", 0xA8},
    {"copyright", 0xA9}, {"ordfeminine", 0xAA}, {"guillemotleft", 0xAB}, {"guillemetleft", 0xAB},
    {"logicalnot", 0xAC}, {"sfthyphen", 0xAD}, {"registered", 0xAE}, {"macron", 0xAF}, {"degree", 0xB0},
    {"plusminus", 0xB1}, {"twosuperior", 0xB2}, {"threesuperior", 0xB3}, {"acute", 0xB4}, {"mu", 0xB5},
    {"paragraph", 0xB6}, {"periodcentered", 0xB7}, {"middot", 0xB7}, {"cedilla", 0xB8}, {"onesuperior", 0xB9},
    {"ordmasculine", 0xBA}, {"guillemotright", 0xBB}, {"guillemetright", 0xBB}, {"onequarter", 0xBC},
    {"onehalf", 0xBD}, {"threequarters", 0xBE}, {"questiondown", 0xBF},
    {"Agrave", 0xC0}, {"Aacute", 0xC1}, {"Acircumflex", 0xC2}, {"Atilde", 0xC3}, {"Adieresis", 0xC4},
    {"Aring", 0xC5}, {"AE", 0xC6}, {"Ccedilla", 0xC7}, {"Egrave", 0xC8}, {"Eacute", 0xC9},
    {"Ecircumflex", 0xCA}, {"Edieresis", 0xCB}, {"Igrave", 0xCC}, {"Iacute", 0xCD}, {"Icircumflex", 0xCE},
    {"Idieresis", 0xCF}, {"Eth", 0xD0}, {"Ntilde", 0xD1}, {"Ograve", 0xD2}, {"Oacute", 0xD3},
    {"Ocircumflex", 0xD4}, {"Otilde", 0xD5}, {"Odieresis", 0xD6}, {"multiply", 0xD7}, {"Oslash", 0xD8},
    {"Ugrave", 0xD9}, {"Uacute", 0xDA}, {"Ucircumflex", 0xDB}, {"Udieresis", 0xDC}, {"Yacute", 0xDD},
    {"Thorn", 0xDE}, {"germandbls", 0xDF}, {"agrave", 0xE0}, {"aacute", 0xE1}, {"acircumflex", 0xE2},
    {"atilde", 0xE3}, {"adieresis", 0xE4}, {"aring", 0xE5}, {"ae", 0xE6}, {"ccedilla", 0xE7},
    {"egrave", 0xE8}, {"eacute", 0xE9}, {"ecircumflex", 0xEA}, {"edieresis", 0xEB}, {"igrave", 0xEC},
    {"iacute", 0xED}, {"icircumflex", 0xEE}, {"idieresis", 0xEF}, {"eth", 0xF0}, {"ntilde", 0xF1},
    {"ograve", 0xF2}, {"oacute", 0xF3}, {"ocircumflex", 0xF4}, {"otilde", 0xF5}, {"odieresis", 0xF6},
    {"divide", 0xF7}, {"oslash", 0xF8}, {"ugrave", 0xF9}, {"uacute", 0xFA}, {"ucircumflex", 0xFB},
    {"udieresis", 0xFC}, {"yacute", 0xFD}, {"thorn", 0xFE}, {"ydieresis", 0xFF},
    {"Amacron", 0x100}, {"amacron", 0x101}, {"Abreve", 0x102}, {"abreve", 0x103}, {"Aogonek", 0x104},
    {"aogonek", 0x105}, {"Cacute", 0x106}, {"cacute", 0x107}, {"Ccaron", 0x10C}, {"ccaron", 0x10D},
    {"Dcaron", 0x10E}, {"dcaron", 0x10F}, {"Dcroat", 0x110}, {"dcroat", 0x111}, {"Emacron", 0x112},
    {"emacron", 0x113}, {"Edotaccent", 0x116}, {"edotaccent", 0x117}, {"Eogonek", 0x118}, {"eogonek", 0x119},
    {"Ecaron", 0x11A}, {"ecaron", 0x11B}, {"Gbreve", 0x11E}, {"gbreve", 0x11F}, {"Imacron", 0x12A},
    {"imacron", 0x12B}, {"Iogonek", 0x12E}, {"iogonek", 0x12F}, {"Idotaccent", 0x130}, {"dotlessi", 0x131},
    {"Lacute", 0x139}, {"lacute", 0x13A}, {"Lcaron", 0x13D}, {"lcaron", 0x13E}, {"Lslash", 0x141},
    {"lslash", 0x142}, {"Nacute", 0x143}, {"nacute", 0x144}, {"Ncaron", 0x147}, {"ncaron", 0x148},
    {"Omacron", 0x14C}, {"omacron", 0x14D}, {"Ohungarumlaut", 0x150}, {"ohungarumlaut", 0x151},
    {"OE", 0x152}, {"oe", 0x153}, {"Racute", 0x154}, {"racute", 0x155}, {"Rcaron", 0x158}, {"rcaron", 0x159},
    {"Sacute", 0x15A}, {"sacute", 0x15B}, {"Scedilla", 0x15E}, {"scedilla", 0x15F}, {"Scaron", 0x160},
    {"scaron", 0x161}, {"Tcaron", 0x164}, {"tcaron", 0x165}, {"Umacron", 0x16A}, {"umacron", 0x16B},
    {"Uring", 0x16E}, {"uring", 0x16F}, {"Uhungarumlaut", 0x170}, {"uhungarumlaut", 0x171},
    {"Uogonek", 0x172}, {"uogonek", 0x173}, {"Ydieresis", 0x178}, {"Zacute", 0x179}, {"zacute", 0x17A},
    {"Zdotaccent", 0x17B}, {"zdotaccent", 0x17C}, {"Zcaron", 0x17D}, {"zcaron", 0x17E}, {"florin", 0x192},
    {"dotlessj", 0x237}, {"circumflex", 0x2C6}, {"caron", 0x2C7}, {"breve", 0x2D8}, {"dotaccent", 0x2D9},
    {"ring", 0x2DA}, {"ogonek", 0x2DB}, {"tilde", 0x2DC}, {"hungarumlaut", 0x2DD},
    {"Alpha", 0x391}, {"Beta", 0x392}, {"Gamma", 0x393}, {"Epsilon", 0x395}, {"Zeta", 0x396}, {"Eta", 0x397},
    {"Theta", 0x398}, {"Iota", 0x399}, {"Kappa", 0x39A}, {"Lambda", 0x39B}, {"Mu", 0x39C}, {"Nu", 0x39D},
    {"Xi", 0x39E}, {"Omicron", 0x39F}, {"Pi", 0x3A0}, {"Rho", 0x3A1}, {"Sigma", 0x3A3}, {"Tau", 0x3A4},
    {"Upsilon", 0x3A5}, {"Phi", 0x3A6}, {"Chi", 0x3A7}, {"Psi", 0x3A8}, {"alpha", 0x3B1}, {"beta", 0x3B2},
    {"gamma", 0x3B3}, {"delta", 0x3B4}, {"epsilon", 0x3B5}, {"zeta", 0x3B6}, {"eta", 0x3B7}, {"theta", 0x3B8},
    {"iota", 0x3B9}, {"kappa", 0x3BA}, {"lambda", 0x3BB}, {"nu", 0x3BD}, {"xi", 0x3BE}, {"omicron", 0x3BF},
    {"pi", 0x3C0}, {"rho", 0x3C1}, {"sigma1", 0x3C2}, {"sigma", 0x3C3}, {"tau", 0x3C4}, {"upsilon", 0x3C5},
    {"phi", 0x3C6}, {"chi", 0x3C7}, {"psi", 0x3C8}, {"omega", 0x3C9}, {"theta1", 0x3D1}, {"Upsilon1", 0x3D2},
    {"phi1", 0x3D5}, {"omega1", 0x3D6},
    {"endash", 0x2013}, {"emdash", 0x2014}, {"quotesinglbase", 0x201A}, {"quotedblleft", 0x201C},
    {"quotedblright", 0x201D}, {"quotedblbase", 0x201E}, {"dagger", 0x2020}, {"daggerdbl", 0x2021},
    {"bullet", 0x2022}, {"ellipsis", 0x2026}, {"perthousand", 0x2030}, {"minute", 0x2032}, {"second", 0x2033},
    {"guilsinglleft", 0x2039}, {"guilsinglright", 0x203A}, {"fraction", 0x2044}, {"Euro", 0x20AC},
    {"trademark", 0x2122}, {"Omega", 0x2126}, {"arrowleft", 0x2190}, {"arrowup", 0x2191},
    {"arrowright", 0x2192}, {"arrowdown", 0x2193}, {"arrowboth", 0x2194}, {"universal", 0x2200},
    {"partialdiff", 0x2202}, {"existential", 0x2203}, {"emptyset", 0x2205}, {"Delta", 0x2206},
    {"gradient", 0x2207}, {"element", 0x2208}, {"notelement", 0x2209}, {"suchthat", 0x220B},
    {"product", 0x220F}, {"summation", 0x2211}, {"minus", 0x2212}, {"asteriskmath", 0x2217},
    {"radical", 0x221A}, {"proportional", 0x221D}, {"infinity", 0x221E}, {"angle", 0x2220},
    {"logicaland", 0x2227}, {"logicalor", 0x2228}, {"intersection", 0x2229}, {"union", 0x222A},
    {"integral", 0x222B}, {"therefore", 0x2234}, {"similar", 0x223C}, {"congruent", 0x2245},
    {"approxequal", 0x2248}, {"notequal", 0x2260}, {"equivalence", 0x2261}, {"lessequal", 0x2264},
    {"greaterequal", 0x2265}, {"propersubset", 0x2282}, {"propersuperset", 0x2283}, {"reflexsubset", 0x2286},
    {"reflexsuperset", 0x2287}, {"circleplus", 0x2295}, {"circlemultiply", 0x2297}, {"perpendicular", 0x22A5},
    {"dotmath", 0x22C5}, {"lozenge", 0x25CA}, {"spade", 0x2660}, {"club", 0x2663}, {"heart", 0x2665},
    {"diamond", 0x2666}, {"ff", 0xFB00}, {"fi", 0xFB01}, {"fl", 0xFB02}, {"ffi", 0xFB03}, {"ffl", 0xFB04},
    {"radicalex", 0xF8E5}, {"apple", 0xF8FF},
};

const std::unordered_map<std::string_view, char32_t>& GlyphNames()
{
    static const std::unordered_map<std::string_view, char32_t> names = [] {
        std::unordered_map<std::string_view, char32_t> m;
        for (const TGlyphName& g : kGlyphNames)
            m.emplace(g.name, g.code);
        static const char* const kLetters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M",
            "N", "O", "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "a", "b", "c", "d", "e", "f", "g",
            "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z"};
        for (const char* l : kLetters)
            m.emplace(l, static_cast<char32_t>(l[0]));
        return m;
    }();
    return names;
}

// Hex digits as one number; false when there are none or one is no digit.
bool HexNumber(std::string_view digits, char32_t& value)
{
    if (digits.empty())
        return false;
    value = 0;
    for (char c : digits) {
        const int v = HexDigitValue(c);
        if (v < 0)
            return false;
        value = value * 16 + static_cast<char32_t>(v);
    }
    return true;
}

bool Usable(char32_t c) { return c > 0 && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// The characters of one glyph name without "_" joins.
std::u32string SingleName(std::string_view name)
{
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos && dot > 0)
        name = name.substr(0, dot);
    const auto& names = GlyphNames();
    if (const auto it = names.find(name); it != names.end())
        return std::u32string(1, it->second);
    // "uni" and groups of four hex digits, each a character.
    if (name.size() >= 7 && name.substr(0, 3) == "uni" && (name.size() - 3) % 4 == 0) {
        std::u32string text;
        for (std::size_t at = 3; at < name.size(); at += 4) {
            char32_t c;
            if (!HexNumber(name.substr(at, 4), c) || !Usable(c))
                return {};
            text += c;
        }
        return text;
    }
    // "u" and four to six hex digits.
    if (name.size() >= 5 && name.size() <= 7 && name[0] == 'u') {
        char32_t c;
        if (HexNumber(name.substr(1), c) && Usable(c))
            return std::u32string(1, c);
    }
    return {};
}

// The high half of the encodings (0x80 to 0xFF), with the few places of the
// low half where they leave ASCII.
constexpr char32_t kStandardHigh[128] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 90
    0, 0xA1, 0xA2, 0xA3, 0x2044, 0xA5, 0x192, 0xA7, 0xA4, 0x27, 0x201C, 0xAB, 0x2039, 0x203A, 0xFB01, 0xFB02, // A0
    0, 0x2013, 0x2020, 0x2021, 0xB7, 0, 0xB6, 0x2022, 0x201A, 0x201E, 0x201D, 0xBB, 0x2026, 0x2030, 0, 0xBF, // B0
    0, 0x60, 0xB4, 0x2C6, 0x2DC, 0xAF, 0x2D8, 0x2D9, 0xA8, 0, 0x2DA, 0xB8, 0, 0x2DD, 0x2DB, 0x2C7, // C0
    0x2014, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // D0
    0, 0xC6, 0, 0xAA, 0, 0, 0, 0, 0x141, 0xD8, 0x152, 0xBA, 0, 0, 0, 0, // E0
    0, 0xE6, 0, 0, 0, 0x131, 0, 0, 0x142, 0xF8, 0x153, 0xDF, 0, 0, 0, 0, // F0
};

constexpr char32_t kWinAnsiHigh[128] = {
    0x20AC, 0x2022, 0x201A, 0x192, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x2C6, 0x2030, 0x160, 0x2039, 0x152, 0x2022, 0x17D, 0x2022,
    0x2022, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x2DC, 0x2122, 0x161, 0x203A, 0x153, 0x2022, 0x17E, 0x178,
    0x20, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0x2D, 0xAE, 0xAF, // A0
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, // B0
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, // C0
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, // D0
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, // E0
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, // F0
};

constexpr char32_t kMacRomanHigh[128] = {
    0xC4, 0xC5, 0xC7, 0xC9, 0xD1, 0xD6, 0xDC, 0xE1, 0xE0, 0xE2, 0xE4, 0xE3, 0xE5, 0xE7, 0xE9, 0xE8, // 80
    0xEA, 0xEB, 0xED, 0xEC, 0xEE, 0xEF, 0xF1, 0xF3, 0xF2, 0xF4, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC, // 90
    0x2020, 0xB0, 0xA2, 0xA3, 0xA7, 0x2022, 0xB6, 0xDF, 0xAE, 0xA9, 0x2122, 0xB4, 0xA8, 0x2260, 0xC6, 0xD8, // A0
    0x221E, 0xB1, 0x2264, 0x2265, 0xA5, 0xB5, 0x2202, 0x2211, 0x220F, 0x3C0, 0x222B, 0xAA, 0xBA, 0x2126, 0xE6, 0xF8, // B0
    0xBF, 0xA1, 0xAC, 0x221A, 0x192, 0x2248, 0x2206, 0xAB, 0xBB, 0x2026, 0x20, 0xC0, 0xC3, 0xD5, 0x152, 0x153, // C0
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0xF7, 0x25CA, 0xFF, 0x178, 0x2044, 0xA4, 0x2039, 0x203A, 0xFB01, 0xFB02, // D0
    0x2021, 0xB7, 0x201A, 0x201E, 0x2030, 0xC2, 0xCA, 0xC1, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0xD3, 0xD4, // E0
    0xF8FF, 0xD2, 0xDA, 0xDB, 0xD9, 0x131, 0x2C6, 0x2DC, 0xAF, 0x2D8, 0x2D9, 0x2DA, 0xB8, 0x2DD, 0x2DB, 0x2C7, // F0
};

constexpr char32_t kPdfDocHigh[128] = {
    0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x192, 0x2044, // 80
    0x2039, 0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018,
    0x2019, 0x201A, 0x2122, 0xFB01, 0xFB02, 0x141, 0x152, 0x160, // 90
    0x178, 0x17D, 0x131, 0x142, 0x153, 0x161, 0x17E, 0,
    0x20AC, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0, 0xAE, 0xAF, // A0
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF, // B0
    0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, // C0
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, // D0
    0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, // E0
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, // F0
};

// The Symbol font's own encoding: Greek letters and mathematical signs.
constexpr char32_t kSymbolLow[95] = {
    0x20, 0x21, 0x2200, 0x23, 0x2203, 0x25, 0x26, 0x220B, 0x28, 0x29, 0x2217, 0x2B, 0x2C, 0x2212, 0x2E, 0x2F, // 20
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, // 30
    0x2245, 0x391, 0x392, 0x3A7, 0x394, 0x395, 0x3A6, 0x393, 0x397, 0x399, 0x3D1, 0x39A, 0x39B, 0x39C, 0x39D, 0x39F, // 40
    0x3A0, 0x398, 0x3A1, 0x3A3, 0x3A4, 0x3A5, 0x3C2, 0x3A9, 0x39E, 0x3A8, 0x396, 0x5B, 0x2234, 0x5D, 0x22A5, 0x5F, // 50
    0xF8E5, 0x3B1, 0x3B2, 0x3C7, 0x3B4, 0x3B5, 0x3C6, 0x3B3, 0x3B7, 0x3B9, 0x3D5, 0x3BA, 0x3BB, 0x3BC, 0x3BD, 0x3BF, // 60
    0x3C0, 0x3B8, 0x3C1, 0x3C3, 0x3C4, 0x3C5, 0x3D6, 0x3C9, 0x3BE, 0x3C8, 0x3B6, 0x7B, 0x7C, 0x7D, 0x223C, // 70
};

constexpr char32_t kSymbolHigh[32] = {
    0, 0x3D2, 0x2032, 0x2264, 0x2044, 0x221E, 0x192, 0x2663, 0x2666, 0x2665, 0x2660, 0x2194, 0x2190, 0x2191, // A0
    0x2192, 0x2193, 0xB0, 0xB1, 0x2033, 0x2265, 0xD7, 0x221D, 0x2202, 0x2022, 0xF7, 0x2260, 0x2261, 0x2248, // B0
    0x2026, 0, 0, 0,
};

TPdfEncoding Build(const char32_t (&high)[128], bool asciiQuotes)
{
    TPdfEncoding e {};
    for (char32_t c = 0x20; c < 0x7F; ++c)
        e[c] = c;
    if (!asciiQuotes) {
        e[0x27] = 0x2019;
        e[0x60] = 0x2018;
    }
    for (int i = 0; i < 128; ++i)
        e[128 + i] = high[i];
    return e;
}

} // namespace

const TPdfEncoding& PdfEncoding(TPdfEncodingName name)
{
    static const TPdfEncoding standard = Build(kStandardHigh, false);
    static const TPdfEncoding winAnsi = [] {
        TPdfEncoding e = Build(kWinAnsiHigh, true);
        e[0x7F] = 0x2022;
        return e;
    }();
    static const TPdfEncoding macRoman = Build(kMacRomanHigh, true);
    static const TPdfEncoding pdfDoc = [] {
        TPdfEncoding e = Build(kPdfDocHigh, true);
        const char32_t low[8] = {0x2D8, 0x2C7, 0x2C6, 0x2D9, 0x2DD, 0x2DB, 0x2DA, 0x2DC};
        for (int i = 0; i < 8; ++i)
            e[0x18 + i] = low[i];
        e[0x09] = 0x09;
        e[0x0A] = 0x0A;
        e[0x0D] = 0x0D;
        return e;
    }();
    static const TPdfEncoding symbol = [] {
        TPdfEncoding e {};
        for (int i = 0; i < 95; ++i)
            e[0x20 + i] = kSymbolLow[i];
        for (int i = 0; i < 32; ++i)
            e[0xA0 + i] = kSymbolHigh[i];
        return e;
    }();
    switch (name) {
    case TPdfEncodingName::Standard: return standard;
    case TPdfEncodingName::WinAnsi: return winAnsi;
    case TPdfEncodingName::MacRoman: return macRoman;
    case TPdfEncodingName::PdfDoc: return pdfDoc;
    case TPdfEncodingName::Symbol: return symbol;
    }
    return standard;
}

std::u32string PdfGlyphNameText(std::string_view name)
{
    if (name.find('_') == std::string_view::npos || name.find('_') == 0)
        return SingleName(name);
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    std::u32string text;
    for (std::size_t from = 0; from <= name.size();) {
        std::size_t to = name.find('_', from);
        if (to == std::string_view::npos)
            to = name.size();
        const std::u32string part = SingleName(name.substr(from, to - from));
        if (part.empty())
            return {};
        text += part;
        from = to + 1;
    }
    return text;
}

char32_t PdfGlyphNameToUnicode(std::string_view name)
{
    const std::u32string text = PdfGlyphNameText(name);
    return text.empty() ? 0 : text[0];
}

namespace {

// Widths of the printable ASCII characters, 0x20 to 0x7E, in thousandths.
constexpr short kHelveticaWidths[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278, // 20
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556, // 30
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778, // 40
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556, // 50
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556, // 60
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584, // 70
};

constexpr short kTimesWidths[95] = {
    250, 333, 408, 500, 500, 833, 778, 180, 333, 333, 500, 564, 250, 333, 250, 278, // 20
    500, 500, 500, 500, 500, 500, 500, 500, 500, 500, 278, 278, 564, 564, 564, 444, // 30
    921, 722, 667, 667, 722, 611, 556, 722, 722, 333, 389, 722, 611, 889, 722, 722, // 40
    556, 722, 667, 556, 611, 722, 722, 944, 722, 722, 611, 333, 278, 333, 469, 500, // 50
    333, 444, 500, 444, 500, 444, 333, 500, 500, 278, 278, 500, 278, 778, 500, 500, // 60
    500, 500, 333, 389, 278, 500, 500, 722, 500, 500, 444, 480, 200, 480, 541, // 70
};

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

} // namespace

TPdfStandardFamily PdfStandardFamily(std::string_view baseFont)
{
    // "ABCDEF+Helvetica-Bold": a subset keeps the name after its tag.
    if (baseFont.size() > 7 && baseFont[6] == '+')
        baseFont.remove_prefix(7);
    if (StartsWith(baseFont, "Helvetica") || StartsWith(baseFont, "Arial"))
        return TPdfStandardFamily::Helvetica;
    if (StartsWith(baseFont, "Times"))
        return TPdfStandardFamily::Times;
    if (StartsWith(baseFont, "Courier"))
        return TPdfStandardFamily::Courier;
    return TPdfStandardFamily::None;
}

int PdfStandardWidth(TPdfStandardFamily family, char32_t c)
{
    switch (family) {
    case TPdfStandardFamily::Courier: return 600;
    case TPdfStandardFamily::Helvetica: return c >= 0x20 && c < 0x7F ? kHelveticaWidths[c - 0x20] : 556;
    case TPdfStandardFamily::Times: return c >= 0x20 && c < 0x7F ? kTimesWidths[c - 0x20] : 500;
    case TPdfStandardFamily::None: break;
    }
    return 500;
}
