// The decode benchmarks' own side as a whole process, like the peer tools
// they are timed against: loads one image file with a format id and exits.
//
//   vx_decode FILE FORMAT_ID
//
// Exits 0 when the file decoded, 1 with the decoder's message otherwise.
#include "imaging/vximage.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vx_decode FILE FORMAT_ID\n");
        return 2;
    }
    VxImage image;
    if (!image.Load(argv[1], static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10))) || !image.IsValid()) {
        std::fprintf(stderr, "vx_decode: %s: %s\n", argv[1], image.GetLastError());
        return 1;
    }
    return 0;
}
