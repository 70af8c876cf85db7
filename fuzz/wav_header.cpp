// libFuzzer target: arbitrary bytes as a WAV file through the converter's
// reading, into an encoder that keeps nothing.
#include "fuzz/wav_header_fuzz_one.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    WavHeaderFuzzOne(data, size);
    return 0;
}
