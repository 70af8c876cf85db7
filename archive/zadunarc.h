// The ARC extractor TUnArc (also PAK, whose two methods of its own it
// reports as unsupported). A first pass walks the chain of headers and
// collects the selected entries with the names they have there (the folder
// prefix of directory headers starts empty at every walk); a second pass
// extracts them in archive order through the ARC decoders.
//
// Positions are 64-bit and only move forward; the packed data of an entry
// is read no further than its declared size and its output is held to its
// declared unpacked size. An entry that fails (unsupported method, damaged
// data, short data, an output that does not open) leaves no file and the
// next entry follows. A header cut off by the end of the file is reported
// (25114), never read as an empty entry.
//
// ARC marks no entry as garbled (arc's g option XORs the packed bytes with
// the upper-cased password, from each entry's first data byte): with a
// Password the data are read through it; an entry whose data do not decode
// or check says that it is damaged or garbled, or that the password does
// not open it.
#pragma once

#include "archive/zadrecords.h"
#include "archive/zadunbase.h"

#include <string>
#include <vector>

class TUnArc : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // One selected entry: where its header stands, the header, and its name
    // with the folders of the directory headers before it.
    struct TEntry {
        std::int64_t Offset = 0;
        TArcHeader Header;
        std::string StoredName;
    };
    int BuildHeadArray(TStream32* inStream);
    void ProcessHeaders(TStream32* inStream, TStream32* outStream);
    bool OpenAndExtractFile(TStream32* inStream, TStream32* outStream, const TEntry& e);

private:
    // Decodes the entry's data into outStream; false after reporting when
    // the data is damaged.
    bool DecodeEntry(TStream32* inStream, TStream32*& outStream, const TEntry& e);
    // Reads packed bytes, taking the garbling off with the password.
    std::int32_t ReadPacked(TStream32* in, std::uint8_t* buf, std::int32_t count);
    // What an entry that does not decode or check may be.
    std::string FailureRemark() const;
    std::vector<TEntry> m_entries;
    std::string m_key;  // the upper-cased password
    size_t m_keyAt = 0;
};
