#include "wavencode.h"

#include "rtl/streams.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

// The samples are handed to the encoder as they lie in the file: WAV is
// little-endian, like the machines this runs on.
static_assert(std::endian::native == std::endian::little);

namespace {

// The start of a WAV file as the converter reads it in one go: the RIFF
// header and the first chunk's header with the first 16 bytes of its data.
//
//   offset  size  field
//        0    12  "RIFF", size, "WAVE"      not checked
//       12     4  chunk id                  must be "fmt "
//       16     4  chunk size                bytes beyond 16 are skipped
//       20     2  format tag                1: PCM
//       22     2  channels                  1: mono, else stereo
//       24     4  samples per second
//       28     4  bytes per second          not used
//       32     2  block align               not used
//       34     2  bits per sample           8 (unsigned), 16, 24 or 32
//
// The extensible format (tag 0xFFFE) follows with its extension, which
// names the real format in its sub-format:
//
//       36     2  extension size            22
//       38     2  valid bits per sample     not used
//       40     4  channel mask              not used
//       44    16  sub-format GUID           must be PCM's
//
// Then chunks of an 8-byte header (id, size) and their data, padded to an
// even size, up to the chunk "data".
constexpr std::size_t kHeadSize = 36;
constexpr std::size_t kFmtId = 12;
constexpr std::size_t kFmtSize = 16;
constexpr std::size_t kFormatTag = 20;
constexpr std::size_t kChannels = 22;
constexpr std::size_t kSampleRate = 24;
constexpr std::size_t kBitsPerSample = 34;
constexpr std::uint32_t kFmtFieldsSize = 16;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::uint32_t kExtensibleFieldsSize = 40;
constexpr std::size_t kExtensionSize = 24;
constexpr std::size_t kSubFormat = 8;
// KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00AA00389B71, as it
// lies in the file.
constexpr std::uint8_t kPcmSubFormat[16] = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint16_t kMaxBitsPerSample = 32;
constexpr WORD kBitRate = 192;
constexpr std::uint32_t kRates[] = {32000, 44100, 48000};

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads count bytes; Ok, NotWave when the input ends first, ReadFailed.
TWaveResult ReadExactly(TWaveInput& in, std::uint8_t* buffer, std::size_t count)
{
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t n = in.Read(buffer + done, static_cast<std::int64_t>(count - done));
        if (n < 0)
            return TWaveResult::ReadFailed;
        if (n == 0)
            return TWaveResult::NotWave;
        done += static_cast<std::size_t>(n);
    }
    return TWaveResult::Ok;
}

struct TResultMessage {
    TWaveResult result;
    const char* text;
};
constexpr TResultMessage kMessages[] = {
    {TWaveResult::NotWave, "This is not a valid Wave file"},
    {TWaveResult::Compressed, "Cannot handle compressed Wave file"},
    {TWaveResult::UnsupportedRate, "Unsuported sample rate"},
    {TWaveResult::UnsupportedSize, "Cannot handle samples of this size"},
    {TWaveResult::ReadFailed, "Cannot read the Wave file"},
    {TWaveResult::EncodeFailed, "Cannot perform compression"},
};

} // namespace

std::int64_t TMemoryWaveInput::Read(void* buffer, std::int64_t count)
{
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), m_size - m_pos);
    if (n > 0)
        std::memcpy(buffer, m_data + m_pos, n);
    m_pos += n;
    return static_cast<std::int64_t>(n);
}

bool TMemoryWaveInput::Skip(std::uint64_t count)
{
    m_pos += static_cast<std::size_t>(std::min<std::uint64_t>(count, m_size - m_pos));
    return true;
}

TFileWaveInput::~TFileWaveInput()
{
    if (m_handle >= 0)
        FileClose(m_handle);
}

bool TFileWaveInput::Open(const std::string& fileName)
{
    m_handle = FileOpen(fileName, fmOpenRead | fmShareDenyWrite);
    return m_handle >= 0;
}

std::int64_t TFileWaveInput::Read(void* buffer, std::int64_t count) { return FileRead(m_handle, buffer, count); }

bool TFileWaveInput::Skip(std::uint64_t count)
{
    // A chunk size is at most 2^32 bytes and a pad byte, so the move always
    // fits a signed 64-bit offset.
    return FileSeek(m_handle, static_cast<std::int64_t>(count), soCurrent) >= 0;
}

std::string WaveResultMessage(TWaveResult result)
{
    for (const TResultMessage& m : kMessages)
        if (m.result == result)
            return m.text;
    return {};
}

TWaveResult ReadWaveHeader(TWaveInput& in, TWaveFormat& format)
{
    std::uint8_t head[kHeadSize];
    if (const TWaveResult r = ReadExactly(in, head, sizeof head); r != TWaveResult::Ok)
        return r;
    if (std::memcmp(head + kFmtId, "fmt ", 4) != 0)
        return TWaveResult::NotWave;
    format.FormatTag = U16(head + kFormatTag);
    format.Channels = U16(head + kChannels);
    format.SampleRate = U32(head + kSampleRate);
    format.BitsPerSample = U16(head + kBitsPerSample);
    const std::uint32_t fmtSize = U32(head + kFmtSize);
    std::uint32_t fmtRead = kFmtFieldsSize;
    if (format.FormatTag == kFormatExtensible) {
        // Recorders write 16-bit PCM this way too; only the sub-format says
        // whether the samples are PCM.
        if (fmtSize < kExtensibleFieldsSize)
            return TWaveResult::NotWave;
        std::uint8_t extension[kExtensionSize];
        if (const TWaveResult r = ReadExactly(in, extension, sizeof extension); r != TWaveResult::Ok)
            return r;
        if (std::memcmp(extension + kSubFormat, kPcmSubFormat, sizeof kPcmSubFormat) != 0)
            return TWaveResult::Compressed;
        fmtRead = kExtensibleFieldsSize;
    } else if (format.FormatTag != kFormatPcm) {
        return TWaveResult::Compressed;
    }
    if (std::find(std::begin(kRates), std::end(kRates), format.SampleRate) == std::end(kRates))
        return TWaveResult::UnsupportedRate;
    if (format.BitsPerSample == 0 || format.BitsPerSample > kMaxBitsPerSample)
        return TWaveResult::UnsupportedSize;

    if (fmtSize > fmtRead && !in.Skip(fmtSize - fmtRead))
        return TWaveResult::ReadFailed;
    for (;;) {
        std::uint8_t chunk[kChunkHeaderSize];
        // A file that ends before its "data" chunk holds no samples.
        if (const TWaveResult r = ReadExactly(in, chunk, sizeof chunk); r != TWaveResult::Ok)
            return r;
        const std::uint64_t size = U32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            format.DataSize = size;
            return TWaveResult::Ok;
        }
        // Chunks are padded to an even size; the sum is taken in 64 bits, so
        // a size of 0xFFFFFFFF does not wrap to 0 and walk in place.
        if (!in.Skip(size + (size & 1)))
            return TWaveResult::ReadFailed;
    }
}

Mp3EncoderSettings EncoderSettingsFor(const TWaveFormat& format)
{
    Mp3EncoderSettings s {};
    s.ConfigKind = kMp3ConfigMp3;
    s.SampleRate = format.SampleRate;
    s.Mode = format.Channels == 1 ? kMp3ModeMono : kMp3ModeStereo;
    s.BitRate = kBitRate;
    return s;
}

TMp3StreamEncoder::~TMp3StreamEncoder()
{
    if (m_stream)
        beCloseStream(m_stream);
}

bool TMp3StreamEncoder::Open(const Mp3EncoderSettings& settings)
{
    return beInitStream(&settings, &m_samplesPerChunk, &m_outputBufferSize, &m_stream) == kMp3Ok;
}

bool TMp3StreamEncoder::EncodeChunk(std::uint32_t samples, const short* pcm, std::uint8_t* output, std::uint32_t& produced)
{
    DWORD n = 0;
    const bool ok = beEncodeChunk(m_stream, samples, pcm, output, &n) == kMp3Ok;
    produced = n;
    return ok;
}

bool TMp3StreamEncoder::End(std::uint8_t* output, std::uint32_t& produced)
{
    DWORD n = 0;
    const bool ok = beDeinitStream(m_stream, output, &n) == kMp3Ok;
    produced = n;
    return ok;
}

std::size_t WidenSamples(const std::uint8_t* bytes, std::size_t count, unsigned sampleBytes, short* pcm)
{
    const std::size_t samples = count / sampleBytes;
    switch (sampleBytes) {
    case 1:
        for (std::size_t i = 0; i < samples; ++i)
            pcm[i] = static_cast<short>((bytes[i] - 128) * 256);
        break;
    case 2:
        std::memcpy(pcm, bytes, samples * 2);
        break;
    default:
        // The two most significant bytes of a little-endian sample.
        for (std::size_t i = 0; i < samples; ++i) {
            const std::uint8_t* s = bytes + i * sampleBytes + sampleBytes - 2;
            pcm[i] = static_cast<short>(static_cast<std::uint16_t>(s[0] | s[1] << 8));
        }
        break;
    }
    return samples;
}

TWaveResult EncodeWaveData(TWaveInput& in, const TWaveFormat& format, TMp3Encoder& encoder, TMp3Output& out,
    const TWaveProgress& progress)
{
    const std::uint64_t dataSize = format.DataSize;
    const unsigned sampleBytes = format.SampleBytes();
    const std::uint32_t chunkSamples = encoder.SamplesPerChunk();
    std::vector<short> samples(chunkSamples);
    std::vector<std::uint8_t> bytes(std::size_t {chunkSamples} * sampleBytes);
    std::vector<std::uint8_t> mp3(encoder.OutputBufferSize());
    std::uint64_t consumed = 0;
    while (consumed < dataSize) {
        const std::uint64_t want = std::min<std::uint64_t>(bytes.size(), dataSize - consumed);
        std::size_t got = 0;
        while (got < want) {
            const std::int64_t n = in.Read(bytes.data() + got, static_cast<std::int64_t>(want - got));
            if (n < 0)
                return TWaveResult::ReadFailed;
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        const std::size_t count = WidenSamples(bytes.data(), got, sampleBytes, samples.data());
        std::uint32_t produced = 0;
        if (!encoder.EncodeChunk(static_cast<std::uint32_t>(count), samples.data(), mp3.data(), produced)
            || produced > mp3.size())
            return TWaveResult::EncodeFailed;
        out.Write(mp3.data(), produced);
        consumed += got;
        if (progress && !progress(consumed))
            return TWaveResult::Cancelled;
        // A data chunk that claims more than the file holds ends with the
        // file: what was there is converted.
        if (got < want)
            break;
    }
    std::uint32_t produced = 0;
    if (!encoder.End(mp3.data(), produced) || produced > mp3.size())
        return TWaveResult::EncodeFailed;
    out.Write(mp3.data(), produced);
    return TWaveResult::Ok;
}
