// libFuzzer target: arbitrary streams through the LZH decoders (static
// Huffman blocks, lh1 and ARJ method 4).
#include "fuzz/lzh_decode_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LzhDecodeOne(data, size);
    return 0;
}
