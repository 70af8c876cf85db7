// The RTF reader, then the writer on what it read.
#include "vcl/rtf.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bool lossy = false;
    const TRtfDocument doc = ReadRtf(std::string_view(reinterpret_cast<const char*>(data), size), &lossy);
    (void)WriteRtf(doc);
    return 0;
}
