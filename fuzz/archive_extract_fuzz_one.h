// One fuzz input through detection and ZIP extraction from a memory stream
// to a memory target, with the passwords of the encrypted seeds (Secret1 for
// the AES and traditional fixtures, first and second for twopw.zip and
// mixed.zip, secret for encrypted.zip) so that encrypted entries are decoded
// rather than refused at the password. Shared by the libFuzzer target and
// the corpus replay test.
#pragma once

#include "archive/zadstreams.h"
#include "archive/zadunzip.h"

#include <cstddef>
#include <cstdint>

inline void ArchiveExtractFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 16))
        return;
    TMemoryStream32 stream;
    if (size > 0)
        stream.WriteBuffer(data, static_cast<std::int64_t>(size));
    stream.SetPosition(0);
    TUnZip unzip;
    unzip.FileSpec.Add("*.*");
    unzip.Password = "Secret1";
    for (const char* password : {"first", "second", "secret"})
        unzip.Passwords.Add(password);
    unzip.OnError = [](TObject*, const std::string&, const std::string&, const std::string&, int) {};
    TDecompMemoryStream out;
    unzip.OutMemoryStream = &out;
    TStream32* in = &stream;
    unzip.ExtractStreamToMemory(in);
}
