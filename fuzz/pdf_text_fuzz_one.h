// One fuzz input through the PDF text extractor: the block walk with its
// inflating over the bytes as a file, and the content writer over the same
// bytes as inflated content. Shared by the libFuzzer target and the corpus
// replay test.
#pragma once

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
    TContentTextWriter writer;
    std::string text;
    writer.Write(data, size, text);
}
