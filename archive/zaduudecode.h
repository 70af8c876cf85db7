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
#pragma once

#include "archive/zadtextmark.h"
#include "archive/zadunbase.h"
#include "archive/zadvolume.h"

#include <memory>
#include <string>

enum TDecodeMethod { uudecode, xxdecode, B64Decode };

class TUUDecode : public TUnBase {
public:
    explicit TUUDecode(TComponent* owner = nullptr);
    ~TUUDecode() override;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The method of the last file decoded (the component's Algorithm).
    TDecodeMethod Algorithm = uudecode;
    TNextVolumeName NextVolumeName = nvChangeExt;
    bool VolumeLongFilenames = false;

private:
    struct TInput;
    // Decodes the file whose start line was read; false when the run must
    // end. line holds, afterwards, a line read past the data that may start
    // the next file (empty when none).
    bool DecodeFile(const TTextMarker& marker, TStream32* outStream, std::string& line, bool& pending);
    std::unique_ptr<TInput> m_in;
};
