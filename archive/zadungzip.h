// The extractor of compressed files, TUnGZip: gzip files (every member
// decoded and checked against its trailer, so a damaged member anywhere
// fails the entry) and compress files (.Z, through the LZW decoder). A file
// holds one entry, named by GzipEntryName.
//
// When the decoded data is a TAR archive and OnNestedTarFile says so, the
// TAR file is extracted as well, by an inner TUnTar that keeps this
// component's target, masks, UseStoredDirs and events; the TAR file stays
// where it was written. A test run (ExtractToVerify) writes the TAR file to
// the temporary folder, tests its entries and removes it. Without the event
// the TAR file is the result, and 25270 notes the missing handler.
#pragma once

#include "archive/zadunbase.h"

#include <functional>
#include <memory>
#include <string>

using TOnNestedTarFile = std::function<void(TObject* sender, const std::string& fileName, bool& doUnTar)>;
using TOnChangeArchive = std::function<void(TObject* sender, const std::string& archiveName, TArcType type)>;

class TUnGZip : public TUnBase {
public:
    using TUnBase::TUnBase;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    TOnNestedTarFile OnNestedTarFile;
    TOnChangeArchive OnChangeArchive;

private:
    // Decodes the entry into outStream; true when all of it decoded and checked.
    bool Decode(TStream32* inStream, TStream32*& outStream, std::uint16_t magic);
    // Asks, once the first block is decoded, whether a TAR archive in it is
    // unpacked (m_doUnTar), and opens the temporary TAR file a test run needs.
    void DecideNestedTar();
    void ExtractNestedTar(const std::string& tarFile);
    std::string m_head;  // the first 512 decoded bytes, to recognise a TAR archive
    bool m_doUnTar = false;
    std::unique_ptr<TStream32> m_tarFile;  // the temporary TAR file of a test run
    std::string m_tarName;
    TEntryStamp m_stamp;
};
