// libFuzzer target: arbitrary streams through the shrink, reduce and
// explode decoders.
#include "fuzz/zip_legacy_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ZipLegacyDecodeOne(data, size);
    return 0;
}
