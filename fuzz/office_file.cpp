// libFuzzer target: arbitrary bytes as a word-processor, spreadsheet or
// presentation document, through the compound-file reader and the check
// for damage and passwords.
#include "fuzz/office_file_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    OfficeFileFuzzOne(data, size);
    return 0;
}
