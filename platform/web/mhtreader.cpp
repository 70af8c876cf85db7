#include "mhtreader.h"

#include "weburl.h"

#include "rtl/sysutils.h"

#include <cstddef>
#include <map>

namespace {

// Nesting and part limits keep a hostile file from taking unbounded time
// and memory; real pages nest two levels and carry hundreds of parts.
constexpr int kMaxDepth = 8;
constexpr size_t kMaxParts = 10000;
constexpr size_t kMaxHeaders = 1000;

struct Header {
    std::string name; // lower-cased
    std::string value;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimView(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

bool IsTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// One line from pos: its text without the line end, and the position after it.
std::string_view NextLine(std::string_view data, size_t& pos)
{
    const size_t eol = data.find('\n', pos);
    const size_t end = eol == std::string_view::npos ? data.size() : eol;
    std::string_view line = data.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    pos = eol == std::string_view::npos ? data.size() : eol + 1;
    return line;
}

// Whether a line is a header field ("Name: value").
bool IsHeaderLine(std::string_view line)
{
    const size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos)
        return false;
    for (size_t i = 0; i < colon; ++i)
        if (!IsTokenChar(line[i]))
            return false;
    return true;
}

// Splits an entity into its header block and its body (after the empty line).
void SplitEntity(std::string_view data, std::string_view& headers, std::string_view& body)
{
    size_t pos = 0;
    while (pos < data.size()) {
        const size_t start = pos;
        if (NextLine(data, pos).empty()) {
            headers = data.substr(0, start);
            body = data.substr(pos);
            return;
        }
    }
    headers = data;
    body = {};
}

std::vector<Header> ParseHeaders(std::string_view block)
{
    std::vector<Header> out;
    size_t pos = 0;
    while (pos < block.size()) {
        const std::string_view line = NextLine(block, pos);
        if (line.empty())
            break;
        if (IsBlank(line.front())) {
            // A folded line continues the field above it.
            if (!out.empty()) {
                out.back().value += ' ';
                out.back().value += TrimView(line);
            }
            continue;
        }
        if (!IsHeaderLine(line) || out.size() >= kMaxHeaders)
            continue;
        const size_t colon = line.find(':');
        out.push_back({LowerCase(line.substr(0, colon)), std::string(TrimView(line.substr(colon + 1)))});
    }
    return out;
}

std::string HeaderValue(const std::vector<Header>& headers, std::string_view name)
{
    for (const Header& h : headers)
        if (h.name == name)
            return h.value;
    return {};
}

struct ContentType {
    std::string type;
    std::map<std::string, std::string> params;
};

// "type/subtype; name=value; name="quoted \" value""
ContentType ParseContentType(std::string_view v)
{
    ContentType ct;
    size_t i = v.find(';');
    ct.type = LowerCase(TrimView(v.substr(0, i)));
    while (i != std::string_view::npos && i < v.size()) {
        ++i;
        while (i < v.size() && IsBlank(v[i]))
            ++i;
        const size_t eq = v.find('=', i);
        if (eq == std::string_view::npos)
            break;
        const std::string name = LowerCase(TrimView(v.substr(i, eq - i)));
        i = eq + 1;
        while (i < v.size() && IsBlank(v[i]))
            ++i;
        std::string value;
        if (i < v.size() && v[i] == '"') {
            ++i;
            while (i < v.size() && v[i] != '"') {
                if (v[i] == '\\' && i + 1 < v.size())
                    ++i;
                value += v[i++];
            }
            i = v.find(';', i);
        } else {
            const size_t end = v.find(';', i);
            value = std::string(TrimView(v.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i)));
            i = end;
        }
        if (!name.empty())
            ct.params.emplace(name, value);
    }
    if (ct.type.empty())
        ct.type = "text/plain";
    return ct;
}

std::string Param(const ContentType& ct, const std::string& name)
{
    const auto it = ct.params.find(name);
    return it == ct.params.end() ? std::string() : it->second;
}

std::string StripAngles(std::string_view id)
{
    id = TrimView(id);
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
        id = id.substr(1, id.size() - 2);
    return std::string(id);
}

// The bodies of a multipart entity: the text between delimiter lines
// ("--boundary" at the start of a line), without the line end before each
// delimiter. The preamble before the first and everything after the
// closing delimiter are dropped.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary)
{
    std::vector<std::string_view> parts;
    const std::string delimiter = "--" + boundary;
    size_t search = 0;
    size_t partStart = std::string_view::npos;
    while (search <= body.size()) {
        const size_t at = body.find(delimiter, search);
        if (at == std::string_view::npos)
            break;
        search = at + 1;
        if (at != 0 && body[at - 1] != '\n')
            continue;
        size_t after = at + delimiter.size();
        const bool closing = body.compare(after, 2, "--") == 0;
        if (closing)
            after += 2;
        // Only blanks may follow a delimiter on its line.
        size_t eol = after;
        while (eol < body.size() && (IsBlank(body[eol]) || body[eol] == '\r'))
            ++eol;
        if (eol < body.size() && body[eol] != '\n')
            continue;
        if (partStart != std::string_view::npos) {
            size_t end = at;
            if (end > partStart && body[end - 1] == '\n')
                --end;
            if (end > partStart && body[end - 1] == '\r')
                --end;
            parts.push_back(body.substr(partStart, end - partStart));
            if (parts.size() >= kMaxParts)
                return parts;
        }
        if (closing)
            return parts;
        partStart = eol < body.size() ? eol + 1 : body.size();
        search = partStart;
    }
    // A file cut off before its closing delimiter keeps its last part.
    if (partStart != std::string_view::npos && partStart < body.size())
        parts.push_back(body.substr(partStart));
    return parts;
}

} // namespace

std::string DecodeBase64(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3);
    unsigned int acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/' || c == '_')
            v = 63;
        else if (c == '=')
            break;
        else
            continue; // line ends and other noise between the groups
        acc = (acc << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((acc >> bits) & 0xFF);
        }
    }
    return out;
}

std::string DecodeQuotedPrintable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '=') {
            out += c;
            continue;
        }
        // "=" at the end of a line is a soft line break.
        if (i + 1 < text.size() && text[i + 1] == '\n') {
            i += 1;
            continue;
        }
        if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
            continue;
        }
        char byte;
        if (HexByteAt(text, i + 1, byte)) {
            out += byte;
            i += 2;
            continue;
        }
        // A lone "=" that starts no escape is kept, as mail readers do.
        out += c;
    }
    return out;
}

bool TMhtArchive::Read(std::string_view data, std::string* error)
{
    m_parts.clear();
    m_startId.clear();
    std::string_view headers;
    std::string_view body;
    size_t pos = 0;
    const std::string_view firstLine = NextLine(data, pos);
    if (!IsHeaderLine(firstLine)) {
        // No MIME header at all: the bytes are the page itself.
        if (data.empty()) {
            if (error)
                *error = "The file is empty.";
            return false;
        }
        m_parts.push_back({"text/html", "", "", "", std::string(data)});
        return true;
    }
    SplitEntity(data, headers, body);
    const ContentType top = ParseContentType(HeaderValue(ParseHeaders(headers), "content-type"));
    m_startId = StripAngles(Param(top, "start"));
    ReadEntity(headers, body, 0);
    if (m_parts.empty()) {
        if (error)
            *error = "The file holds no part to show.";
        return false;
    }
    return true;
}

void TMhtArchive::ReadEntity(std::string_view headerBlock, std::string_view body, int depth)
{
    if (m_parts.size() >= kMaxParts)
        return;
    const std::vector<Header> headers = ParseHeaders(headerBlock);
    const ContentType ct = ParseContentType(HeaderValue(headers, "content-type"));
    const std::string boundary = Param(ct, "boundary");
    if (ct.type.compare(0, 10, "multipart/") == 0 && !boundary.empty()) {
        if (depth >= kMaxDepth)
            return;
        for (std::string_view part : SplitMultipart(body, boundary)) {
            std::string_view partHeaders;
            std::string_view partBody;
            SplitEntity(part, partHeaders, partBody);
            ReadEntity(partHeaders, partBody, depth + 1);
            if (m_parts.size() >= kMaxParts)
                return;
        }
        return;
    }
    TMhtPart part;
    part.ContentType = ct.type;
    part.Charset = LowerCase(Param(ct, "charset"));
    part.Location = std::string(TrimView(HeaderValue(headers, "content-location")));
    part.ContentId = StripAngles(HeaderValue(headers, "content-id"));
    const std::string encoding = LowerCase(TrimView(HeaderValue(headers, "content-transfer-encoding")));
    if (encoding == "base64")
        part.Body = DecodeBase64(body);
    else if (encoding == "quoted-printable")
        part.Body = DecodeQuotedPrintable(body);
    else
        part.Body = std::string(body);
    m_parts.push_back(std::move(part));
}

const TMhtPart* TMhtArchive::Root() const
{
    if (m_parts.empty())
        return nullptr;
    if (!m_startId.empty())
        for (const TMhtPart& p : m_parts)
            if (p.ContentId == m_startId)
                return &p;
    for (const TMhtPart& p : m_parts)
        if (p.ContentType == "text/html")
            return &p;
    return &m_parts.front();
}

const TMhtPart* TMhtArchive::Find(std::string_view reference, std::string_view baseLocation) const
{
    reference = TrimView(reference);
    if (reference.size() > 4 && LowerCase(reference.substr(0, 4)) == "cid:") {
        const std::string id = PercentDecode(StripAngles(reference.substr(4)));
        for (const TMhtPart& p : m_parts)
            if (!p.ContentId.empty() && p.ContentId == id)
                return &p;
        return nullptr;
    }
    const std::string_view ref = WithoutFragment(reference);
    if (ref.empty())
        return nullptr;
    std::vector<std::string> candidates {std::string(ref)};
    if (!baseLocation.empty())
        candidates.push_back(ResolveUrl(baseLocation, ref));
    // Exact first, then with escapes undone on both sides: writers differ in
    // what they escape in the page and in Content-Location.
    for (const std::string& c : candidates)
        for (const TMhtPart& p : m_parts)
            if (!p.Location.empty() && p.Location == c)
                return &p;
    for (const std::string& c : candidates) {
        const std::string decoded = PercentDecode(c);
        for (const TMhtPart& p : m_parts)
            if (!p.Location.empty() && PercentDecode(p.Location) == decoded)
                return &p;
    }
    return nullptr;
}
