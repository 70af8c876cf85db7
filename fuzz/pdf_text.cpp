// libFuzzer target: arbitrary bytes through the PDF text extractor.
#include "fuzz/pdf_text_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PdfTextFuzzOne(data, size);
    return 0;
}
