// libFuzzer target: arbitrary bytes through ZIP extraction to memory.
#include "fuzz/archive_extract_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ArchiveExtractFuzzOne(data, size);
    return 0;
}
