// The TAR extractor TUnTar. A first pass walks the headers with the same
// reader the lister uses (every header's checksum tested, long names and
// pax records applied to the entry after them), a second pass copies each
// selected entry's data. TAR carries no checksum of the data: an entry
// passes when all its bytes were copied.
//
// Folders are created (with CreateStoredDirs); files are written with
// their time (pax fractions included) and their permission bits. A
// symbolic link is written as a file holding the text of its target (no
// link is ever made); a hard link gets the content of the member it names,
// read again from the archive (never a name as data), and one naming no
// member before it fails alone (25192). A sparse file is written as the
// file it stands for: its segments at their offsets, the rest holes where
// the output is a file, zeros otherwise; a map that contradicts itself
// fails that entry (25114). A size that is no number or that passes the
// end of the archive ends the walk with 25114 "Bad file header"; the
// entries before it still extract.
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
    // The member whose data an entry writes: itself, or for a hard link the
    // file member it names (nullptr when there is none before it).
    const TTarEntry* ContentOf(const TTarEntry& e) const;
    // Copies a member's data (a sparse file's segments with their holes);
    // the bytes left unwritten.
    std::int64_t CopyContent(TStream32* in, TStream32*& outStream, const TTarEntry& content);
    bool WriteHole(TStream32*& outStream, std::int64_t length);
    std::vector<TTarEntry> m_entries;
    // Every file member of the archive, selected or not, for hard links;
    // m_linked[i]: index of entry i's content there, -1 for none.
    std::vector<TTarEntry> m_files;
    std::vector<int> m_linked;
};
