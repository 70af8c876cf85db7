// libFuzzer target: arbitrary bytes through the GIF graphic class, every
// frame's bitmap built and the image drawn.
#include "fuzz/gif_load_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GifLoadFuzzOne(data, size);
    return 0;
}
