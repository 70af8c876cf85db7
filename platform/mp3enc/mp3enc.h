// The MP3 encoder library's stream interface: a caller fills a settings
// record, opens a stream, hands it 16-bit samples one chunk at a time and
// appends what each call produces to its MP3 file. Every call answers 0 on
// success and one of the non-zero codes below on failure.
#pragma once

#include "win/wintypes.h"

// The settings record, packed without gaps: 27 bytes.
//
//   offset  size  field
//        0     4  ConfigKind   0: MP3 (the only kind there is)
//        4     4  SampleRate   Hz of the samples
//        8     1  Mode         0 stereo, 1 joint stereo, 2 dual channel, 3 mono
//        9     2  BitRate      kbit/s, constant
//       11     4  Private      the private bit of every frame header
//       15     4  Crc          a CRC after every frame header
//       19     4  Copyright    the copyright bit
//       23     4  Original     the original bit
#pragma pack(push, 1)
struct Mp3EncoderSettings {
    DWORD ConfigKind;
    DWORD SampleRate;
    BYTE Mode;
    WORD BitRate;
    BOOL Private;
    BOOL Crc;
    BOOL Copyright;
    BOOL Original;
};
#pragma pack(pop)
static_assert(sizeof(Mp3EncoderSettings) == 27);

constexpr DWORD kMp3ConfigMp3 = 0;
constexpr BYTE kMp3ModeStereo = 0;
constexpr BYTE kMp3ModeJointStereo = 1;
constexpr BYTE kMp3ModeDualChannel = 2;
constexpr BYTE kMp3ModeMono = 3;

// Results of the calls.
constexpr DWORD kMp3Ok = 0;
constexpr DWORD kMp3ErrConfig = 1;      // a settings record the encoder does not take
constexpr DWORD kMp3ErrNoMemory = 2;
constexpr DWORD kMp3ErrHandle = 3;      // no stream, or one already ended
constexpr DWORD kMp3ErrChunkSize = 4;   // more samples than a chunk holds
constexpr DWORD kMp3ErrEncode = 5;      // the encoder failed

struct TMp3EncoderStream;
using HMP3STREAM = TMp3EncoderStream*;

// Opens a stream. samplesPerChunk is the most 16-bit samples (all channels
// counted) one beEncodeChunk takes; outputBufferSize the bytes every output
// buffer handed to the stream must hold, which no call exceeds.
DWORD beInitStream(const Mp3EncoderSettings* settings, DWORD* samplesPerChunk, DWORD* outputBufferSize,
    HMP3STREAM* stream);
// Encodes samples 16-bit values (interleaved left and right in stereo; an odd
// last value is dropped) and answers in outputBytes how many MP3 bytes it
// placed in output.
DWORD beEncodeChunk(HMP3STREAM stream, DWORD samples, const short* pcm, BYTE* output, DWORD* outputBytes);
// Ends the stream: the samples still held are encoded and the last frames
// placed in output. Further chunks are refused.
DWORD beDeinitStream(HMP3STREAM stream, BYTE* output, DWORD* outputBytes);
// Releases the stream, ended or not.
DWORD beCloseStream(HMP3STREAM stream);
