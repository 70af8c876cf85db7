// One fuzz input through the WAV converter's reading: the header and chunk
// walk, then the samples handed chunk by chunk to an encoder that keeps
// nothing. Shared by the libFuzzer target and the corpus replay test.
#pragma once

#include "app/tools/wavencode.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Takes chunks as the real encoder does and produces nothing; a chunk larger
// than announced is a fault of the converter.
class TNullMp3Encoder : public TMp3Encoder {
public:
    bool Open(const Mp3EncoderSettings&) override { return true; }
    std::uint32_t SamplesPerChunk() const override { return 2304; }
    std::uint32_t OutputBufferSize() const override { return 8640; }
    bool EncodeChunk(std::uint32_t samples, const short*, std::uint8_t*, std::uint32_t& produced) override
    {
        if (samples > SamplesPerChunk())
            std::abort();
        produced = 0;
        return true;
    }
    bool End(std::uint8_t*, std::uint32_t& produced) override
    {
        produced = 0;
        return true;
    }
};

class TNullMp3Output : public TMp3Output {
public:
    void Write(const std::uint8_t*, std::size_t) override {}
};

inline void WavHeaderFuzzOne(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 22))
        return;
    TMemoryWaveInput in(data, size);
    TWaveFormat format;
    if (ReadWaveHeader(in, format) != TWaveResult::Ok)
        return;
    TNullMp3Encoder encoder;
    if (!encoder.Open(EncoderSettingsFor(format)))
        return;
    TNullMp3Output out;
    EncodeWaveData(in, format, encoder, out);
}
