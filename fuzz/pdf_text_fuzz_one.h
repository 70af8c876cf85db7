// One fuzz input through the PDF text extractor: the document walk with its
// object scan, fonts and decoding over the bytes as a file, and the content
// interpreter over the same bytes as content. Shared by the libFuzzer
// target and the corpus replay test.
#pragma once

#include "app/tools/pdfcontent.h"
#include "app/tools/pdftext.h"

#include <cstddef>
#include <cstdint>
#include <string>

inline void PdfTextFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 22))
        return;
    std::size_t written = 0;
    ExtractPdfText(data, size, [&](std::string_view text) { written += text.size(); });
    TPdfTextLayout layout([&](std::string_view text) {
        written += text.size();
        return true;
    });
    TPdfContentReader reader(nullptr, layout, TPdfObject {});
    reader.Feed(data, size, true);
    layout.EndBlock();
}
