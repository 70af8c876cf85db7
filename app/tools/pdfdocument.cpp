#include "pdfdocument.h"

#include "pdffont.h"

#include "rtl/bytesearch.h"

#include <algorithm>
#include <functional>

namespace {

// An object stream is decoded up to this size; the objects it holds are
// dictionaries and arrays, far smaller.
constexpr std::size_t kMaxObjectStream = 64u << 20;
// References lead to references at most this many steps.
constexpr int kMaxIndirection = 8;
// The page tree nests at most this deep.
constexpr int kMaxTreeDepth = 64;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return PdfIsWhitespace(static_cast<std::uint8_t>(c)); }

bool ReadNumber(std::string_view digits, std::uint32_t& value)
{
    if (digits.empty() || digits.size() > 10)
        return false;
    std::uint64_t v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

// The object number before an "obj" keyword at i: "12 0 obj". False when
// the keyword is not preceded so (the end of "endobj", a word in text).
bool ObjectNumberBefore(std::string_view file, std::size_t i, std::uint32_t& num, std::size_t& start)
{
    std::size_t j = i;
    if (j == 0 || !IsSpace(file[j - 1]))
        return false;
    while (j > 0 && IsSpace(file[j - 1]))
        --j;
    const std::size_t genEnd = j;
    while (j > 0 && IsDigit(file[j - 1]))
        --j;
    if (j == genEnd || j == 0 || !IsSpace(file[j - 1]))
        return false;
    while (j > 0 && IsSpace(file[j - 1]))
        --j;
    const std::size_t numEnd = j;
    while (j > 0 && IsDigit(file[j - 1]))
        --j;
    if (j == numEnd)
        return false;
    if (j > 0 && !IsSpace(file[j - 1]) && !PdfIsDelimiter(static_cast<std::uint8_t>(file[j - 1])))
        return false;
    start = j;
    return ReadNumber(file.substr(j, numEnd - j), num);
}

// "endstream" stands at pos, after at most an end of line.
bool EndstreamAt(std::string_view file, std::size_t pos)
{
    while (pos < file.size() && (file[pos] == '\r' || file[pos] == '\n') )
        ++pos;
    return file.substr(pos, 9) == "endstream";
}

} // namespace

TPdfDocument::TPdfDocument(std::string_view file) : m_file(file)
{
    Scan();
    ReadObjectStreams();
    ReadTrailer();
}

TPdfDocument::~TPdfDocument() = default;

std::size_t TPdfDocument::ReadObject(std::size_t pos, TEntry& entry) const
{
    TPdfLexer lexer(m_file, pos);
    if (!ParsePdfObject(lexer, entry.Object))
        return lexer.Pos() > pos ? lexer.Pos() : pos + 1;
    const std::size_t after = lexer.Pos();
    if (!entry.Object.IsDict())
        return after;
    if (lexer.Next() != TPdfLexer::TToken::Keyword || lexer.Text() != "stream")
        return after;
    // The data begins after the end of line that follows "stream".
    std::size_t start = lexer.Pos();
    if (m_file.substr(start, 2) == "\r\n")
        start += 2;
    else if (start < m_file.size() && (m_file[start] == '\n' || m_file[start] == '\r'))
        start += 1;
    entry.Stream = true;
    entry.DataStart = start;
    // The length the dictionary gives, when it is a number that leads to
    // "endstream"; else the data runs to the next "endstream" (a length
    // given by reference, or a wrong one).
    const TPdfObject& length = entry.Object.Get("Length");
    std::size_t end = std::string_view::npos;
    if (length.IsNumber() && length.Number >= 0 && length.Number <= static_cast<double>(m_file.size() - start)) {
        const std::size_t candidate = start + static_cast<std::size_t>(length.Number);
        if (EndstreamAt(m_file, candidate))
            end = candidate;
    }
    if (end == std::string_view::npos) {
        const std::size_t found = FindBytes(m_file.substr(start), "endstream");
        if (found == std::string_view::npos) {
            // A file cut short: its last stream runs to the end.
            entry.DataEnd = m_file.size();
            return m_file.size();
        }
        end = start + found;
        if (end > start && m_file[end - 1] == '\n')
            --end;
        if (end > start && m_file[end - 1] == '\r')
            --end;
    }
    entry.DataEnd = end;
    const std::size_t keyword = FindBytes(m_file.substr(end), "endstream");
    return keyword == std::string_view::npos ? m_file.size() : end + keyword + 9;
}

void TPdfDocument::Scan()
{
    std::size_t pos = 0;
    while (pos < m_file.size()) {
        const std::size_t found = FindBytes(m_file.substr(pos), "obj");
        if (found == std::string_view::npos)
            return;
        const std::size_t i = pos + found;
        const std::size_t after = i + 3;
        std::uint32_t num = 0;
        std::size_t start = 0;
        if ((after < m_file.size() && !IsSpace(m_file[after]) && !PdfIsDelimiter(static_cast<std::uint8_t>(m_file[after])))
            || !ObjectNumberBefore(m_file, i, num, start)) {
            pos = after;
            continue;
        }
        TEntry entry;
        entry.Offset = start;
        pos = std::max(ReadObject(after, entry), after);
        // A later definition (an update appended to the file) replaces an
        // earlier one.
        m_objects[num] = std::move(entry);
    }
}

void TPdfDocument::ReadObjectStreams()
{
    std::vector<std::uint32_t> streams;
    for (const auto& [num, entry] : m_objects)
        if (entry.Stream && entry.Object.Get("Type").IsName("ObjStm"))
            streams.push_back(num);
    std::sort(streams.begin(), streams.end(), [this](std::uint32_t a, std::uint32_t b) {
        return m_objects[a].Offset < m_objects[b].Offset;
    });
    for (const std::uint32_t num : streams) {
        const TEntry& stream = m_objects[num];
        const std::size_t offset = stream.Offset;
        const std::int64_t count = stream.Object.Get("N").Int(0);
        const std::int64_t first = stream.Object.Get("First").Int(-1);
        std::string bytes;
        TPdfObject ref;
        ref.Kind = TPdfObject::TKind::Ref;
        ref.Ref.Num = num;
        if (count <= 0 || first < 0 || !StreamBytes(ref, kMaxObjectStream, bytes)
            || static_cast<std::size_t>(first) > bytes.size())
            continue;
        // The header: pairs of object number and offset after First.
        TPdfLexer header(std::string_view(bytes).substr(0, static_cast<std::size_t>(first)));
        std::vector<std::pair<std::uint32_t, std::size_t>> members;
        for (std::int64_t k = 0; k < count; ++k) {
            if (header.Next() != TPdfLexer::TToken::Number)
                break;
            const double objectNumber = header.Number();
            if (header.Next() != TPdfLexer::TToken::Number)
                break;
            const double at = header.Number();
            if (objectNumber < 0 || objectNumber > 0xFFFFFFFFu || at < 0 || at > static_cast<double>(bytes.size()))
                continue;
            members.emplace_back(static_cast<std::uint32_t>(objectNumber), static_cast<std::size_t>(at));
        }
        for (const auto& [member, at] : members) {
            const std::size_t from = static_cast<std::size_t>(first) + at;
            if (from >= bytes.size())
                continue;
            // An object defined after the stream, in an update, stays.
            const auto it = m_objects.find(member);
            if (it != m_objects.end() && it->second.Offset > offset)
                continue;
            TPdfLexer lexer(bytes, from);
            TEntry entry;
            entry.Offset = offset;
            if (ParsePdfObject(lexer, entry.Object))
                m_objects[member] = std::move(entry);
        }
    }
}

void TPdfDocument::ReadTrailer()
{
    // The trailer that stands last: a "trailer" dictionary, or a
    // cross-reference stream's dictionary.
    std::size_t best = 0;
    bool found = false;
    for (std::size_t pos = 0; pos < m_file.size();) {
        const std::size_t at = FindBytes(m_file.substr(pos), "trailer");
        if (at == std::string_view::npos)
            break;
        TPdfLexer lexer(m_file, pos + at + 7);
        TPdfObject dict;
        if (ParsePdfObject(lexer, dict) && dict.IsDict() && (!found || pos + at >= best)) {
            m_trailer = dict;
            best = pos + at;
            found = true;
        }
        pos += at + 7;
    }
    for (const auto& [num, entry] : m_objects)
        if (entry.Stream && entry.Object.Get("Type").IsName("XRef") && (!found || entry.Offset >= best)) {
            m_trailer = entry.Object;
            best = entry.Offset;
            found = true;
        }
    m_encrypted = !m_trailer.Get("Encrypt").IsNull();
    for (auto& [num, entry] : m_objects)
        if (entry.Object.IsDict())
            m_streamOfDict[entry.Object.Dict.get()] = num;
}

const TPdfDocument::TEntry* TPdfDocument::Entry(const TPdfObject& object) const
{
    if (object.IsRef()) {
        const auto it = m_objects.find(object.Ref.Num);
        return it == m_objects.end() ? nullptr : &it->second;
    }
    if (object.IsDict()) {
        const auto it = m_streamOfDict.find(object.Dict.get());
        if (it != m_streamOfDict.end())
            return &m_objects.at(it->second);
    }
    return nullptr;
}

const TPdfObject& TPdfDocument::Resolve(const TPdfObject& object) const
{
    const TPdfObject* o = &object;
    for (int step = 0; step < kMaxIndirection && o->IsRef(); ++step) {
        const auto it = m_objects.find(o->Ref.Num);
        if (it == m_objects.end())
            return PdfNull();
        o = &it->second.Object;
    }
    return o->IsRef() ? PdfNull() : *o;
}

bool TPdfDocument::IsStream(const TPdfObject& object) const
{
    const TEntry* e = Entry(object);
    return e && e->Stream;
}

TPdfDecodeResult TPdfDocument::DecodeStream(const TPdfObject& stream, const TPdfSink& sink) const
{
    const TEntry* e = Entry(stream);
    if (!e || !e->Stream || e->DataEnd < e->DataStart)
        return TPdfDecodeResult::Unsupported;
    const std::string_view data = m_file.substr(e->DataStart, e->DataEnd - e->DataStart);
    TPdfObject filter = Resolve(e->Object.Get("Filter"));
    TPdfObject parms = Resolve(e->Object.Get("DecodeParms"));
    return DecodePdfStream(data, filter, parms, sink);
}

bool TPdfDocument::StreamBytes(const TPdfObject& stream, std::size_t limit, std::string& bytes) const
{
    bytes.clear();
    const TPdfDecodeResult r = DecodeStream(stream, [&](const std::uint8_t* d, std::size_t n) {
        const std::size_t take = std::min(n, limit - bytes.size());
        bytes.append(reinterpret_cast<const char*>(d), take);
        return bytes.size() < limit;
    });
    return r != TPdfDecodeResult::Unsupported;
}

std::vector<TPdfDocument::TPage> TPdfDocument::Pages() const
{
    const TPdfObject* catalog = &Resolve(m_trailer.Get("Root"));
    if (!catalog->IsDict()) {
        // No trailer that leads to it: the catalog that stands last.
        std::size_t best = 0;
        catalog = &PdfNull();
        for (const auto& [num, entry] : m_objects)
            if (entry.Object.Get("Type").IsName("Catalog") && (catalog->IsNull() || entry.Offset >= best)) {
                catalog = &entry.Object;
                best = entry.Offset;
            }
    }
    std::vector<TPage> pages;
    std::vector<const TPdfDict*> path;
    std::function<void(const TPdfObject&, const TPdfObject&)> walk = [&](const TPdfObject& ref, const TPdfObject& inherited) {
        const TPdfObject& node = Resolve(ref);
        if (!node.IsDict() || path.size() >= kMaxTreeDepth
            || std::find(path.begin(), path.end(), node.Dict.get()) != path.end())
            return;
        const TPdfObject& own = Resolve(node.Get("Resources"));
        const TPdfObject& resources = own.IsDict() ? own : inherited;
        const TPdfObject& kids = Resolve(node.Get("Kids"));
        if (node.Get("Type").IsName("Page") || !kids.IsArray()) {
            pages.push_back({node, resources});
            return;
        }
        path.push_back(node.Dict.get());
        for (const TPdfObject& kid : kids.Elements())
            walk(kid, resources);
        path.pop_back();
    };
    walk(catalog->Get("Pages"), PdfNull());
    return pages;
}

TPdfObject TPdfDocument::AllFonts() const
{
    std::vector<const TEntry*> entries;
    for (const auto& [num, entry] : m_objects)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const TEntry* a, const TEntry* b) { return a->Offset < b->Offset; });
    auto fonts = std::make_shared<TPdfDict>();
    auto take = [&](const TPdfObject& resources) {
        for (const auto& [name, font] : Resolve(resources.Get("Font")).IsDict() ? *Resolve(resources.Get("Font")).Dict : TPdfDict {}) {
            auto it = std::find_if(fonts->begin(), fonts->end(), [&key = name](const auto& f) { return f.first == key; });
            if (it == fonts->end())
                fonts->emplace_back(name, font);
            else
                it->second = font;
        }
    };
    for (const TEntry* e : entries) {
        if (!e->Object.IsDict())
            continue;
        take(e->Object);
        take(Resolve(e->Object.Get("Resources")));
    }
    TPdfObject result;
    result.Kind = TPdfObject::TKind::Dict;
    result.Dict = std::move(fonts);
    return result;
}

std::vector<TPdfObject> TPdfDocument::StreamsInFileOrder() const
{
    std::vector<std::pair<std::size_t, std::uint32_t>> streams;
    for (const auto& [num, entry] : m_objects)
        if (entry.Stream)
            streams.emplace_back(entry.DataStart, num);
    std::sort(streams.begin(), streams.end());
    std::vector<TPdfObject> refs;
    for (const auto& [at, num] : streams) {
        TPdfObject ref;
        ref.Kind = TPdfObject::TKind::Ref;
        ref.Ref.Num = num;
        refs.push_back(ref);
    }
    return refs;
}

std::shared_ptr<const TPdfFont> TPdfDocument::Font(const TPdfObject& fontRef) const
{
    const TPdfObject& dict = Resolve(fontRef);
    if (!dict.IsDict())
        return nullptr;
    if (fontRef.IsRef()) {
        auto& font = m_fonts[fontRef.Ref.Num];
        if (!font)
            font = TPdfFont::Load(dict, *this);
        return font;
    }
    auto& font = m_directFonts[dict.Dict.get()];
    if (!font)
        font = TPdfFont::Load(dict, *this);
    return font;
}
