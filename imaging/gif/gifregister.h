// What the GIF graphic class sets up when the program starts: the picture
// registry's class for ".gif" files and for the "GIF Image" clipboard
// format, and whether the screen is a palette device.
#pragma once

#include <cstdint>

// The "GIF Image" clipboard format, registered at start.
std::uint32_t GIFClipboardFormat();
// Reads the screen's depth: at most 8 bits per pixel makes PaletteDevice
// and DoAutoDither true.
void DetectPaletteDevice();
