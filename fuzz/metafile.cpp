// libFuzzer target: arbitrary bytes through the metafile player.
#include "fuzz/metafile_fuzz_one.h"

#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Text records draw only with a GUI application; the offscreen
    // platform needs no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    MfFuzzPlayOne(data, size);
    return 0;
}
