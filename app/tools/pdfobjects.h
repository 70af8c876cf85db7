// The objects of a PDF file and the lexer that reads them: numbers,
// strings, names, arrays, dictionaries and references, from the bytes of a
// file, of an object stream, of a content stream or of a character map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct TPdfObject;
using TPdfArray = std::vector<TPdfObject>;
using TPdfDict = std::vector<std::pair<std::string, TPdfObject>>;

struct TPdfRef {
    std::uint32_t Num = 0;
    std::uint32_t Gen = 0;
};

struct TPdfObject {
    enum class TKind { Null, Bool, Number, String, Name, Array, Dict, Ref, Keyword };
    TKind Kind = TKind::Null;
    bool Boolean = false;
    double Number = 0;
    // The bytes of a string, the name without its slash, or the keyword.
    std::string Text;
    std::shared_ptr<const TPdfArray> Array;
    std::shared_ptr<const TPdfDict> Dict;
    TPdfRef Ref;

    bool IsNull() const { return Kind == TKind::Null; }
    bool IsNumber() const { return Kind == TKind::Number; }
    bool IsString() const { return Kind == TKind::String; }
    bool IsName() const { return Kind == TKind::Name; }
    bool IsName(std::string_view name) const { return Kind == TKind::Name && Text == name; }
    bool IsArray() const { return Kind == TKind::Array; }
    bool IsDict() const { return Kind == TKind::Dict; }
    bool IsRef() const { return Kind == TKind::Ref; }
    bool IsKeyword(std::string_view word) const { return Kind == TKind::Keyword && Text == word; }

    // The entry of a dictionary; a null object when there is none or this
    // is no dictionary.
    const TPdfObject& Get(std::string_view key) const;
    // The elements of an array; none when this is no array.
    const TPdfArray& Elements() const;
    // The number as an integer, clamped to the 32-bit range; fallback when
    // this is no number.
    std::int64_t Int(std::int64_t fallback = 0) const;

    static TPdfObject MakeNumber(double value);
    static TPdfObject MakeName(std::string name);
    static TPdfObject MakeString(std::string bytes);
};

// The null object that lookups answer when there is nothing.
const TPdfObject& PdfNull();

// The lexer over a run of bytes. It never reads outside the run; a token
// that reaches the end of the run while more bytes may follow (Partial set)
// counts as cut, so that a caller fed in pieces can wait for the rest.
class TPdfLexer {
public:
    enum class TToken {
        End,        // no more bytes
        Cut,        // the token reaches the end of a partial run
        Number,
        String,
        Name,
        Keyword,    // a run of regular characters: true, obj, BT, Tj, ...
        ArrayOpen,
        ArrayClose,
        DictOpen,
        DictClose,
        BraceOpen,
        BraceClose,
        Junk,       // a delimiter out of place, skipped
    };

    TPdfLexer(std::string_view bytes, std::size_t pos = 0, bool partial = false)
        : m_bytes(bytes), m_pos(pos), m_partial(partial)
    {
    }

    // Reads the next token; its text (string bytes, name, keyword) is in
    // Text(), a number in Number().
    TToken Next();
    // Looks at the next token without taking it.
    TToken Peek();
    const std::string& Text() const { return m_text; }
    double Number() const { return m_number; }
    // True when the number just read had neither dot nor exponent.
    bool IntegerNumber() const { return m_integer; }

    std::size_t Pos() const { return m_pos; }
    void SetPos(std::size_t pos) { m_pos = pos; }
    void SkipWhitespace();
    std::string_view Bytes() const { return m_bytes; }
    bool Partial() const { return m_partial; }

private:
    TToken ReadLiteralString();
    TToken ReadHexString();
    TToken ReadName();
    TToken ReadRegular();

    std::string_view m_bytes;
    std::size_t m_pos;
    bool m_partial;
    std::string m_text;
    double m_number = 0;
    bool m_integer = false;
};

bool PdfIsWhitespace(std::uint8_t c);
bool PdfIsDelimiter(std::uint8_t c);

// Reads one object at the lexer: "N G R" becomes a reference (unless
// references is off, as in content streams, which hold none); arrays and
// dictionaries nest up to a fixed depth. A keyword other than true, false
// and null comes back as a Keyword object. False at the end of the bytes or
// when the object is cut (the lexer is then where it started).
bool ParsePdfObject(TPdfLexer& lexer, TPdfObject& object, bool references = true);
