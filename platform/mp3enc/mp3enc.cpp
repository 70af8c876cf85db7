#include "mp3enc.h"

#include <lame/lame.h>

#include <cstdarg>
#include <new>

namespace {

// LAME works in frames of 1152 samples per channel; a chunk is one frame.
constexpr DWORD kFrameSamples = 1152;
// LAME's own bound for the MP3 bytes of n samples per channel is
// 1.25 n + 7200, and ending a stream needs at least 7200.
constexpr DWORD kOutputBufferSize = kFrameSamples * 5 / 4 + 7200;
// LAME's quality 3: good psychoacoustics without the slow noise shaping of
// the lower numbers.
constexpr int kQuality = 3;

// LAME reports problems on stderr by default; the results of the calls say
// what went wrong instead.
void Silent(const char*, va_list) {}

} // namespace

struct TMp3EncoderStream {
    lame_global_flags* flags = nullptr;
    int channels = 2;
    bool ended = false;
};

DWORD beInitStream(const Mp3EncoderSettings* settings, DWORD* samplesPerChunk, DWORD* outputBufferSize,
    HMP3STREAM* stream)
{
    if (!settings || !samplesPerChunk || !outputBufferSize || !stream)
        return kMp3ErrConfig;
    *stream = nullptr;
    static constexpr MPEG_mode kModes[] = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
    if (settings->ConfigKind != kMp3ConfigMp3 || settings->Mode > kMp3ModeMono)
        return kMp3ErrConfig;

    auto* s = new (std::nothrow) TMp3EncoderStream;
    if (!s)
        return kMp3ErrNoMemory;
    s->flags = lame_init();
    if (!s->flags) {
        delete s;
        return kMp3ErrNoMemory;
    }
    s->channels = settings->Mode == kMp3ModeMono ? 1 : 2;
    lame_global_flags* f = s->flags;
    lame_set_errorf(f, Silent);
    lame_set_debugf(f, Silent);
    lame_set_msgf(f, Silent);
    lame_set_num_channels(f, s->channels);
    lame_set_in_samplerate(f, static_cast<int>(settings->SampleRate));
    lame_set_mode(f, kModes[settings->Mode]);
    lame_set_VBR(f, vbr_off);
    lame_set_brate(f, settings->BitRate);
    lame_set_extension(f, settings->Private ? 1 : 0);
    lame_set_error_protection(f, settings->Crc ? 1 : 0);
    lame_set_copyright(f, settings->Copyright ? 1 : 0);
    lame_set_original(f, settings->Original ? 1 : 0);
    // No Xing/Info frame: it would have to be written back at the start of
    // the file once the stream ends, and the caller only appends.
    lame_set_bWriteVbrTag(f, 0);
    lame_set_quality(f, kQuality);
    if (lame_init_params(f) < 0) {
        beCloseStream(s);
        return kMp3ErrConfig;
    }
    *samplesPerChunk = kFrameSamples * static_cast<DWORD>(s->channels);
    *outputBufferSize = kOutputBufferSize;
    *stream = s;
    return kMp3Ok;
}

DWORD beEncodeChunk(HMP3STREAM stream, DWORD samples, const short* pcm, BYTE* output, DWORD* outputBytes)
{
    if (!stream || stream->ended || !output || !outputBytes)
        return kMp3ErrHandle;
    *outputBytes = 0;
    if (samples > kFrameSamples * static_cast<DWORD>(stream->channels))
        return kMp3ErrChunkSize;
    const int perChannel = static_cast<int>(samples) / stream->channels;
    if (perChannel == 0)
        return kMp3Ok;
    if (!pcm)
        return kMp3ErrHandle;
    // LAME copies the samples into its own buffers; it takes the interleaved
    // ones through a pointer that is not const but never writes through it.
    const int n = stream->channels == 1
        ? lame_encode_buffer(stream->flags, pcm, pcm, perChannel, output, static_cast<int>(kOutputBufferSize))
        : lame_encode_buffer_interleaved(
              stream->flags, const_cast<short*>(pcm), perChannel, output, static_cast<int>(kOutputBufferSize));
    if (n < 0)
        return kMp3ErrEncode;
    *outputBytes = static_cast<DWORD>(n);
    return kMp3Ok;
}

DWORD beDeinitStream(HMP3STREAM stream, BYTE* output, DWORD* outputBytes)
{
    if (!stream || stream->ended || !output || !outputBytes)
        return kMp3ErrHandle;
    *outputBytes = 0;
    stream->ended = true;
    const int n = lame_encode_flush(stream->flags, output, static_cast<int>(kOutputBufferSize));
    if (n < 0)
        return kMp3ErrEncode;
    *outputBytes = static_cast<DWORD>(n);
    return kMp3Ok;
}

DWORD beCloseStream(HMP3STREAM stream)
{
    if (!stream)
        return kMp3ErrHandle;
    if (stream->flags)
        lame_close(stream->flags);
    delete stream;
    return kMp3Ok;
}
