// libFuzzer target: arbitrary bytes through the MHT reader.
#include "fuzz/mht_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MhtFuzzReadOne(data, size);
    return 0;
}
