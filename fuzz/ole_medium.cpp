// libFuzzer target: arbitrary bytes as the block of a pasted or dropped
// medium, through the hex editor's conversion and the dropped-files reader.
#include "fuzz/ole_medium_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    OleMediumFuzzOne(data, size);
    return 0;
}
