// Streams on the clipboard under a registered format name, through the OLE
// clipboard bridge: the compressed clipboard record of the one-call deflate
// routines travels this way.
#pragma once

#include "archive/zadstreams.h"
#include "archive/zadzlib.h"

#include <cstdint>
#include <string>

// Puts the whole stream on the clipboard as the named format; false when
// the clipboard refused it.
bool CopyStreamToClipboard(TStream32* source, const std::string& formatName);
// Appends the clipboard's data of the named format to dest; false when the
// clipboard holds none.
bool CopyStreamFromClipboard(TStream32* dest, const std::string& formatName);

// Builds the compressed record of count bytes of source and puts it on the
// clipboard. packed gets the data's length. Result: the record's CRC
// register; 0xFFFFFFFF when count is 0 or nothing was produced; 0 when the
// clipboard refused the data.
std::uint32_t zadCompress_StreamToClipboard(TStream32* source, std::int64_t count, std::int64_t& packed,
                                            TDeflateType type);
// Decodes the clipboard's compressed record into dest (ReadCompressedRecord).
std::uint32_t zadDecompress_StreamFromClipboard(TStream32* dest);
