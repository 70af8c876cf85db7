// Finding short byte strings in files and buffers, fast enough for whole
// archives: a Sunday-style skip-table search (a vector scan where no case
// folding is asked) over large blocks, with optional case folding and
// optional conversion of the strings to the OEM code page, so that names
// stored in DOS archive headers can be found.
//
// TSingleFindSearchObj stops at the first match, TTurboSearchObj collects
// every match of one string, TMultiTurboSearchObj collects the matches of up
// to 20 strings and judges a file by a query of MUST, CAN and NOT terms.
//
// Positions and sizes are 64-bit. File blocks overlap by the longest
// string's length less one, and a block reports only the matches that end
// past the end of the block before it: every occurrence is reported exactly
// once, with its file offset, whatever the strings' lengths. An empty
// search string finds nothing.
#pragma once

#include "archive/zadstreams.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxSearchStrings = 20;
constexpr std::size_t kMaxSearchLength = 60;
constexpr std::int64_t kSingleFindBlockSize = 163840;
// Blocks small enough to stay in the processor's cache from the read that
// fills them to the scan that follows: a search over a cached file then
// runs at the speed of copying it out of the page cache.
constexpr std::int64_t kTurboBlockSize = 131072;

enum TSSortTyp { TSSort_None, TSSort_SString, TSSort_Position };
enum TSearchCombinationType { TSCombi_MUST, TSCombi_CAN, TSCombi_NOT };

// Called for each match: true to go on searching.
using TFoundPosProc = std::function<bool(std::int64_t pos, std::int32_t strNum)>;
// Progress of a search; setting cancel stops it.
using TSearchProgressProc = std::function<void(bool& cancel, bool sorting, std::int32_t foundCount, BYTE percent)>;

struct TListSaveRecTyp {
    std::int64_t Position = 0;
    BYTE StrNum = 0;
};

// One search string and its tables.
struct TSPatternData {
    std::string Searched;  // the bytes searched (OEM when asked)
    std::string Text;      // the string as given, at most 60 characters
    std::int32_t Length = 0;
    std::int32_t DefaultShift = 0;
    std::int32_t HalfLength = 0;
    std::array<std::int32_t, 256> Shift{};
    std::array<std::uint8_t, 256> Fold{};
    bool CaseSensitive = false;
    TFoundPosProc FoundPos;

    void INIT_SEARCHTABLE(const std::string& str, bool oem, bool caseSensitive);
};

class TSearchObj {
public:
    explicit TSearchObj(TObject* owner = nullptr);
    virtual ~TSearchObj();
    TSearchObj(const TSearchObj&) = delete;
    TSearchObj& operator=(const TSearchObj&) = delete;

    void ASSIGN_CALLBACKPROC(TSearchProgressProc proc) { m_progress = std::move(proc); }
    // Rebuilds the tables of every string in use from its text as given.
    void CHANGE_CHARSET(bool oem, bool caseSensitive);
    void CHANGE_SEARCHFOR(const std::string& str, bool oem, bool caseSensitive);
    // Opens a file for the block reads; false (and closed) when it cannot be
    // opened or is shorter than string 0.
    bool OPEN_LOCFILE(const std::string& fileName);
    void CLOSE_LOCFILE();
    // Reads the next block of blockSize bytes, overlapping the last one by
    // the longest string's length less one; true when bytes were read.
    bool READ_FILEBLOCK(std::int64_t blockSize = kTurboBlockSize);
    // Scans the buffer from window end index start for string strNum,
    // reporting base + index positions; the last position reported or -1.
    std::int64_t DoSearch(std::int32_t strNum, std::int64_t base, std::int64_t start, std::int64_t length);
    // The collecting found-position method.
    bool FOUNDPOSITION_TO_TLIST(std::int64_t pos, std::int32_t strNum);

    std::int32_t MatchCount() const { return static_cast<std::int32_t>(m_matches.size()); }
    const TListSaveRecTyp& Match(std::int32_t index) const { return m_matches.at(static_cast<std::size_t>(index)); }
    bool Found() const { return m_found; }

protected:
    // The window end index at which a block's scan for a string of length
    // m starts: its first complete window, and none that ends in the part
    // the previous block already covered.
    std::int64_t StartIndex(std::int32_t m) const;
    void Progress(bool sorting, BYTE percent);
    BYTE Percent() const;
    void ResetFoundTable() { m_foundTable.fill(false); }
    void AllocateBuffer(std::int64_t size);
    void FreeBuffer();

    std::int64_t m_bufferOffset = 0;
    std::int64_t m_bufferBytes = 0;
    // The end of the block before the one in the buffer (its file offset):
    // windows ending before it were searched already.
    std::int64_t m_coveredEnd = 0;
    std::int32_t m_longest = 0;
    std::int32_t m_lastSearched = 0;
    const std::uint8_t* m_buffer = nullptr;
    std::vector<std::uint8_t> m_ownBuffer;
    bool m_found = false;
    bool m_oem = false;
    std::unique_ptr<TFileStream32> m_file;
    std::int64_t m_fileSize = 0;
    bool m_fileOpen = false;
    bool m_fileEnd = false;
    bool m_cancel = false;
    // A deque: growing it never copies what was collected.
    std::deque<TListSaveRecTyp> m_matches;
    std::int32_t m_nextMatch = 0;
    TSearchProgressProc m_progress;
    std::int8_t m_highest = -1;
    std::array<TSPatternData, kMaxSearchStrings> m_patterns;
    std::array<bool, kMaxSearchStrings> m_foundTable{};
};

class TSingleFindSearchObj : public TSearchObj {
public:
    using TSearchObj::TSearchObj;
    void INIT_BUFFER_SEARCH(const std::string& str, bool oem, bool caseSensitive);
    void INIT_FILE_SEARCH(const std::string& str, bool oem, bool caseSensitive);
    // The offset of the first occurrence, -1 when none or the file cannot
    // be opened.
    std::int64_t SEARCH_FILE_FIRSTMATCH(const std::string& fileName);
    std::int64_t SEARCH_BUFFER_FIRSTMATCH(const void* buffer, std::int64_t length);
    // Count bytes from the remembered match + offset (not below 0) into
    // buffer, zero-filled first; stays zero when nothing can be read.
    void DUMP_FILEFIRSTMATCH(std::int64_t offset, std::int32_t count, void* buffer);
    void DONE();

    std::int64_t FirstMatchPos() const { return m_firstPos; }

private:
    std::string m_firstFile;
    std::int64_t m_firstPos = -1;
};

class TTurboSearchObj : public TSearchObj {
public:
    using TSearchObj::TSearchObj;
    void INIT_BUFFER_SEARCH(const std::string& str, bool oem, bool caseSensitive);
    void INIT_FILE_SEARCH(const std::string& str, bool oem, bool caseSensitive);
    bool PERFORM_FILE_SEARCH(const std::string& fileName);
    bool PERFORM_BUFFER_SEARCH(const void* buffer, std::int64_t length);
    std::int64_t SEARCH_FILE_FIRSTMATCH(const std::string& fileName);
    std::int64_t SEARCH_BUFFER_FIRSTMATCH(const void* buffer, std::int64_t length);
    std::int64_t SEARCH_NEXTMATCH();
    void DONE();
};

class TMultiTurboSearchObj : public TSearchObj {
public:
    using TSearchObj::TSearchObj;
    void INIT_MULTIBUFFER_SEARCH(TSSortTyp sortType, bool oem);
    void INIT_MULTIFILE_SEARCH(TSSortTyp sortType, bool oem);
    bool ADD_SEARCHSTRING(const std::string& str, TSearchCombinationType combination, bool caseSensitive);
    void CLEAR_ALL_SEARCHSTRINGS();
    std::string GETSEARCHSTRING_BY_NUMBER(std::int32_t num) const;
    // The query's verdict on the file; pos and strNum the first match in
    // the sort order (-1 and 0 when none).
    bool SEARCH_FILE_FIRSTMATCH(const std::string& fileName, std::int64_t& pos, std::int32_t& strNum);
    // Whether any string occurs in the buffer.
    bool SEARCH_BUFFER_FIRST(const void* buffer, std::int64_t length, std::int64_t& pos, std::int32_t& strNum);
    bool SEARCH_NEXTMATCH(std::int64_t& pos, std::int32_t& strNum);
    bool PERFORM_FILE_SEARCH();
    bool PERFORM_BUFFER_SEARCH(const void* buffer, std::int64_t length);
    void SORT_RESULTS();
    void CLOSE_FILE();
    void DONE();

private:
    void PrepareStrings();
    bool Judge() const;

    std::int64_t m_resume = -1;
    std::array<TSearchCombinationType, kMaxSearchStrings> m_combination{};
    TSSortTyp m_sortType = TSSort_None;
};
