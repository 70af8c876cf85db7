// Packs standard input with the library's lh1 packer onto standard output:
// the fixture script wraps the stream in LHA headers.
#include "archive/zadlh1.h"

#include <cstdio>

int main()
{
    const TLzhSource in = [](std::uint8_t* buf, std::int32_t count) {
        return static_cast<std::int32_t>(std::fread(buf, 1, static_cast<size_t>(count), stdin));
    };
    const TLzhSink out = [](const std::uint8_t* buf, std::int32_t count) {
        return std::fwrite(buf, 1, static_cast<size_t>(count), stdout) == static_cast<size_t>(count);
    };
    return LzhPack(in, out) == TLzhResult::Ok ? 0 : 1;
}
