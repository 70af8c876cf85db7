// A PDF file's objects as this program reads them for their text: every
// "N G obj" of the file, and the objects of its object streams, found by a
// walk over the bytes (so that a file whose cross-reference table is wrong
// or missing reads as well as a sound one); the trailer's catalog and
// encryption; the pages in order with their inherited resources; and the
// decoded bytes of a stream.
#pragma once

#include "pdffilters.h"
#include "pdfobjects.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TPdfFont;

class TPdfDocument {
public:
    // Reads the objects of the file's bytes, which must stay as they are
    // while the document is used.
    explicit TPdfDocument(std::string_view file);
    ~TPdfDocument();
    TPdfDocument(const TPdfDocument&) = delete;
    TPdfDocument& operator=(const TPdfDocument&) = delete;

    // The object a reference leads to (references to references followed a
    // few steps), or the object itself when it is no reference. A missing
    // object is null.
    const TPdfObject& Resolve(const TPdfObject& object) const;
    // The dictionary of a stream object, or of any object; and whether the
    // object is a stream.
    bool IsStream(const TPdfObject& object) const;

    // Decodes a stream (given by reference or as the resolved object) and
    // hands its bytes to the sink in pieces.
    TPdfDecodeResult DecodeStream(const TPdfObject& stream, const TPdfSink& sink) const;
    // The decoded bytes of a stream up to limit bytes; false when it is no
    // stream or cannot be decoded.
    bool StreamBytes(const TPdfObject& stream, std::size_t limit, std::string& bytes) const;

    // The trailer says that the document is encrypted: its streams cannot
    // be read without the key.
    bool Encrypted() const { return m_encrypted; }

    struct TPage {
        TPdfObject Dict;      // the page dictionary
        TPdfObject Resources; // its resources, or the nearest ancestor's
    };
    // The pages in the order of the page tree; none when the file has no
    // catalog or page tree that leads to any.
    std::vector<TPage> Pages() const;

    // Every font dictionary that some resource dictionary of the file
    // names, by its resource name: what text outside any known page can
    // use (a damaged file whose pages cannot be found).
    TPdfObject AllFonts() const;

    // The streams of the file in the order they stand, for a walk that does
    // not go through pages.
    std::vector<TPdfObject> StreamsInFileOrder() const;

    // The font of a font dictionary, read once per document.
    std::shared_ptr<const TPdfFont> Font(const TPdfObject& fontRef) const;

private:
    struct TEntry {
        std::size_t Offset = 0;           // where the object stands (its object stream's place for one inside)
        TPdfObject Object;                // the object, for a stream its dictionary
        std::size_t DataStart = 0;        // a stream's data
        std::size_t DataEnd = 0;
        bool Stream = false;
    };
    void Scan();
    void ReadObjectStreams();
    void ReadTrailer();
    const TEntry* Entry(const TPdfObject& object) const;
    // Parses the object at pos, after its "obj"; fills the entry and answers
    // where the scan goes on.
    std::size_t ReadObject(std::size_t pos, TEntry& entry) const;

    std::string_view m_file;
    std::unordered_map<std::uint32_t, TEntry> m_objects;
    // Stream objects by the identity of their resolved dictionary.
    std::unordered_map<const TPdfDict*, std::uint32_t> m_streamOfDict;
    TPdfObject m_trailer;
    bool m_encrypted = false;
    mutable std::unordered_map<std::uint32_t, std::shared_ptr<const TPdfFont>> m_fonts;
    mutable std::unordered_map<const TPdfDict*, std::shared_ptr<const TPdfFont>> m_directFonts;
};
