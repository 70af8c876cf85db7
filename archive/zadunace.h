// The ACE extractor TUnACE over the ACE 2 extraction library's interface.
// No such library exists on Linux (Debian's unace reads ACE 1 only), so the
// program loads none: an extraction reports 25103 once and extracts
// nothing. A library put behind TAceLibrary (tests put a stand-in there)
// does the decoding; the component scans the archive itself for its totals
// and its empty folders, answers the library's callbacks (information,
// errors, requests for volumes, overwrites and passwords, the state of each
// entry), reports begin, progress and end, and puts each file where the
// component's rules say: the library writes to its own target path, and a
// file the component named otherwise (a rename, a name chosen for an
// existing file) is moved there afterwards, the folders made only for the
// library's path removed again and a file that stood at that path kept.
#pragma once

#include "archive/zadunbase.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Answers of every callback.
constexpr int ACE_CALLBACK_RETURN_OK = 0;
constexpr int ACE_CALLBACK_RETURN_NO = 1;
constexpr int ACE_CALLBACK_RETURN_CANCEL = 2;

// Information codes the component answers 0 to; any other gets 1.
constexpr int ACE_CALLBACK_INFO_FILELISTCREATE = 281;
constexpr int ACE_CALLBACK_INFO_FILELISTCREATEEND = 282;
constexpr int ACE_CALLBACK_INFO_FILELISTADD = 320;

// Requests: the next volume of the archive, and for an archived file the
// overwrite of an existing file and its password.
constexpr int ACE_CALLBACK_REQUEST_CHANGEVOLUME = 801;
constexpr int ACE_CALLBACK_REQUEST_OVERWRITE = 832;
constexpr int ACE_CALLBACK_REQUEST_PASSWORD = 835;

// States of an archived file: it starts, its data go by, its CRC was checked.
constexpr int ACE_CALLBACK_STATE_STARTFILE = 1040;
constexpr int ACE_CALLBACK_STATE_PROGRESS = 1041;
constexpr int ACE_CALLBACK_STATE_ENDFILE = 1042;

enum class TAceOperation { List, Test, Extract };

// The archive or file a request is about; what the component answers goes
// back in the same record.
struct TAceRequest {
    std::string ArchiveName;  // 801: the volume's name, in and out
    int VolumeNumber = 0;     // 801: the volume wanted
    std::string FileName;     // 832, 835: the archived file's name
    std::string Password;     // 835: out
};

// The archived file a state is about.
struct TAceFileState {
    TAceOperation Operation = TAceOperation::Extract;
    std::string StoredName;   // as in the archive, '\\' between folders
    std::string TargetName;   // where the library writes it when extracting
    std::int64_t Size = 0;
    std::int64_t PackedSize = 0;
    std::int32_t DosDateTime = 0;  // date in the high word
    std::uint32_t Attributes = 0;
    // Progress: the bytes this step went through; under test the decoded
    // bytes themselves when the library passes them on.
    std::int64_t ProcessedBytes = 0;
    const void* Data = nullptr;
    std::int32_t DataSize = 0;
    bool CrcOk = false;  // ACE_CALLBACK_STATE_ENDFILE
};

struct TAceCallbacks {
    std::function<int(int code)> Info;
    std::function<int(int code)> Error;
    std::function<int(int code, TAceRequest& request)> Request;
    std::function<int(int code, TAceFileState& state)> State;
};

// What the library is initialised with.
struct TAceInit {
    std::uint32_t TestLimit = 0x1FFFF;     // how far into a file an archive is looked for
    std::uint32_t FileBufferSize = 0x2FFFF;
    std::uint32_t CommentBufferSize = 8191;
    std::string TempDir;
    TAceCallbacks Callbacks;
};

// A test or an extraction: masks each followed by a carriage return.
struct TAceOptions {
    std::string Masks;
    std::string ExcludeMasks;
    bool FullMatch = true;
    std::string Password;
    std::string Destination;  // extraction only
    bool DropPaths = false;   // extraction only
};

class TAceLibrary {
public:
    virtual ~TAceLibrary() = default;
    // Each answers 0 on success, as the library's calls answer.
    virtual int Init(const TAceInit& init) = 0;
    virtual int Test(const std::string& archive, const TAceOptions& options) = 0;
    virtual int Extract(const std::string& archive, const TAceOptions& options) = 0;
};

// Where TUnACE gets its library; the program sets none. Tests put a
// stand-in in place (an empty function restores none).
void SetAceLibraryFactory(std::function<std::unique_ptr<TAceLibrary>()> factory);

class TUnACE : public TUnBase {
public:
    using TUnBase::TUnBase;
    ~TUnACE() override;

    bool SupportsType(TArcType type) const override;
    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The masks as the library takes them: each followed by a carriage
    // return; "*" when there are none.
    std::string MaskList() const;
    // Scans the archive's headers: the totals of the selected files, the
    // number of entries, the latest date, and (writing files with
    // CreateStoredDirs) the folders no file fills, made under ExtractDir.
    // False when the archive does not open (25235) or its headers do not
    // hold together.
    bool GetArchiveTotals(const std::string& archiveName);
    // Entries the last scan found.
    int ArchiveEntries() const { return m_entries; }

private:
    TAceCallbacks Callbacks();
    int AnswerInfo(int code);
    int AnswerRequest(int code, TAceRequest& request);
    int AnswerPassword(TAceRequest& request);
    int AnswerState(int code, TAceFileState& state);
    int StartFile(TAceFileState& state);
    void Progress(const TAceFileState& state);
    void EndFile(const TAceFileState& state);
    // The library's file put where the component named it; a file that
    // stood at the library's path given back; folders made for it removed.
    bool MoveTarget();
    void RemoveCreatedFolders(const std::string& folder);
    void RestoreKeptFile();
    void doOnEnd_Local(bool crcPass, std::uint32_t attributes);

    struct TEntry {
        bool Selected = false;
        bool Moved = false;
        std::string LibraryTarget;
        std::string KeptFile;  // a file moved aside from LibraryTarget
        bool FolderExisted = true;
        std::int64_t Size = 0;
        std::int64_t Processed = 0;
        std::int32_t DosDateTime = 0;
        TStream32* Out = nullptr;
    } m_entry;
    int m_entries = 0;
    int m_processedEntries = 0;
};
