#include "archive/zaduudecode.h"

#include "archive/zadcrc.h"
#include "archive/zadhooks.h"
#include "rtl/sysutils.h"

#include <array>
#include <vector>

namespace {

constexpr int E_EOLNOTFOUND = 25178;
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

// Whether a counted data line reads as uuencoding: its count and its
// characters fit that alphabet. Otherwise the file is xxencoded.
bool ReadsAsUU(const std::string& line)
{
    if (line.empty() || UUValue(line[0]) < 0)
        return false;
    const std::size_t needed = (static_cast<std::size_t>(UUValue(line[0])) + 2) / 3 * 4;
    if (line.size() - 1 < needed)
        return false;
    for (std::size_t i = 1; i <= needed; ++i)
        if (UUValue(line[i]) < 0)
            return false;
    return true;
}

} // namespace

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
        while (!GetCancel() && !DiskFull) {
            if (!pending && !m_in->Next(line))
                break;
            pending = false;
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
            if (!DecodeFile(marker, outStream, line, pending))
                break;
        }
    } catch (...) {
        // The count so far stands.
    }
    m_in.reset();
}

bool TUUDecode::DecodeFile(const TTextMarker& marker, TStream32* outStream, std::string& line, bool& pending)
{
    StoredName = marker.name;
    InflateRec = TInflateRec{};
    if (FileAccessMethod == faFile)
        SetFilename(StoredName);
    else
        Filename = StoredName;
    Algorithm = marker.kind == TTextEncoding::UU ? uudecode : B64Decode;

    // With nothing to write, the lines are still passed over, so that the
    // next file is found after them.
    const bool refused = FilenameRefused;
    const bool extract = !refused && doOnBegin(false);
    TStream32* out = outStream;
    bool opened = false;
    if (extract) {
        opened = Open_OutFile(out, Filename, StoredName);
        if (!opened) {
            RaiseErrorStr(Filename, "", VolumeName, E_OPENERR);
            FailEntry(InflateRec);
        }
    }
    std::vector<std::uint8_t> buffer;
    buffer.reserve(kOutputSize + 64);
    bool writeFailed = false;
    const auto flush = [&] {
        if (opened && !buffer.empty() && !writeFailed) {
            WriteBlockProc(out, buffer.data(), false, 0, static_cast<std::int32_t>(buffer.size()), dtData);
            writeFailed = EntryWriteFailed || DiskFull;
        }
        buffer.clear();
    };

    const TAlphabets& tab = Alphabets();
    const std::array<std::int8_t, 256>* counted = nullptr;  // uu or xx, from the first data line
    bool mimeHeader = marker.kind == TTextEncoding::Base64Mime;
    std::uint32_t acc = 0;
    int bits = 0;
    bool reached = false;
    std::int64_t lineCount = 0;
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
            if (!counted) {
                counted = ReadsAsUU(line) ? &tab.uu : &tab.xx;
                Algorithm = counted == &tab.uu ? uudecode : xxdecode;
            }
            const auto& t = *counted;
            const int n = t[static_cast<std::uint8_t>(line[0])];
            if (n <= 0)
                continue;
            // Characters missing at the end of a line (blanks that a mailer
            // cut) count as zero values.
            const auto at = [&](std::size_t i) {
                return i < line.size() ? std::max<int>(t[static_cast<std::uint8_t>(line[i])], 0) : 0;
            };
            for (int done = 0, i = 1; done < n; done += 3, i += 4) {
                const int a = at(i), b = at(i + 1), c = at(i + 2), d = at(i + 3);
                const std::uint8_t bytes[3] = {static_cast<std::uint8_t>((a << 2) | (b >> 4)),
                                               static_cast<std::uint8_t>((b << 4) | (c >> 2)),
                                               static_cast<std::uint8_t>((c << 6) | d)};
                buffer.insert(buffer.end(), bytes, bytes + std::min(3, n - done));
            }
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
            for (char ch : line) {
                const int v = tab.b64[static_cast<std::uint8_t>(ch)];
                if (v < 0)
                    continue;  // '=' padding: the bits left over are dropped
                acc = (acc << 6) | static_cast<std::uint32_t>(v);
                bits += 6;
                if (bits >= 8) {
                    bits -= 8;
                    buffer.push_back(static_cast<std::uint8_t>(acc >> bits));
                }
            }
        }
        if (buffer.size() >= kOutputSize)
            flush();
        if (writeFailed)
            break;
    }
    flush();
    if (!reached && !GetCancel())
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
    return !DiskFull && !GetCancel();
}
