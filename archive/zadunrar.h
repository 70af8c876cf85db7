// The RAR extractor TUnRar (archives of the 1.5 to 4 format), over the RAR
// library interface (platform/rar, libarchive). The component walks each
// volume's headers itself for the names (Unicode ones included), the
// 64-bit sizes and the stored CRC, which the library does not give; the
// library decodes, and its data come back through the callback for the CRC
// test and the progress.
//
// Every output path is composed by SetFilename; the current folder is never
// changed. A file is written under its own name when nothing is there;
// otherwise under a temporary name beside it, which replaces the old file
// only once the entry is complete and its CRC holds. A failed entry leaves
// nothing new behind. Encrypted entries fail (25244): the library does not
// decrypt them.
#pragma once

#include "archive/zadrecords.h"
#include "archive/zadunbase.h"

#include <string>
#include <vector>

class TUnRar : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The library's callback answers (public for its trampoline).
    int OnVolumeChange(char* name, int mode);
    int OnData(const std::uint8_t* data, std::int64_t count);

    // One file header of the volume being read, and its name.
    struct TItem {
        TRarFileHeader Header;
        std::string Name;
    };
    const std::vector<TItem>& Items() const { return m_items; }

    // The message id of a library result code (0 for success and codes without one).
    static int OutProcessFileError(int code);

private:
    // The native walk of one volume: its file headers, and with
    // countSelection the totals of the selected entries. False after
    // reporting when the volume is no RAR archive this walk knows.
    bool GetTotalSize(const std::string& volume, bool countSelection);
    void ExtractFile(const std::string& arcName);
    // Extracts or tests the entry whose library header was just read.
    // False when the run must end.
    bool ProcessEntry(void* handle);
    bool LocalOnEnd(bool good);

    std::vector<TItem> m_items;
    size_t m_entryIndex = 0;
    std::uint32_t m_expectedCrc = 0;
    std::int64_t m_entryBytes = 0;
    std::int64_t m_entrySize = 0;
    int m_operation = 0;  // 0 none, 1 test (data to the run's target), 2 extract to a file
    bool m_solid = false;  // the volume's main header marks a solid archive
    int m_volumeOrdinal = 1;  // the place in its set of the volume being read, from 1
    TStream32* m_out = nullptr;
};
