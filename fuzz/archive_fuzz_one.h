// One fuzz input through archive type detection and the lister over a memory
// stream. Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "archive/zadstreams.h"
#include "archive/zadvirov.h"

#include <cstddef>
#include <cstdint>

inline void ArchiveFuzzListOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 24))
        return;
    TMemoryStream32 stream;
    if (size > 0)
        stream.WriteBuffer(data, static_cast<std::int32_t>(size));
    stream.SetPosition(0);
    TVirOV lister;
    lister.FileSpec.Add("*.*");
    lister.ShowEmptyDirs = size > 0 && (data[0] & 1);
    std::uint64_t seen = 0;
    lister.OnRead = [&](TObject*, std::int64_t offset, int filenum) {
        // Touch what a handler reads so that bad values surface here.
        seen += lister.Filename.size() + static_cast<std::uint64_t>(offset) + static_cast<unsigned>(filenum) +
                lister.CompressMethodStr.size() + std::char_traits<char>::length(lister.FileComment);
        seen += lister.FileAttrToString(lister.ExternalAttr, '_').size();
    };
    lister.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    lister.Activate(&stream);
    (void)seen;
}
