// One fuzz input through the JPEG section reader and the EXIF parser: the
// bytes as a JPEG file (sections read in both modes and written back, as the
// encoder does when it keeps an EXIF block), and as a bare EXIF block.
// Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "imaging/vxexif.h"
#include "imaging/vxfile.h"

#include <cstddef>
#include <cstdint>

inline void VxFuzzExifOne(const std::uint8_t* data, std::size_t size)
{
    if (size > 0x7FFFFFFF)
        return;
    auto* bytes = const_cast<std::uint8_t*>(data);  // the streams only read them
    {
        VxExifInfo reader;
        VxMemFile in(bytes, static_cast<std::int32_t>(size));
        if (size == 0)
            in.Open();
        if (reader.ReadSections(&in, VxExifInfo::kReadExif | VxExifInfo::kReadImage)) {
            VxMemFile out;
            out.Open();
            reader.WriteSections(&out);
        }
        // Keep the EXIF and comment sections, read the file again behind
        // them and write the whole.
        reader.KeepExifOnly();
        VxMemFile again(bytes, static_cast<std::int32_t>(size));
        if (size == 0)
            again.Open();
        if (reader.ReadSections(&again, VxExifInfo::kReadImage)) {
            VxMemFile out;
            out.Open();
            reader.WriteSections(&out);
        }
    }
    VxExifInfo block;
    block.ParseExifBlock(data, static_cast<std::uint32_t>(size));
}
