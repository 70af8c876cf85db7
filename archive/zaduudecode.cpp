#include "archive/zaduudecode.h"

#include "archive/zadcrc.h"
#include "archive/zadhooks.h"
#include "rtl/sysutils.h"

#include <array>
#include <vector>

namespace {

constexpr int E_EOLNOTFOUND = 25178;
constexpr int E_UNEXPECTEDEOL = 25177;
constexpr int E_LINEBEFOREBEGIN = 25241;
// A full data line is 61 characters; one running on past this is damaged.
constexpr std::size_t kLongestDataLine = 257;
// How many lines DecodeStreamToStream looks through for the first full line.
constexpr int kStreamSearchLines = 148;
constexpr std::size_t kOutputSize = 64 * 1024;

// 6-bit values by character, -1 for characters outside the alphabet.
struct TAlphabets {
    std::array<std::int8_t, 256> uu{}, xx{}, b64{};
    TAlphabets()
    {
        for (int c = 0; c < 256; ++c) {
            const char ch = static_cast<char>(c);
            uu[c] = static_cast<std::int8_t>(UUValue(ch));
            xx[c] = static_cast<std::int8_t>(XXValue(ch));
            b64[c] = -1;
        }
        const char* b = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            b64[static_cast<std::uint8_t>(b[i])] = static_cast<std::int8_t>(i);
    }
};
const TAlphabets& Alphabets()
{
    static const TAlphabets a;
    return a;
}

bool IsEndLine(const std::string& line) { return SameText(Trim(line), "end"); }

bool IsBase64Line(const std::string& line)
{
    if (line.empty())
        return false;
    for (char c : line)
        if (!IsBase64Char(c) && c != '=')
            return false;
    return true;
}

// The mode digits of a "begin" start line.
std::string StartMode(const std::string& line)
{
    std::size_t at = 6;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9')
        ++at;
    return line.size() > 6 ? line.substr(6, at - 6) : std::string();
}

// Whether a line reads as a counted data line of an alphabet: its count
// and the characters it needs for that count are all in it.
bool FitsCounted(const std::string& line, const std::array<std::int8_t, 256>& t)
{
    if (line.empty() || t[static_cast<std::uint8_t>(line[0])] < 0)
        return false;
    const std::size_t needed = (static_cast<std::size_t>(t[static_cast<std::uint8_t>(line[0])]) + 2) / 3 * 4;
    if (line.size() - 1 < needed)
        return false;
    for (std::size_t i = 1; i <= needed; ++i)
        if (t[static_cast<std::uint8_t>(line[i])] < 0)
            return false;
    return true;
}

bool StartsWith(const std::string& line, const char* word) { return line.rfind(word, 0) == 0; }

// A decode table of a 64-character alphabet given by the text ("table" or
// "charmap" lines): the first occurrence of a character wins; a blank
// always counts as zero, as mailers turn trailing zero characters into blanks.
bool BuildAlphabet(const std::string& alphabet, std::array<std::int8_t, 256>& table)
{
    if (alphabet.size() != 64)
        return false;
    table.fill(-1);
    for (int i = 63; i >= 0; --i)
        table[static_cast<std::uint8_t>(alphabet[static_cast<std::size_t>(i)])] = static_cast<std::int8_t>(i);
    table[' '] = 0;
    return true;
}

// "size N" before a start line states the decoded size. Only a line that
// is the keyword and one word counts, so that prose beginning with "size"
// is passed over.
enum class TSizeLine { None, Number, Bad };
TSizeLine ReadSizeLine(const std::string& line)
{
    if (!StartsWith(line, "size "))
        return TSizeLine::None;
    const std::string word = Trim(line.substr(5));
    if (word.empty() || word.find_first_of(" \t") != std::string::npos)
        return TSizeLine::None;
    for (char c : word)
        if (c < '0' || c > '9')
            return TSizeLine::Bad;
    return TSizeLine::Number;
}

// A uuencoded or xxencoded line: its first character counts the bytes it
// carries, the others give them, four characters for three bytes.
void DecodeCountedLine(const std::string& line, const std::array<std::int8_t, 256>& t, std::vector<std::uint8_t>& out)
{
    const int n = line.empty() ? 0 : t[static_cast<std::uint8_t>(line[0])];
    // Characters missing at the end of a line (blanks that a mailer cut)
    // count as zero values.
    const auto at = [&](std::size_t i) {
        return i < line.size() ? std::max<int>(t[static_cast<std::uint8_t>(line[i])], 0) : 0;
    };
    for (int done = 0, i = 1; done < n; done += 3, i += 4) {
        const int a = at(i), b = at(i + 1), c = at(i + 2), d = at(i + 3);
        const std::uint8_t bytes[3] = {static_cast<std::uint8_t>((a << 2) | (b >> 4)),
                                       static_cast<std::uint8_t>((b << 4) | (c >> 2)),
                                       static_cast<std::uint8_t>((c << 6) | d)};
        out.insert(out.end(), bytes, bytes + std::min(3, n - done));
    }
}

// Base64 lines of one file: the bits run on from line to line, so a line
// of any length decodes.
struct TBase64Lines {
    std::uint32_t acc = 0;
    int bits = 0;
    void Line(const std::string& line, std::vector<std::uint8_t>& out)
    {
        for (char ch : line) {
            const int v = Alphabets().b64[static_cast<std::uint8_t>(ch)];
            if (v < 0)
                continue;  // '=' padding: the bits left over are dropped
            acc = (acc << 6) | static_cast<std::uint32_t>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<std::uint8_t>(acc >> bits));
            }
        }
    }
};

bool WriteAll(TStream32& out, const std::vector<std::uint8_t>& bytes)
{
    const auto n = static_cast<std::int64_t>(bytes.size());
    return n == 0 || out.Write(bytes.data(), n) == n;
}

} // namespace

std::int32_t TUUDecode::DecodeBase64(const char* source, std::int32_t count, TStream32& outStream)
{
    const TAlphabets& tab = Alphabets();
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(std::max(count, 0)) / 4 * 3);
    std::int32_t written = 0;
    int v[4] = {0, 0, 0, 0};
    for (std::int32_t i = 0; i + 4 <= count; i += 4) {
        bool pad[4];
        for (int k = 0; k < 4; ++k) {
            const char ch = source[i + k];
            pad[k] = ch == '=';
            const int value = tab.b64[static_cast<std::uint8_t>(ch)];
            if (value >= 0)
                v[k] = value;  // a foreign character keeps the position's last value
        }
        const int n = pad[2] ? 1 : pad[3] ? 2 : pad[0] ? 0 : 3;
        const std::uint8_t group[3] = {static_cast<std::uint8_t>((v[0] << 2) | (v[1] >> 4)),
                                       static_cast<std::uint8_t>((v[1] << 4) | (v[2] >> 2)),
                                       static_cast<std::uint8_t>((v[2] << 6) | v[3])};
        bytes.insert(bytes.end(), group, group + n);
        written += n;
    }
    return WriteAll(outStream, bytes) ? written : 0;
}

bool TUUDecode::DecodeStreamToStream(TStream32& inStream, TStream32& outStream, TDecodeMethod method)
{
    // Bare encoded lines, with no start line: the data begins at the first
    // full line of the method (61 characters led by "M" or "h" for 45
    // bytes, 76 Base64 characters).
    const TAlphabets& tab = Alphabets();
    const bool counted = method != B64Decode;
    const char lead = method == uudecode ? 'M' : 'h';
    const std::size_t full = counted ? 61 : 76;
    TTextLineReader lines(inStream, 0);
    std::string line;
    bool found = false;
    for (int examined = 0; examined < kStreamSearchLines && lines.Next(line); ++examined) {
        if (counted && examined == 0 && (line.empty() || (line[0] != 'M' && line[0] != 'h'))) {
            RaiseErrorStr(ArchiveFile(), "", VolumeName, E_UNSUPPORTEDMETHOD);
            return false;
        }
        if (line.size() == full && (!counted || line[0] == lead) && (counted || IsBase64Line(line))) {
            found = true;
            break;
        }
    }
    if (!found)
        return false;
    Algorithm = method;
    std::vector<std::uint8_t> bytes;
    TBase64Lines base64;
    bool ended = !counted;
    do {
        if (counted) {
            if (IsEndLine(line)) {
                ended = true;
                break;
            }
            DecodeCountedLine(line, method == uudecode ? tab.uu : tab.xx, bytes);
        } else {
            if (!IsBase64Line(line))
                break;
            base64.Line(line, bytes);
        }
        if (bytes.size() >= kOutputSize) {
            if (!WriteAll(outStream, bytes))
                return false;
            bytes.clear();
        }
    } while (lines.Next(line));
    if (lines.Overlong())
        return false;
    const bool wrote = WriteAll(outStream, bytes);
    outStream.Seek(0, soBeginning);
    return wrote && ended;
}

struct TUUDecode::TInput {
    std::unique_ptr<TStream32> part;  // a later part of a split set
    std::unique_ptr<TTextLineReader> lines;
    int volume = 0;
    std::int64_t consumed = 0;
    bool Next(std::string& line)
    {
        if (!lines->Next(line))
            return false;
        consumed += static_cast<std::int64_t>(line.size()) + 1;
        return true;
    }
};

TUUDecode::TUUDecode(TComponent* owner) : TUnBase(owner) {}
TUUDecode::~TUUDecode() = default;

bool TUUDecode::SupportsType(TArcType type) const { return type == atUUE || type == atB64; }

void TUUDecode::_Extract(TStream32*& inStream, TStream32* outStream)
{
    if (!inStream)
        return;
    try {
        m_in = std::make_unique<TInput>();
        m_in->lines = std::make_unique<TTextLineReader>(*inStream, 0);
        HeaderList = std::make_unique<TUnBaseHeaderObj>();
        TotalPackedSize = TotalUnpackedSize = RemainingUnpackedSize = inStream->Size();
        std::string line;
        bool pending = false;
        int searched = 0;  // lines read since the last file, looking for a start line
        m_custom.reset();
        while (!GetCancel() && !DiskFull) {
            // Between files, prose lines of any length are passed over.
            m_in->lines->SkipLongLines = true;
            if (!pending && !m_in->Next(line))
                break;
            pending = false;
            if (++searched > MaxHeaderLines && MaxHeaderLines > 0)
                break;
            if (ReadHeaderLine(line))
                continue;
            if (DiskFull || GetCancel() || m_badHeader)
                break;
            TTextMarker marker = FindTextMarker(line.data(), static_cast<std::int32_t>(line.size()), true);
            if (marker.kind == TTextEncoding::None &&
                FindTextMarker(line.data(), static_cast<std::int32_t>(line.size()), false).kind == TTextEncoding::Base64Mime) {
                // A MIME part's encoding line: the next line names the file.
                std::string next;
                if (!m_in->Next(next))
                    break;
                const std::string two = line + "\n" + next + "\n";
                marker = FindTextMarker(two.data(), static_cast<std::int32_t>(two.size()), true);
                if (marker.kind != TTextEncoding::Base64Mime) {
                    line = next;
                    pending = true;
                    continue;
                }
            }
            if (marker.kind == TTextEncoding::None)
                continue;
            searched = 0;
            const bool goOn = DecodeFile(marker, outStream, line, pending);
            m_custom.reset();
            if (!goOn)
                break;
        }
    } catch (...) {
        // The count so far stands.
    }
    m_in.reset();
}

bool TUUDecode::ReadHeaderLine(const std::string& line)
{
    m_badHeader = false;
    std::string alphabet;
    if (line == "table") {
        // The alphabet follows on two lines of 32 characters.
        std::string first, second;
        if (!m_in->Next(first) || !m_in->Next(second) || first.size() < 32 || second.size() < 32)
            m_badHeader = true;
        else
            alphabet = first.substr(0, 32) + second.substr(0, 32);
    } else if (StartsWith(line, "charmap ")) {
        alphabet = line.substr(8);
    } else {
        const TSizeLine size = ReadSizeLine(line);
        m_badHeader = size == TSizeLine::Bad;
        if (size == TSizeLine::None)
            return false;
    }
    if (!alphabet.empty()) {
        m_custom = std::make_unique<std::array<std::int8_t, 256>>();
        m_badHeader = !BuildAlphabet(alphabet, *m_custom);
    }
    if (m_badHeader) {
        RaiseErrorStr(ArchiveFile(), line, VolumeName, E_BADHEADR);
        return false;
    }
    return true;
}

bool TUUDecode::DecodeFile(const TTextMarker& marker, TStream32* outStream, std::string& line, bool& pending)
{
    // Mode 999 marks a set of ZIP parts: each text part carries one ZIP
    // part, a file of its own named by the text part's start line.
    const bool zipParts = marker.kind == TTextEncoding::UU && StartMode(line) == "999";
    m_in->lines->SkipLongLines = false;
    if (zipParts)
        ArcType = atZipMV;
    Algorithm = marker.kind == TTextEncoding::UU ? uudecode : B64Decode;

    std::vector<std::uint8_t> buffer;
    buffer.reserve(kOutputSize + 64);
    bool refused = false, extract = false, opened = false, writeFailed = false, selected = true;
    TStream32* out = outStream;
    // With nothing to write, the lines are still passed over, so that the
    // next file is found after them.
    const auto beginFile = [&](const std::string& name) {
        StoredName = name;
        InflateRec = TInflateRec{};
        out = outStream;
        opened = false;
        writeFailed = false;
        // The masks select files as the lister names them; the others are
        // read over.
        selected = CheckWildCard2(this, StoredName, FileSpec, RecurseDirs, &ExcludeSpec);
        if (!selected) {
            refused = extract = false;
            return;
        }
        if (FileAccessMethod == faFile)
            SetFilename(StoredName);
        else
            Filename = StoredName;
        refused = FilenameRefused;
        extract = !refused && doOnBegin(false);
        if (extract) {
            opened = Open_OutFile(out, Filename, StoredName);
            if (!opened) {
                RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
                FailEntry(InflateRec);
            }
        }
    };
    const auto flush = [&] {
        if (opened && !buffer.empty() && !writeFailed) {
            WriteBlockProc(out, buffer.data(), false, 0, static_cast<std::int32_t>(buffer.size()), dtData);
            writeFailed = EntryWriteFailed || DiskFull;
        }
        buffer.clear();
    };
    const auto finishFile = [&](bool reached) {
        flush();
        if (!reached && !GetCancel() && selected)
            RaiseErrorStr(extract ? Filename : StoredName, "", VolumeName, E_EOLNOTFOUND);
        const bool good = reached && !writeFailed && !GetCancel() && opened;
        if (opened) {
            if (good) {
                CloseAndSetDate(out, Filename, ArchiveDate, 0);
            } else {
                FailEntry(InflateRec);
                DiscardOutput(out, Filename);
            }
            if (FileAccessMethod == faFile && out && out != outStream)
                delete out;
        }
        if (refused || opened || (extract && !opened)) {
            if (!good)
                ForceCrcFail = true;
            Crc32Val = 0;
            doOnEnd(32, 0);
        }
    };
    beginFile(marker.name);

    const TAlphabets& tab = Alphabets();
    const std::array<std::int8_t, 256>* counted = nullptr;  // uu or xx, from the first data line
    bool mimeHeader = marker.kind == TTextEncoding::Base64Mime;
    TBase64Lines base64;
    bool reached = false;
    std::int64_t lineCount = 0;
    char lead = 0;           // the first character of the first data line
    int fullLength = 0;      // the bytes that character stands for
    bool partStart = false;  // before the data of a later part
    for (;;) {
        if (GetCancel())
            break;
        if (!m_in->Next(line)) {
            // The text ends before the data: the next part of a split set.
            if (m_in->lines->Overlong() || !InputIsArchiveFile || marker.kind == TTextEncoding::Base64Mime)
                break;
            std::string name = GetNextVolName(ArchiveFile(), ++m_in->volume, NextVolumeName, VolumeLongFilenames);
            if (name.empty() || (!OnNextVolume && !FileExists(name)) || !GetNextVolume(name, m_in->volume))
                break;
            auto part = std::make_unique<TFileStream32>(name, fmOpenRead | fmShareDenyWrite);
            if (!part->Valid()) {
                RaiseErrorStr(name, "", IntToStr(m_in->volume), E_OPENERR);
                break;
            }
            VolumeName = name;
            partStart = marker.kind == TTextEncoding::UU && lead != 0;
            m_in->lines = std::make_unique<TTextLineReader>(*part, 0);
            m_in->part = std::move(part);
            continue;
        }
        if (++lineCount % 4096 == 0) {
            doBranchProgress(m_in->consumed, TotalUnpackedSize, TotalUnpackedSize);
            ProcessMessages();
        }
        if (marker.kind == TTextEncoding::UU) {
            if (IsEndLine(line)) {
                reached = true;
                break;
            }
            if (line.empty())
                continue;
            if (partStart) {
                // A later part may repeat the start line or carry other
                // text before its data; data with no start line is noted.
                const TTextMarker start = FindTextMarker(line.data(), static_cast<std::int32_t>(line.size()), true);
                if (start.kind == TTextEncoding::UU) {
                    partStart = false;
                    if (zipParts) {
                        // The ZIP part before ended with its text part.
                        finishFile(true);
                        beginFile(start.name);
                    }
                    continue;
                }
                if (!FitsCounted(line, *counted))
                    continue;
                partStart = false;
                RaiseErrorStr(VolumeName,
                              "line starting with " + std::to_string(static_cast<std::uint8_t>(line[0])) +
                                  " found before \"begin\"",
                              "0", E_LINEBEFOREBEGIN);
            }
            if (!counted && m_custom) {
                counted = m_custom.get();
            } else if (!counted) {
                counted = FitsCounted(line, tab.uu) ? &tab.uu : &tab.xx;
                Algorithm = counted == &tab.uu ? uudecode : xxdecode;
            }
            if (!lead) {
                lead = line[0];
                fullLength = (*counted)[static_cast<std::uint8_t>(lead)];
            }
            const auto inAlphabet = [&](std::size_t i) {
                return i < line.size() && (*counted)[static_cast<std::uint8_t>(line[i])] >= 0;
            };
            if (line.size() > kLongestDataLine && (*counted)[static_cast<std::uint8_t>(line[0])] == fullLength &&
                inAlphabet(kLongestDataLine - 1) && inAlphabet(kLongestDataLine))
                RaiseErrorStr(VolumeName, "", "0", E_UNEXPECTEDEOL);
            DecodeCountedLine(line, *counted, buffer);
        } else {
            if (mimeHeader) {
                // The part's remaining header lines end at an empty line.
                mimeHeader = !line.empty();
                continue;
            }
            if (marker.kind == TTextEncoding::Base64Begin && line == "====") {
                reached = true;
                break;
            }
            if (!IsBase64Line(line)) {
                // A MIME part's data ends at any line that is no Base64 (its
                // boundary, an empty line), which may start the next file.
                if (marker.kind == TTextEncoding::Base64Mime) {
                    reached = true;
                    pending = true;
                }
                break;
            }
            base64.Line(line, buffer);
        }
        if (buffer.size() >= kOutputSize)
            flush();
        if (writeFailed)
            break;
    }
    finishFile(reached);
    return !DiskFull && !GetCancel();
}
