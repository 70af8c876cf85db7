// libFuzzer target: arbitrary bytes through the image format dispatch.
#include "fuzz/imaging_fuzz_one.h"

#include "gdi/mfplayer.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    InstallMetafilePlayer();  // metafiles decode by playing them
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VxFuzzDecodeOne(data, size);
    return 0;
}
