// One fuzz input as an office document: classified (compound-file header,
// directory, streams) and, when it opens as a compound file, every root
// stream's first bytes read. Shared by the libFuzzer target and the
// mutation test.
#pragma once

#include "ole/compoundfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

inline void OfficeFileFuzzOne(const std::uint8_t* data, std::size_t size)
{
    const TCompoundFile::TReadAt read = [data, size](std::uint64_t pos, void* buffer, std::size_t n) -> std::size_t {
        if (pos >= size)
            return 0;
        const std::size_t take = std::min<std::uint64_t>(n, size - pos);
        std::memcpy(buffer, data + pos, take);
        return take;
    };
    ClassifyOfficeFile(read, size);
    if (const auto file = TCompoundFile::Open(read, size))
        for (const std::string& name : file->RootNames())
            file->ReadRootStream(name, 8192);
}
