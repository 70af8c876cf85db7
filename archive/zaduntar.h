// The TAR extractor TUnTar. A first pass walks the headers with the same
// reader the lister uses (every header's checksum tested, long names and
// pax records applied to the entry after them), a second pass copies each
// selected entry's data. TAR carries no checksum of the data: an entry
// passes when all its bytes were copied.
//
// Folders are created (with CreateStoredDirs); files and links are written
// as files, a link holding the text of its target (no link is ever made).
// A size that is no number or that passes the end of the archive ends the
// walk with 25114 "Bad file header"; the entries before it still extract.
#pragma once

#include "archive/zadtar.h"
#include "archive/zadunbase.h"

#include <vector>

class TUnTar : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    int BuildHeadArray(TStream32* inStream);
    void ProcessHeaders(TStream32* inStream, TStream32* outStream);
    bool OpenAndExtractFile(TStream32* inStream, TStream32* outStream, const TTarEntry& entry);

private:
    std::vector<TTarEntry> m_entries;
};
