// The decoding of PDF streams through their filters, in bounded pieces: a
// stream never needs its whole decoded size in memory, and the receiver can
// stop the decoding at any piece.
#pragma once

#include "pdfobjects.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// Decoded bytes are handed on in pieces of at most this size.
constexpr std::size_t kPdfDecodePiece = 64 * 1024;

// Takes a piece of decoded bytes; answers false to stop the decoding.
using TPdfSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

enum class TPdfDecodeResult {
    Ok,          // the whole stream was decoded
    Damaged,     // the data broke off or is damaged: what came before was handed on
    Unsupported, // a filter that gives no text (pictures, fax, encryption) or is unknown
    Stopped,     // the sink asked to stop
};

// Decodes the bytes of a stream through its filters (the value of /Filter:
// a name, an array of names or nothing) with their parameters (/DecodeParms:
// a dictionary, an array of them or nothing). FlateDecode (with the PNG
// predictors), LZWDecode, ASCIIHexDecode, ASCII85Decode and RunLengthDecode
// are read, in their short names too.
TPdfDecodeResult DecodePdfStream(std::string_view data, const TPdfObject& filter, const TPdfObject& parms,
    const TPdfSink& sink);
