// LHA method lh1: LZ77 over a 4 KB ring dictionary primed with spaces,
// matches of 3 to 60 bytes, literals and match lengths coded with an
// adaptive Huffman tree of 314 symbols that is re-balanced after every
// symbol (and rebuilt with halved counts when the root's count reaches
// 0x8000), and match positions whose upper 6 bits take a fixed prefix code
// of 3 to 8 bits followed by the low 6 bits as they are.
//
// Lh1Decode reads only the entry's packed bytes and fails as Truncated when
// they run out before the declared size is produced. LzhPack is the
// matching compressor (the library's own archives never use it; tests and
// fixtures do).
#pragma once

#include "archive/zadlzh.h"

// Decodes one lh1 entry of unpackedSize bytes.
TLzhResult Lh1Decode(std::int64_t unpackedSize, const TLzhSource& source, const TLzhSink& sink);

// Compresses everything the source gives into the sink. Stopped when the
// sink refused some output.
TLzhResult LzhPack(const TLzhSource& source, const TLzhSink& sink);
