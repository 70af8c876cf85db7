// The cabinet extractor TUnCab, over the cabinet decompression interface
// (platform/cabinet, libmspack). A counting pass sizes the selected files
// of a cabinet, then the extraction pass decodes them; a set of cabinets
// is followed cabinet by cabinet, the next one named by the header (its
// file-name part only, in the set's folder) and offered through
// OnNextVolume. A cabinet opened in the middle of its set is extracted
// from the set's first cabinet, found back along the previous-cabinet
// names; a missing first part is reported (25901).
//
// A file passes its test only when the library decoded it with its
// checksums holding and gave as many bytes as it declares; one that fails
// leaves no file. A refused name, or an output that does not open, skips
// that file alone.
//
// The library's files go through one TStreamCabinetFileHandler and its
// memory through StdFciAlloc/StdFciFree (archive/zadcabgbls.h). An error
// record the run cannot go on from is reported (25116, "Cabinet error %d
// (type %d)") and ends the run as an ECabinetError.
#pragma once

#include "archive/zadunbase.h"

#include <memory>
#include <string>

class TStreamCabinetFileHandler;
// The handler through which every cabinet extraction opens its files.
TStreamCabinetFileHandler& CabinetFileHandler();

class TUnCab : public TUnBase {
public:
    explicit TUnCab(TComponent* owner = nullptr);
    ~TUnCab() override;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The library's notifications of the extraction pass.
    virtual void DoCabinetInfo(const std::string& nextCabinet, const std::string& nextDisk, const std::string& cabinetPath,
                               int setId, int cabinetIndex, bool& abort);
    // Answers whether the file is decoded (its output then open).
    virtual bool DoExtractFile(const std::string& storedName, std::int64_t size, WORD date, WORD time, WORD attributes);
    virtual void DoCloseOutFile(bool decoded, WORD date, WORD time, WORD attributes, bool& abort);
    // The next cabinet of the set: name and path in, the ones to use out.
    virtual void DoNextCabinet(std::string& nextCabinet, std::string& cabinetPath, bool& abort);

    // For the library's callbacks (one cabinet run at a time).
    struct TState;
    std::unique_ptr<TState> State;

private:
    // The first cabinet of the set the cabinet belongs to, followed back
    // from it; the cabinet itself when it is the first or the way back is
    // broken (reported).
    std::string FirstCabinetOfSet(const std::string& cabinet);
    bool ContextNeeded();
    bool IsCabinet(const std::string& fileName);
    // The counting pass over one cabinet.
    void BuildRecoveryHeadArray(const std::string& cabinetFile);
    // Reports what the library's error record says; false when it failed.
    bool CabCheck(bool ok);
};
