#include "archive/zadsearchengine.h"

#include "archive/zadbase.h"
#include "archive/zadgbls.h"
#include "archive/zadhooks.h"
#include "rtl/bytesearch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string_view>

namespace {

std::uint8_t FoldAscii(std::uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<std::uint8_t>(c + 32) : c; }

}  // namespace

// ====================================================================== one string's tables

void TSPatternData::INIT_SEARCHTABLE(const std::string& str, bool oem, bool caseSensitive)
{
    Text = str.substr(0, kMaxSearchLength);
    CaseSensitive = caseSensitive;
    Searched = oem ? Utf8ToOem(Text) : Text;
    Searched.resize(std::min(Searched.size(), kMaxSearchLength));
    Length = static_cast<std::int32_t>(Searched.size());
    DefaultShift = Length;
    HalfLength = Length / 2;
    for (int c = 0; c < 256; ++c) {
        Fold[c] = caseSensitive ? static_cast<std::uint8_t>(c) : FoldAscii(static_cast<std::uint8_t>(c));
        Shift[c] = Length;
    }
    for (std::int32_t p = 0; p < Length; ++p)
        Shift[Fold[static_cast<std::uint8_t>(Searched[p])]] = Length - p;
}

// ====================================================================== the base

TSearchObj::TSearchObj(TObject*) {}

TSearchObj::~TSearchObj() = default;

void TSearchObj::CHANGE_CHARSET(bool oem, bool caseSensitive)
{
    m_oem = oem;
    for (int i = 0; i <= m_highest; ++i) {
        const std::string text = m_patterns[i].Text;
        m_patterns[i].INIT_SEARCHTABLE(text, oem, caseSensitive);
    }
}

void TSearchObj::CHANGE_SEARCHFOR(const std::string& str, bool oem, bool caseSensitive)
{
    m_patterns[0].INIT_SEARCHTABLE(str, oem, caseSensitive);
}

bool TSearchObj::OPEN_LOCFILE(const std::string& fileName)
{
    CLOSE_LOCFILE();
    auto file = std::make_unique<TFileStream32>(fileName, fmOpenRead | fmShareDenyNone);
    if (!file->Valid())
        return false;
    m_fileSize = file->Size();
    if (m_fileSize < m_patterns[0].Length) {
        m_fileSize = 0;
        return false;
    }
    m_file = std::move(file);
    m_fileOpen = true;
    m_fileEnd = false;
    m_coveredEnd = 0;
    m_bufferOffset = 0;
    m_bufferBytes = 0;
    return true;
}

void TSearchObj::CLOSE_LOCFILE()
{
    m_file.reset();
    m_fileSize = 0;
    m_fileOpen = false;
    m_fileEnd = false;
}

void TSearchObj::AllocateBuffer(std::int64_t size)
{
    m_ownBuffer.assign(static_cast<std::size_t>(size), 0);
    m_buffer = m_ownBuffer.data();
}

void TSearchObj::FreeBuffer()
{
    m_ownBuffer.clear();
    m_ownBuffer.shrink_to_fit();
    m_buffer = nullptr;
}

bool TSearchObj::READ_FILEBLOCK(std::int64_t blockSize)
{
    if (!m_fileOpen)
        return false;
    if (static_cast<std::int64_t>(m_ownBuffer.size()) < blockSize)
        AllocateBuffer(blockSize);
    m_buffer = m_ownBuffer.data();
    std::int64_t pos = m_file->Position();
    m_coveredEnd = pos;
    // A string that straddles the seam lies whole in the next block.
    const std::int64_t overlap = std::max<std::int32_t>(m_longest - 1, 0);
    if (pos > 0 && pos < m_fileSize) {
        pos = std::max<std::int64_t>(pos - overlap, 0);
        m_file->SetPosition(pos);
    }
    m_bufferOffset = pos;
    const std::int64_t n = m_file->Read(m_ownBuffer.data(), blockSize);
    m_bufferBytes = std::max<std::int64_t>(n, 0);
    m_fileEnd = n <= 0 || pos + n >= m_fileSize;
    return n > 0;
}

std::int64_t TSearchObj::StartIndex(std::int32_t m) const
{
    return std::max<std::int64_t>(m - 1, m_coveredEnd - m_bufferOffset);
}

bool TSearchObj::FOUNDPOSITION_TO_TLIST(std::int64_t pos, std::int32_t strNum)
{
    if (strNum >= 0 && strNum < kMaxSearchStrings)
        m_foundTable[static_cast<std::size_t>(strNum)] = true;
    try {
        m_matches.push_back(TListSaveRecTyp{pos, static_cast<BYTE>(strNum)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::int64_t TSearchObj::DoSearch(std::int32_t strNum, std::int64_t base, std::int64_t start, std::int64_t length)
{
    const TSPatternData& pat = m_patterns[static_cast<std::size_t>(strNum)];
    const std::int64_t m = pat.Length;
    std::int64_t result = -1;
    if (m == 0 || !m_buffer || start >= length)
        return result;
    auto report = [&](std::int64_t at) {
        m_found = true;
        result = base + at;
        return !pat.FoundPos || pat.FoundPos(result, strNum);
    };
    if (pat.CaseSensitive) {
        // Without folding the vector scan finds the same windows as the
        // skip table, several times faster.
        const std::string_view needle(pat.Searched);
        const auto* text = reinterpret_cast<const char*>(m_buffer);
        for (std::int64_t from = start - (m - 1); from + m <= length;) {
            const std::size_t hit =
                FindBytes(std::string_view(text + from, static_cast<std::size_t>(length - from)), needle);
            if (hit == std::string_view::npos)
                break;
            const std::int64_t at = from + static_cast<std::int64_t>(hit);
            if (!report(at))
                return result;
            from = at + 1;  // overlapping occurrences count too
        }
        return result;
    }
    const auto& f = pat.Fold;
    const auto* s = reinterpret_cast<const std::uint8_t*>(pat.Searched.data());
    const std::uint8_t lastByte = f[s[m - 1]];
    const std::int64_t last = length - 1;
    std::int64_t e = start;
    while (e <= last) {
        if (f[m_buffer[e]] != lastByte) {
            if (e == last)
                break;
            e += pat.Shift[f[m_buffer[e + 1]]];
            continue;
        }
        std::int64_t k = m - 2;
        const std::int64_t windowStart = e - (m - 1);
        while (k >= 0 && f[s[k]] == f[m_buffer[windowStart + k]])
            --k;
        if (k < 0) {
            if (!report(windowStart))
                return result;
            ++e;
        } else if (k < pat.HalfLength) {
            ++e;
        } else {
            if (e == last)
                break;
            e += pat.Shift[f[m_buffer[e + 1]]];
        }
    }
    return result;
}

void TSearchObj::Progress(bool sorting, BYTE percent)
{
    if (m_progress)
        m_progress(m_cancel, sorting, MatchCount(), percent);
}

BYTE TSearchObj::Percent() const
{
    const double size = m_fileSize > 0 ? static_cast<double>(m_fileSize) : 1.0;
    const double offset = m_bufferOffset > 0 ? static_cast<double>(m_bufferOffset) : 1.0;
    return static_cast<BYTE>(std::clamp(std::lround(offset / size * 100.0), 0L, 100L));
}

// ====================================================================== first match only

void TSingleFindSearchObj::INIT_BUFFER_SEARCH(const std::string& str, bool oem, bool caseSensitive)
{
    FreeBuffer();
    m_firstFile.clear();
    m_firstPos = -1;
    m_oem = oem;
    m_highest = 0;
    m_patterns[0].INIT_SEARCHTABLE(str, oem, caseSensitive);
    m_patterns[0].FoundPos = [this](std::int64_t pos, std::int32_t strNum) {
        FOUNDPOSITION_TO_TLIST(pos, strNum);
        return false;  // the first match ends the scan
    };
}

void TSingleFindSearchObj::INIT_FILE_SEARCH(const std::string& str, bool oem, bool caseSensitive)
{
    INIT_BUFFER_SEARCH(str, oem, caseSensitive);
    AllocateBuffer(kSingleFindBlockSize);
}

std::int64_t TSingleFindSearchObj::SEARCH_FILE_FIRSTMATCH(const std::string& fileName)
{
    CLOSE_LOCFILE();
    m_found = false;
    m_matches.clear();
    if (!OPEN_LOCFILE(fileName))
        return -1;
    m_longest = m_patterns[0].Length;
    std::int64_t pos = -1;
    while (!m_found && READ_FILEBLOCK(kSingleFindBlockSize)) {
        ProcessMessages();
        pos = DoSearch(0, m_bufferOffset, StartIndex(m_longest), m_bufferBytes);
        if (m_fileEnd)
            break;
    }
    if (m_found) {
        m_firstFile = fileName;
        m_firstPos = pos;
    }
    return m_found ? pos : -1;
}

std::int64_t TSingleFindSearchObj::SEARCH_BUFFER_FIRSTMATCH(const void* buffer, std::int64_t length)
{
    m_found = false;
    m_matches.clear();
    m_buffer = static_cast<const std::uint8_t*>(buffer);
    m_bufferOffset = 0;
    m_coveredEnd = 0;
    const std::int64_t pos = DoSearch(0, 0, StartIndex(m_patterns[0].Length), length);
    m_buffer = m_ownBuffer.empty() ? nullptr : m_ownBuffer.data();
    return m_found ? pos : -1;
}

void TSingleFindSearchObj::DUMP_FILEFIRSTMATCH(std::int64_t offset, std::int32_t count, void* buffer)
{
    if (count <= 0 || !buffer)
        return;
    std::memset(buffer, 0, static_cast<std::size_t>(count));
    if (m_firstPos < 0)
        return;
    TFileStream32 file(m_firstFile, fmOpenRead | fmShareDenyNone);
    if (!file.Valid())
        return;
    file.SetPosition(std::max<std::int64_t>(m_firstPos + offset, 0));
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    const std::int64_t n = file.Read(bytes.data(), count);
    if (n > 0)
        std::memcpy(buffer, bytes.data(), static_cast<std::size_t>(n));
}

void TSingleFindSearchObj::DONE()
{
    CLOSE_LOCFILE();
    m_firstFile.clear();
    m_firstPos = -1;
    FreeBuffer();
}

// ====================================================================== every match of one string

void TTurboSearchObj::INIT_BUFFER_SEARCH(const std::string& str, bool oem, bool caseSensitive)
{
    FreeBuffer();
    m_progress = nullptr;
    m_matches.clear();
    m_oem = oem;
    m_highest = 0;
    m_patterns[0].INIT_SEARCHTABLE(str, oem, caseSensitive);
    m_patterns[0].FoundPos = [this](std::int64_t pos, std::int32_t strNum) { return FOUNDPOSITION_TO_TLIST(pos, strNum); };
}

void TTurboSearchObj::INIT_FILE_SEARCH(const std::string& str, bool oem, bool caseSensitive)
{
    INIT_BUFFER_SEARCH(str, oem, caseSensitive);
    AllocateBuffer(kTurboBlockSize);
}

bool TTurboSearchObj::PERFORM_FILE_SEARCH(const std::string& fileName)
{
    m_found = false;
    m_cancel = false;
    CLOSE_LOCFILE();
    m_matches.clear();
    Progress(false, 0);
    if (!m_cancel && OPEN_LOCFILE(fileName)) {
        m_longest = m_patterns[0].Length;
        while (READ_FILEBLOCK(kTurboBlockSize)) {
            if (m_progress) {
                Progress(false, Percent());
                ProcessMessages();
                if (m_cancel)
                    break;
            }
            DoSearch(0, m_bufferOffset, StartIndex(m_longest), m_bufferBytes);
            if (m_fileEnd)
                break;
        }
        CLOSE_LOCFILE();
    }
    Progress(false, 100);
    return m_found;
}

bool TTurboSearchObj::PERFORM_BUFFER_SEARCH(const void* buffer, std::int64_t length)
{
    m_found = false;
    m_cancel = false;
    m_matches.clear();
    Progress(false, 0);
    if (!m_cancel) {
        const std::uint8_t* own = m_buffer;
        m_buffer = static_cast<const std::uint8_t*>(buffer);
        m_bufferOffset = 0;
        m_coveredEnd = 0;
        DoSearch(0, 0, StartIndex(m_patterns[0].Length), length);
        m_buffer = own;
    }
    Progress(false, 100);
    return m_found;
}

std::int64_t TTurboSearchObj::SEARCH_FILE_FIRSTMATCH(const std::string& fileName)
{
    m_nextMatch = 0;
    PERFORM_FILE_SEARCH(fileName);
    return SEARCH_NEXTMATCH();
}

std::int64_t TTurboSearchObj::SEARCH_BUFFER_FIRSTMATCH(const void* buffer, std::int64_t length)
{
    m_nextMatch = 0;
    PERFORM_BUFFER_SEARCH(buffer, length);
    return SEARCH_NEXTMATCH();
}

std::int64_t TTurboSearchObj::SEARCH_NEXTMATCH()
{
    if (m_nextMatch >= MatchCount())
        return -1;
    return m_matches[static_cast<std::size_t>(m_nextMatch++)].Position;
}

void TTurboSearchObj::DONE()
{
    CLOSE_LOCFILE();
    FreeBuffer();
    m_matches.clear();
}

// ====================================================================== several strings, a query

void TMultiTurboSearchObj::INIT_MULTIBUFFER_SEARCH(TSSortTyp sortType, bool oem)
{
    FreeBuffer();
    m_progress = nullptr;
    m_matches.clear();
    m_nextMatch = 0;
    m_highest = -1;
    m_oem = oem;
    m_sortType = sortType;
}

void TMultiTurboSearchObj::INIT_MULTIFILE_SEARCH(TSSortTyp sortType, bool oem)
{
    INIT_MULTIBUFFER_SEARCH(sortType, oem);
    AllocateBuffer(kTurboBlockSize);
}

bool TMultiTurboSearchObj::ADD_SEARCHSTRING(const std::string& str, TSearchCombinationType combination,
                                           bool caseSensitive)
{
    if (m_highest + 1 >= kMaxSearchStrings)
        return false;
    ++m_highest;
    m_patterns[static_cast<std::size_t>(m_highest)].INIT_SEARCHTABLE(str, m_oem, caseSensitive);
    m_combination[static_cast<std::size_t>(m_highest)] = combination;
    return true;
}

void TMultiTurboSearchObj::CLEAR_ALL_SEARCHSTRINGS()
{
    m_highest = -1;
    m_matches.clear();
    m_nextMatch = 0;
}

std::string TMultiTurboSearchObj::GETSEARCHSTRING_BY_NUMBER(std::int32_t num) const
{
    return num >= 0 && num <= m_highest ? m_patterns[static_cast<std::size_t>(num)].Text : std::string();
}

void TMultiTurboSearchObj::PrepareStrings()
{
    m_longest = 0;
    for (int i = 0; i <= m_highest; ++i) {
        m_longest = std::max(m_longest, m_patterns[i].Length);
        m_patterns[i].FoundPos = [this](std::int64_t pos, std::int32_t strNum) {
            return FOUNDPOSITION_TO_TLIST(pos, strNum);
        };
    }
}

bool TMultiTurboSearchObj::SEARCH_FILE_FIRSTMATCH(const std::string& fileName, std::int64_t& pos, std::int32_t& strNum)
{
    pos = -1;
    strNum = 0;
    CLOSE_LOCFILE();
    m_matches.clear();
    PrepareStrings();
    if (!OPEN_LOCFILE(fileName))
        return false;
    const bool result = PERFORM_FILE_SEARCH();
    if (result) {
        m_nextMatch = 0;
        SORT_RESULTS();
        SEARCH_NEXTMATCH(pos, strNum);
    }
    return result;
}

bool TMultiTurboSearchObj::SEARCH_BUFFER_FIRST(const void* buffer, std::int64_t length, std::int64_t& pos,
                                              std::int32_t& strNum)
{
    pos = -1;
    strNum = 0;
    PrepareStrings();
    if (length < m_longest)
        return false;
    if (!PERFORM_BUFFER_SEARCH(buffer, length))
        return false;
    m_nextMatch = 0;
    SORT_RESULTS();
    SEARCH_NEXTMATCH(pos, strNum);
    return true;
}

bool TMultiTurboSearchObj::SEARCH_NEXTMATCH(std::int64_t& pos, std::int32_t& strNum)
{
    if (m_nextMatch >= MatchCount()) {
        pos = -1;
        strNum = 0;
        return false;
    }
    const TListSaveRecTyp& r = m_matches[static_cast<std::size_t>(m_nextMatch++)];
    pos = r.Position;
    strNum = r.StrNum;
    return true;
}

bool TMultiTurboSearchObj::PERFORM_FILE_SEARCH()
{
    m_cancel = false;
    m_found = false;
    m_matches.clear();
    m_nextMatch = 0;
    Progress(false, 0);
    if (!m_cancel && m_highest >= 0 && m_fileOpen) {
        ResetFoundTable();
        m_resume = 0;
        while (!m_cancel && READ_FILEBLOCK(kTurboBlockSize)) {
            for (int i = 0; i <= m_highest && !m_cancel; ++i) {
                if (m_progress) {
                    Progress(false, Percent());
                    ProcessMessages();
                    if (m_cancel)
                        break;
                }
                DoSearch(i, m_bufferOffset, StartIndex(m_patterns[i].Length), m_bufferBytes);
                m_lastSearched = i;
            }
            if (m_fileEnd)
                break;
        }
    }
    const bool result = Judge();
    Progress(false, 100);
    return result;
}

bool TMultiTurboSearchObj::Judge() const
{
    bool anyMust = false, allMust = true, anyCan = false, someCan = false;
    for (int i = 0; i <= m_highest; ++i) {
        const bool found = m_foundTable[static_cast<std::size_t>(i)];
        switch (m_combination[static_cast<std::size_t>(i)]) {
        case TSCombi_NOT:
            if (found)
                return false;
            break;
        case TSCombi_MUST:
            anyMust = true;
            allMust = allMust && found;
            break;
        case TSCombi_CAN:
            anyCan = true;
            someCan = someCan || found;
            break;
        }
    }
    if (anyMust)
        return allMust;
    return anyCan && someCan;
}

bool TMultiTurboSearchObj::PERFORM_BUFFER_SEARCH(const void* buffer, std::int64_t length)
{
    m_found = false;
    if (m_highest < 0 || length <= 0)
        return false;
    m_cancel = false;
    m_matches.clear();
    m_nextMatch = 0;
    Progress(false, 0);
    ResetFoundTable();
    const std::uint8_t* own = m_buffer;
    m_buffer = static_cast<const std::uint8_t*>(buffer);
    m_bufferOffset = 0;
    m_coveredEnd = 0;
    for (int i = 0; i <= m_highest && !m_cancel; ++i) {
        if (m_progress) {
            Progress(false, Percent());
            ProcessMessages();
            if (m_cancel)
                break;
        }
        DoSearch(i, 0, StartIndex(m_patterns[i].Length), length);
        m_lastSearched = i;
    }
    m_buffer = own;
    return m_found;
}

void TMultiTurboSearchObj::SORT_RESULTS()
{
    if (m_matches.empty() || m_sortType == TSSort_None)
        return;
    bool cancel = false;
    if (m_progress)
        m_progress(cancel, true, MatchCount(), 100);
    if (!cancel) {
        if (m_sortType == TSSort_Position) {
            std::stable_sort(m_matches.begin(), m_matches.end(),
                             [](const TListSaveRecTyp& a, const TListSaveRecTyp& b) { return a.Position < b.Position; });
        } else {
            // The string number compares as text ("10" before "2"), then
            // the position as a number.
            std::stable_sort(m_matches.begin(), m_matches.end(), [](const TListSaveRecTyp& a, const TListSaveRecTyp& b) {
                const std::string na = std::to_string(a.StrNum), nb = std::to_string(b.StrNum);
                return na != nb ? na < nb : a.Position < b.Position;
            });
        }
    }
    if (m_progress)
        m_progress(cancel, false, MatchCount(), 100);
}

void TMultiTurboSearchObj::CLOSE_FILE()
{
    CLOSE_LOCFILE();
    m_resume = -1;
    m_bufferOffset = -1;
    m_bufferBytes = 0;
}

void TMultiTurboSearchObj::DONE()
{
    CLOSE_FILE();
    FreeBuffer();
    m_matches.clear();
    m_highest = -1;
}

// ====================================================================== component entry points

std::int64_t TZipCommon::SearchFile(const std::string& fileName, const std::string& searchString)
{
    // The named file is searched; without a name, the component's archive.
    const std::string target = (fileName.empty() ? ArchiveFile() : fileName).substr(0, 255);
    TSingleFindSearchObj search;
    search.INIT_FILE_SEARCH(searchString.substr(0, 255), true, false);
    const std::int64_t pos = search.SEARCH_FILE_FIRSTMATCH(target);
    search.DONE();
    return pos;
}

bool TZipCommon::SearchFileEx(const std::string& fileName, const TStringList& strings)
{
    TMultiTurboSearchObj search;
    search.INIT_MULTIFILE_SEARCH(TSSort_None, true);
    for (const std::string& line : strings)
        if (!search.ADD_SEARCHSTRING(line.substr(0, 255), TSCombi_MUST, false))
            break;
    std::int64_t pos = -1;
    std::int32_t strNum = 0;
    const bool result = search.SEARCH_FILE_FIRSTMATCH(fileName.substr(0, 255), pos, strNum);
    search.DONE();
    return result;
}
