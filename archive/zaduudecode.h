// The extractor of text archives, TUUDecode: every uuencoded, xxencoded,
// "begin-base64" and MIME Base64 file in a text, one after the other (a
// loop, so a text of many attachments needs no deeper stack). The start
// lines are those the lister and detection accept (zadtextmark.h).
//
// A file's data ends at its end line: "end" for uuencoding and
// xxencoding, "====" for begin-base64, and for a MIME part a line that is
// no Base64 (a "--" boundary, an empty line). Whether the counted lines
// are uuencoded or xxencoded is told by the first data line. A text that
// ends first continues in the next part of a split set (name.uue,
// name.uu1, ...) when OnNextVolume grants it or the part exists; a file
// whose end is not reached fails (25178 "EOL not found") and leaves
// nothing. There is no checksum: a file passes when its end was reached.
//
// Lines before a start line may give the alphabet ("table" and two lines
// of 32 characters, or "charmap" and 64 characters) or the size ("size"
// and a number; another word there ends the run with 25114). With the
// mode 999 the text parts carry the parts of a split ZIP archive, each
// written to a file of its own named by its part's start line.
#pragma once

#include "archive/zadtextmark.h"
#include "archive/zadunbase.h"
#include "archive/zadvolume.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

enum TDecodeMethod { uudecode, xxdecode, B64Decode };

class TUUDecode : public TUnBase {
public:
    explicit TUUDecode(TComponent* owner = nullptr);
    ~TUUDecode() override;

    bool SupportsType(TArcType type) const override;

    // Decodes the first encoded data of a stream of bare encoded lines (no
    // start line) into outStream, which is then at its start. The data
    // begins at the first full line of the method within the first 148;
    // uuencoded and xxencoded data ends at its "end" line, Base64 at a
    // line that is no Base64. False when no data was found, the first line
    // is no uuencoded or xxencoded line (25326), or the end line is missing.
    bool DecodeStreamToStream(TStream32& inStream, TStream32& outStream, TDecodeMethod method);
    // Decodes count characters of Base64 text without line breaks into
    // outStream, four characters at a time (a rest under four is ignored):
    // "=" third gives one byte, "=" fourth two, "=" first none; a foreign
    // character keeps the value its position had in the group before.
    // The result is the number of bytes written.
    static std::int32_t DecodeBase64(const char* source, std::int32_t count, TStream32& outStream);
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The method of the last file decoded (the component's Algorithm).
    TDecodeMethod Algorithm = uudecode;
    // How many lines are searched for the start of the next file; 0 (the
    // default) searches the whole text, as the lister does, so a file after
    // a long letter is found by both.
    int MaxHeaderLines = 0;
    TNextVolumeName NextVolumeName = nvChangeExt;
    bool VolumeLongFilenames = false;

private:
    struct TInput;
    // Takes a line before a start line that sets the alphabet ("table",
    // "charmap") or states the size ("size"); a malformed one is reported
    // (25114) and sets m_badHeader, which ends the run.
    bool ReadHeaderLine(const std::string& line);
    // Decodes the file whose start line was read; false when the run must
    // end. line holds, afterwards, a line read past the data that may start
    // the next file (empty when none).
    bool DecodeFile(const TTextMarker& marker, TStream32* outStream, std::string& line, bool& pending);
    std::unique_ptr<TInput> m_in;
    std::unique_ptr<std::array<std::int8_t, 256>> m_custom;  // the alphabet the header gave
    bool m_badHeader = false;
};
