// libFuzzer target: arbitrary bytes through archive detection and listing.
#include "fuzz/archive_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ArchiveFuzzListOne(data, size);
    return 0;
}
