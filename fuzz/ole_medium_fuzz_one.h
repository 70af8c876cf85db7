// One fuzz input as the block of a pasted or dropped medium: the first byte
// picks the format, the rest is the block, read through the hex editor's
// conversion (in place, as its own block) and as a dropped-files list.
// Shared by the libFuzzer target and the mutation test.
#pragma once

#include "hexedit/zazdataobj.h"
#include "hexedit/zazolepaste.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

inline void OleMediumFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > (1u << 20))
        return;
    const TZAZClipFormats& f = ZAZClipFormats();
    const CLIPFORMAT formats[] = {f.Own, f.RegEditHexData, f.RichText, CF_TEXT, CF_OEMTEXT, CF_UNICODETEXT,
                                  CF_DIB, CF_LOCALE, CF_TIFF, CF_METAFILEPICT};
    const CLIPFORMAT format = formats[data[0] % std::size(formats)];
    // A copy of exactly the block's bytes: any read past it is caught.
    std::string block(reinterpret_cast<const char*>(data + 1), size - 1);
    auto* bytes = reinterpret_cast<std::uint8_t*>(block.data());
    TZAZByteString out;
    // A metafile-picture record holds a handle, which fuzz input must not
    // invent: only records too short to hold one are read.
    if (format != CF_METAFILEPICT || block.size() < sizeof(METAFILEPICT))
        OLEMediumToBytes(bytes, nullptr, format, block.size(), (data[0] & 0x80) != 0, true, out);
    if (!out.Empty())
        out.HexToBytes((data[0] & 0x40) != 0);
    HGLOBAL drop = GlobalAlloc(GHND, block.size());
    if (!drop)
        return;
    std::memcpy(GlobalLock(drop), block.data(), block.size());
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFFu, nullptr, 0);
    char name[16];
    for (UINT i = 0; i < count && i < 64; ++i)
        DragQueryFileA(drop, i, name, sizeof name);
    GlobalFree(drop);
}
