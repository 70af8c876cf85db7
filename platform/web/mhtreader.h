// MHT files (MIME HTML): a web page saved as one MIME message that carries
// the page and its pictures and style sheets as parts.
//
//   MIME-Version: 1.0
//   Content-Type: multipart/related; boundary="B"; type="text/html"; start="<id>"
//                                            (header lines, folded lines begin with a blank)
//   <empty line>
//   preamble, ignored
//   --B                                      (a delimiter line opens each part)
//   Content-Type: text/html; charset="utf-8"
//   Content-Transfer-Encoding: quoted-printable   (or base64, 7bit, 8bit, binary)
//   Content-Location: http://example.com/page.htm
//   Content-ID: <id>
//   <empty line>
//   the part's body
//   --B--                                    (the closing delimiter)
//
// Parts may nest (a multipart/alternative inside the related one). Every
// reference the page makes is answered from the parts, by Content-Location
// (also when it is an http address: the bytes come from the file) or, for
// "cid:" references, by Content-ID.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TMhtPart {
    std::string ContentType; // lower-cased "type/subtype"; "text/plain" when not given
    std::string Charset;     // the charset parameter, lower-cased; "" when none
    std::string Location;    // Content-Location as written
    std::string ContentId;   // Content-ID without its angle brackets
    std::string Body;        // the decoded bytes
};

class TMhtArchive {
public:
    // Reads an MHT file held in memory. Bytes that hold no MIME header are
    // taken as one HTML part (a page saved under the wrong extension). False,
    // with the reason, when there is nothing to show.
    bool Read(std::string_view data, std::string* error = nullptr);

    const std::vector<TMhtPart>& Parts() const { return m_parts; }
    // The page: the part the message's "start" parameter names, else the
    // first HTML part, else the first part; nullptr without parts.
    const TMhtPart* Root() const;
    // The part a reference names, as written in a part whose own location
    // is baseLocation (relative references resolve against it); nullptr
    // when no part matches.
    const TMhtPart* Find(std::string_view reference, std::string_view baseLocation) const;

private:
    void ReadEntity(std::string_view headers, std::string_view body, int depth);

    std::vector<TMhtPart> m_parts;
    std::string m_startId;
};

// The two transfer encodings of MIME bodies. Characters outside the
// encoding (line ends, blanks) are skipped; an escape that is not one is kept.
std::string DecodeBase64(std::string_view text);
std::string DecodeQuotedPrintable(std::string_view text);
