// One-call deflate and inflate of whole buffers, strings, streams and files
// (raw deflate: window bits -15, memory level 8, default strategy), and the
// compressed clipboard record "VirOV_CompressedData".
//
// Results are 32-bit values, mostly CRC-32 registers: the CRC started at
// 0xFFFFFFFF without the final complement (the standard CRC-32 is its
// complement). Failures are reported through the result; only the buffer
// routines, zadCompressStreamProc and zadDecompress_String_Method2 raise.
#pragma once

#include "archive/zadstreams.h"
#include "archive/zadzlib.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The CRC register after count more bytes (zlib's table-sliced CRC).
std::uint32_t CrcRegisterAdd(std::uint32_t reg, const void* data, std::size_t count);

// Deflates a buffer into out (sized to what deflate produced). Raises
// EOutOfMemory when no output buffer can be had. Result: the CRC register of
// the input.
std::uint32_t zadCompress_BufToBuf(const void* in, std::int64_t inSize, std::vector<std::uint8_t>& out,
                                   TDeflateType type);
// Deflates count bytes of source into dest. Result: the CRC register of the
// bytes read; 0xFFFFFFFF when count is 0 (or nothing could be read).
std::uint32_t zadCompress_StreamToStream(TStream32* source, TStream32* dest, std::int64_t count, TDeflateType type);
// The file's first count bytes (0: all) at normal strength; 0 when dest is
// null or the file cannot be opened.
std::uint32_t zadCompress_FileToStream(const std::string& fileName, TStream32* dest, std::int64_t count);
// Replace s by its deflated bytes; size becomes their count.
std::uint32_t zadCompress_String_Method1(std::string& s, std::int64_t& size, TDeflateType type);
// The same through the stream classes; result: the standard CRC-32.
std::uint32_t zadCompress_String_Method2(std::string& s, std::int64_t& size, TDeflateType type);
// Deflates the whole source into dest through a TCompressStream and sets
// dest's position to 0. Unless the flags word's high byte is set, crc gets
// the standard CRC-32 of the source. Result: false when cancelled through
// plus.CancelRef.
bool zadCompressStreamProc(TStream32* source, TStream32* dest, zad_stream_plus& plus, std::uint32_t& crc,
                           TDeflateType type, const TNotifyEvent& progress, std::int8_t windowBits);

// Inflates a raw deflate buffer into out. The output starts at firstSize
// (0: the input size rounded up to 256) and grows while inflate wants room,
// but never past memoryLimit (0: the machine's physical memory): beyond it,
// or when no larger block can be had, EOutOfMemory is raised and out is
// emptied. Damaged data ends the decoding; out holds what was decoded.
// Result: the CRC register of out.
std::uint32_t zadDecompress_BufToBuf(const void* in, std::int64_t inSize, std::vector<std::uint8_t>& out,
                                     std::int64_t firstSize = 0, std::uint64_t memoryLimit = 0);
// Inflates the source from its position into dest. Ends at the end of the
// deflate data, on damaged data, at the end of the source, or when the
// source raises several times in a row without progress; a write error
// raises EWriteError. Result: the CRC register of what was written (also
// left in Crc32Val).
std::uint32_t zadDecompress_StreamToStream(TStream32* source, TStream32* dest, std::int64_t count = 0);
// Decodes the source into a new file; does nothing (0) when the file exists.
std::uint32_t zadDecompress_StreamToFile(TStream32* source, const std::string& fileName);
std::string zadDecompress_String_Method1(const std::string& s);
// The first size bytes of s inflated in one read: at most 32,768 bytes.
std::string zadDecompress_String_Method2(const std::string& s, std::int64_t size);

// ---- the clipboard record
// Little-endian: signature 50 4D 03 04, the method byte (the TDeflateType
// ordinal; 0 is dtDeflateS, whose data is stored), the source size (low 32
// bits), the CRC register of the source, the data (raw deflate or stored),
// one zero byte.
constexpr std::uint32_t kCompressedRecordSignature = 0x04034D50;
constexpr std::size_t kCompressedRecordHeader = 13;
extern const char* const kCompressedDataFormat;  // "VirOV_CompressedData"

// Builds a record of count bytes of source. packed gets the data's length.
// Result: the CRC register of the source; 0xFFFFFFFF (record empty) when
// count is 0 or the source gave fewer bytes.
std::uint32_t BuildCompressedRecord(TStream32* source, std::int64_t count, TDeflateType type,
                                    std::vector<std::uint8_t>& record, std::int64_t& packed);
// Decodes a record into dest (position then 0). Decodes no more than the
// size the record states; dest is written only when the data is complete
// and its CRC register equals the record's. Result: that register, or
// 0xFFFFFFFF for a foreign, short or damaged record.
std::uint32_t ReadCompressedRecord(const std::uint8_t* data, std::size_t size, TStream32* dest);
