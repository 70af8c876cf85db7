// The ARJ extractor TUnARJ (plain archives and self-extractors). Per volume
// a first pass walks the header chain and collects the selected entries
// (reporting versions above 3 and unknown methods, and leaving those out);
// a second pass extracts them: method 0 stored, 1 to 3 through the static
// Huffman LZH decoder, 4 through its "fastest" decoder.
//
// Garbled entries (arj -g) XOR their packed bytes with the password, each
// character plus the header's password modifier, repeated from the start
// of every entry; the password comes from Password or OnGetPassword and a
// wrong one shows as a failed CRC, after which the user is asked again up
// to PasswordAttempts times (at most 10).
//
// A set of volumes (arc.arj, arc.a01, ...) is followed through
// OnNextVolume while the last entry of a volume continues in the next; a
// continued part is appended only to the file this run wrote for the part
// before it, never to a file that was already there.
#pragma once

#include "archive/zadarj.h"
#include "archive/zadlzh.h"
#include "archive/zadunbase.h"

#include <string>
#include <vector>

class TUnARJ : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    struct TEntry {
        TArjHeader Header;
        std::string StoredName;
    };

private:
    // Collects the selected entries of the volume from start; lastContinues
    // tells whether the volume's last entry goes on in the next volume.
    int BuildHeadArray(TStream32* in, std::int64_t start, bool& lastContinues);
    void ProcessHeaders(TStream32* in, TStream32* out);
    // Extracts one entry (or appends a continued part) with its password
    // attempts; the CRC verdict.
    bool OpenAndExtractFile(TStream32* in, TStream32* out, const TEntry& e, bool append);
    // One attempt: opens the output, decodes, keeps or removes the output.
    bool ExtractOnce(TStream32* in, TStream32* out, const TEntry& e, bool append);
    TLzhResult Decode(TStream32* in, TStream32*& outStream, const TArjHeader& h);
    bool RequestArjPassword();
    bool NextVolume(TStream32*& inStream, int& volume);

    std::vector<TEntry> m_entries;
    TLzhDecoder m_lzh;
    // The entry whose last written part continues in the next volume: its
    // stored name and the file this run wrote for it.
    std::string m_continuedName;
    std::string m_continuedFile;
    bool m_openFailed = false;
};
