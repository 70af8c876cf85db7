// The executable-header report over the input's bytes.
#include "app/pereport.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TStringList lines;
    GetPEImageInfo(data, size, "fuzz.exe", lines);
    return 0;
}
