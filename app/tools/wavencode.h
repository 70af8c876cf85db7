// Reading a WAV file up to its samples and handing the samples to the MP3
// encoder one chunk at a time: the work of the WAV to MP3 window, apart from
// the window so that it runs on any input, encoder and output.
#pragma once

#include "mp3enc/mp3enc.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The bytes of a WAV file in order.
class TWaveInput {
public:
    virtual ~TWaveInput() = default;
    // Reads up to count bytes and answers how many; fewer at the end of the
    // input, -1 when reading failed.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    // Moves count bytes on; moving past the end is no failure (reading
    // answers 0 there). False when the input cannot move.
    virtual bool Skip(std::uint64_t count) = 0;
};

// A WAV file in memory.
class TMemoryWaveInput : public TWaveInput {
public:
    TMemoryWaveInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::int64_t Read(void* buffer, std::int64_t count) override;
    bool Skip(std::uint64_t count) override;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A WAV file on disk, opened for reading (regular files only).
class TFileWaveInput : public TWaveInput {
public:
    TFileWaveInput() = default;
    ~TFileWaveInput() override;
    TFileWaveInput(const TFileWaveInput&) = delete;
    TFileWaveInput& operator=(const TFileWaveInput&) = delete;
    // False, with the last error set, when the file cannot be opened.
    bool Open(const std::string& fileName);
    std::int64_t Read(void* buffer, std::int64_t count) override;
    bool Skip(std::uint64_t count) override;

private:
    int m_handle = -1;
};

// What the converter takes from the fmt and data chunks.
struct TWaveFormat {
    // 1 (PCM), or 0xFFFE (extensible) when its sub-format is PCM.
    std::uint16_t FormatTag = 0;
    std::uint16_t Channels = 0;
    std::uint32_t SampleRate = 0;
    std::uint16_t BitsPerSample = 0;
    // The sample bytes the data chunk claims; the file may hold fewer.
    std::uint64_t DataSize = 0;
    // The bytes of one sample of one channel: 1 (unsigned 8-bit samples), 2,
    // 3 or 4 (signed, little-endian).
    unsigned SampleBytes() const { return (BitsPerSample + 7u) / 8u; }
};

enum class TWaveResult {
    Ok,
    NotWave,          // no "fmt " chunk first, or no "data" chunk before the end
    Compressed,       // a format tag other than PCM, or extensible with another sub-format
    UnsupportedRate,  // a rate other than 32000, 44100 or 48000 Hz
    UnsupportedSize,  // samples of no bits, or of more than 32
    ReadFailed,
    EncodeFailed,
    Cancelled,        // the caller asked to stop
};

// The message of a failed conversion, captioned "Wav2Mp3 ERROR".
std::string WaveResultMessage(TWaveResult result);

// Reads the RIFF header, checks the fmt chunk and walks the chunks up to
// "data"; on success the input stands at the first sample byte.
TWaveResult ReadWaveHeader(TWaveInput& in, TWaveFormat& format);

// The settings record for a WAV file: MP3 at 192 kbit/s, mono for one
// channel and stereo otherwise, no flags set.
Mp3EncoderSettings EncoderSettingsFor(const TWaveFormat& format);

// The MP3 encoder as the converter drives it.
class TMp3Encoder {
public:
    virtual ~TMp3Encoder() = default;
    // Opens a stream; false when the encoder refuses the settings.
    virtual bool Open(const Mp3EncoderSettings& settings) = 0;
    // The most 16-bit samples one chunk holds, and the bytes an output
    // buffer must hold; valid once open.
    virtual std::uint32_t SamplesPerChunk() const = 0;
    virtual std::uint32_t OutputBufferSize() const = 0;
    virtual bool EncodeChunk(std::uint32_t samples, const short* pcm, std::uint8_t* output, std::uint32_t& produced) = 0;
    // Ends the stream with its last bytes.
    virtual bool End(std::uint8_t* output, std::uint32_t& produced) = 0;
};

// The encoder library's stream functions; the stream is released when the
// encoder goes.
class TMp3StreamEncoder : public TMp3Encoder {
public:
    TMp3StreamEncoder() = default;
    ~TMp3StreamEncoder() override;
    TMp3StreamEncoder(const TMp3StreamEncoder&) = delete;
    TMp3StreamEncoder& operator=(const TMp3StreamEncoder&) = delete;

    bool Open(const Mp3EncoderSettings& settings) override;
    std::uint32_t SamplesPerChunk() const override { return m_samplesPerChunk; }
    std::uint32_t OutputBufferSize() const override { return m_outputBufferSize; }
    bool EncodeChunk(std::uint32_t samples, const short* pcm, std::uint8_t* output, std::uint32_t& produced) override;
    bool End(std::uint8_t* output, std::uint32_t& produced) override;

private:
    HMP3STREAM m_stream = nullptr;
    DWORD m_samplesPerChunk = 0;
    DWORD m_outputBufferSize = 0;
};

// Where the MP3 bytes go. Write raises when they cannot be written.
class TMp3Output {
public:
    virtual ~TMp3Output() = default;
    virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
};

// Turns samples of the file's size into the 16-bit samples the encoder
// takes: 8-bit samples are unsigned and widen ((s - 128) << 8), wider ones
// keep their upper 16 bits. Answers the samples written to pcm (a last
// incomplete sample is dropped).
std::size_t WidenSamples(const std::uint8_t* bytes, std::size_t count, unsigned sampleBytes, short* pcm);

// Told after each chunk how many sample bytes have been encoded; answers
// false to stop the conversion.
using TWaveProgress = std::function<bool(std::uint64_t encoded)>;

// Encodes the samples after ReadWaveHeader with an open encoder: block by
// block of one chunk, at most the data chunk's size, stopping at the end of
// the input when the data chunk claims more than the file holds; then the
// end of the stream. Answers Ok, ReadFailed, EncodeFailed, or Cancelled
// when progress asked to stop (the stream is not ended then).
TWaveResult EncodeWaveData(TWaveInput& in, const TWaveFormat& format, TMp3Encoder& encoder, TMp3Output& out,
    const TWaveProgress& progress = {});
