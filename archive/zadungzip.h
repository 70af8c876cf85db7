// The extractor of compressed files, TUnGZip: gzip files (every member
// decoded and checked against its trailer, so a damaged member anywhere
// fails the entry) and compress files (.Z, through the LZW decoder). A file
// holds one entry, named by GzipEntryName.
//
// When the decoded data is a TAR archive and OnNestedTarFile says so, the
// TAR file is extracted as well, by an inner TUnTar that keeps this
// component's target, masks, UseStoredDirs and events; the TAR file stays
// where it was written. Without the event the TAR file is the result.
#pragma once

#include "archive/zadunbase.h"

#include <functional>
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
    void ExtractNestedTar();
    std::string m_head;  // the first 512 decoded bytes, to recognise a TAR archive
};
