// A PDF font as text extraction needs it: how a string splits into
// character codes, the characters each code stands for, and how far each
// moves the text position.
#pragma once

#include "pdfencodings.h"
#include "pdfobjects.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TPdfDocument;

// One shown character code.
struct TPdfChar {
    // The characters the code stands for; empty when the font does not say.
    std::u32string_view Text;
    // The advance in text space for a font size of 1.
    double Width = 0;
    // A single-byte code 32, to which word spacing applies.
    bool WordSpace = false;
};

// A character map's codes and what they stand for: the code space ranges
// that say how many bytes a code has, and the characters of codes (from
// "bfchar" and "bfrange"). Read from the CMap programs of /ToUnicode and of
// embedded /Encoding streams.
class TPdfCMap {
public:
    void Parse(std::string_view program);
    bool HasCodeSpace() const { return !m_codeSpace.empty(); }
    // The byte count of the code at the start of bytes: the shortest code
    // space range it falls in, else the shortest range's length, else 1.
    std::size_t CodeLength(std::string_view bytes) const;
    // The characters of a code of length bytes; null when the map has none.
    const std::u32string* Lookup(std::uint32_t code, std::size_t length) const;
    bool Empty() const { return m_chars.empty() && m_ranges.empty(); }

private:
    struct TCodeSpace {
        std::uint32_t Low, High;
        std::size_t Length;
    };
    struct TRange {
        std::uint32_t Low, High;
        std::size_t Length;
        std::u32string First; // the characters of Low; later codes count up its last character
        std::vector<std::u32string> Each; // or one entry per code
    };
    std::vector<TCodeSpace> m_codeSpace;
    std::unordered_map<std::uint64_t, std::u32string> m_chars;
    std::vector<TRange> m_ranges;
    // Characters made for codes of ranges, kept so that views stay valid.
    mutable std::unordered_map<std::uint64_t, std::u32string> m_made;
};

class TPdfFont {
public:
    // Reads a font dictionary of the document.
    static std::shared_ptr<const TPdfFont> Load(const TPdfObject& dict, const TPdfDocument& document);
    // What text shown without a font, or with one the resources lack, goes
    // through: codes of one byte read as PDFDoc characters, half a unit wide.
    static std::shared_ptr<const TPdfFont> Fallback();

    // Splits the bytes of a shown string into its codes, in order.
    void Decode(std::string_view bytes, std::vector<TPdfChar>& out) const;

private:
    TPdfFont() = default;
    void LoadSimple(const TPdfObject& dict, const TPdfDocument& document);
    void LoadComposite(const TPdfObject& dict, const TPdfDocument& document);
    double CompositeWidth(std::uint32_t cid) const;

    bool m_composite = false;
    // Simple fonts: one entry per byte.
    std::array<std::u32string, 256> m_text;
    std::array<double, 256> m_width {};
    // Composite fonts.
    TPdfCMap m_encoding;      // the code lengths of an embedded encoding
    bool m_identity = true;   // Identity-H/V: codes of two bytes, CID = code
    bool m_unicodeCodes = false; // UCS-2 or UTF-16 encodings: the codes are the characters
    TPdfCMap m_toUnicode;
    double m_defaultWidth = 1.0;
    std::unordered_map<std::uint32_t, double> m_cidWidths;
    // The widths given for runs of CIDs ([c1 c2 w]), looked at after the
    // single ones.
    struct TCidRange {
        std::uint32_t First, Last;
        double Width;
    };
    std::vector<TCidRange> m_cidRanges;
    mutable std::unordered_map<std::uint32_t, std::u32string> m_unicodeOfCode;
};
