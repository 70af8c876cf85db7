// libFuzzer target: arbitrary bytes through the class library's picture
// loaders (BMP, ICO, JPEG, WMF and EMF), then drawn.
#include "fuzz/vcl_graphics_fuzz_one.h"

#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Metafile text draws only with a GUI application; the offscreen
    // platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VclGraphicsFuzzOne(data, size);
    return 0;
}
