// libFuzzer target: arbitrary bytes through the compressed clipboard
// record's reader and the buffer and stream inflaters.
#include "fuzz/deflate_record_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DeflateRecordFuzzOne(data, size);
    return 0;
}
