// The gif_decode benchmark's graphic-class side as a whole process, like
// the peer tool: loads each GIF file named with the GIF graphic class and
// builds every frame's bitmap.
//
//   gif_load FILE...
//
// Exits 0 when every file loaded, 1 with the error otherwise.
#include "imaging/gif/gifimage.h"
#include "rtl/streams.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: gif_load FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        try {
            TFileStream stream(argv[i], fmOpenRead);
            TGIFImage image;
            image.LoadFromStream(stream);
            for (int f = 0; f < image.Images().Count(); ++f)
                if (!image.Images().Image(f)->GetBitmap())
                    throw Exception("no bitmap for a frame");
        } catch (const Exception& e) {
            std::fprintf(stderr, "gif_load: %s: %s\n", argv[i], e.what());
            return 1;
        }
    }
    return 0;
}
