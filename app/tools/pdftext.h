// The text of a PDF file without a PDF library: the pages of the document
// in the order of its page tree, each page's content streams read for the
// characters they draw, in the document's fonts and encodings, and written
// as UTF-8 lines. A file without a page tree that leads anywhere (a damaged
// one, or loose content) gives the text of every zlib stream block
// between "stream" and "endstream", in file order.
#pragma once

#include "pdfcontent.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

struct TPdfTextResult {
    // The document is encrypted: its streams were not read.
    bool Encrypted = false;
    // The bytes of text handed to the sink.
    std::uint64_t TextBytes = 0;
    // Some content was left out: a content stream decoded to more than
    // its limit (256 MiB), or gave more than its limit of text (16 MiB).
    bool Cut = false;
};

// Reads the bytes of a PDF file and hands its text to sink, in order. The
// sink may raise; the reading then ends with its exception.
TPdfTextResult ExtractPdfText(const std::uint8_t* data, std::size_t size,
    const std::function<void(std::string_view)>& sink, TPdfContentLimits limits = {});
