// Uuencoded, xxencoded and Base64 text archives have no binary headers: a
// marker line starts each encoded file, and the encoded lines themselves
// say how many bytes they carry. Type detection and the lister both read
// them here, so that the type, the entry and its size always agree.
//
//   begin 644 name                      uuencoded or xxencoded lines, then
//   M<60 characters: 45 bytes>          a line of no bytes and "end"; the
//   `                                   first character of a line gives
//   end                                 the bytes it carries
//
//   begin-base64 644 name               Base64 lines, then "===="
//
//   Content-Transfer-Encoding: Base64   a MIME part: its other header lines,
//   Content-Disposition: attachment; filename="name"   (or inline)
//                                       an empty line, then Base64 lines up
//                                       to an empty line or a "--" boundary
//
// Marker texts are compared without regard to case at the start of a line.
#pragma once

#include "archive/zadconsts.h"
#include "archive/zadstreams.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TTextEncoding { None, UU, Base64Begin, Base64Mime };

struct TTextMarker {
    TTextEncoding kind = TTextEncoding::None;
    std::string name;             // the encoded file's name; may be empty
    std::int64_t dataStart = 0;   // where the lines after the marker begin
};

// The first marker line in the first bytes of a file. With needName, a
// Base64 MIME marker counts only when the next line names the attached file
// (the lister's scan); without, every marker line counts (detection).
TTextMarker FindTextMarker(const char* buf, std::int32_t n, bool needName);

// atUUE for uuencoded and xxencoded text, atB64 for Base64, atNA for none.
TArcType TextArcType(TTextEncoding kind);

// The number of bytes the encoded lines from dataStart decode to, or -1 when
// the lines do not give it (a line foreign to the encoding, an overlong
// line, or no end line where the encoding has one).
std::int64_t DecodedTextSize(TStream32& stream, std::int64_t dataStart, TTextEncoding kind);

// One encoded file of a text: its marker, where the marker's line starts
// and what its lines decode to (-1 when they do not say).
struct TTextEntry {
    TTextMarker marker;
    std::int64_t markerStart = 0;
    std::int64_t decodedSize = -1;
};
// Every encoded file of a text, found line by line through the whole text
// as the extractor finds them: marker lines that name a file (a MIME part's
// encoding line with the disposition line after it).
std::vector<TTextEntry> FindTextEntries(TStream32& stream);

// The 6-bit value of a uuencoded or xxencoded character; -1 for none.
int UUValue(char c);
int XXValue(char c);
bool IsBase64Char(char c);

// Longer lines belong to no encoding this library reads.
inline constexpr std::size_t kMaxTextLine = 4096;

// Reads the lines of a stream from a position, without their line ends.
class TTextLineReader {
public:
    TTextLineReader(TStream32& stream, std::int64_t from);
    // The next line; false at the end of the stream or for a line longer
    // than kMaxTextLine (Overlong() tells which).
    bool Next(std::string& line);
    bool Overlong() const { return m_overlong; }
    // Where the next line starts.
    std::int64_t Position() const { return m_pos - (m_len - m_at); }
    // Pass over lines longer than kMaxTextLine instead of stopping at them
    // (a search for marker lines in prose).
    bool SkipLongLines = false;

private:
    bool Fill();
    TStream32& m_stream;
    std::int64_t m_pos;
    std::vector<char> m_buffer;
    std::int32_t m_at = 0;
    std::int32_t m_len = 0;
    bool m_overlong = false;
};
