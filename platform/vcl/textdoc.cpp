#include "textdoc.h"

#include "rtl/filereader.h"
#include "rtl/streams.h"
#include "rtl/sysutils.h"
#include "rtl/unicode.h"
#include "win/wintypes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

struct TTextDocument::Store {
    explicit Store(std::size_t capacity) : data(std::make_unique_for_overwrite<char[]>(capacity)), capacity(capacity) {}
    std::unique_ptr<char[]> data;
    std::size_t capacity;
};

struct TTextDocument::Chunk {
    std::shared_ptr<const Store> store;  // null: the bytes are read from the file when needed
    std::uint32_t offset = 0;            // where the bytes start in the store
    std::uint32_t size = 0;              // bytes of text
    std::int64_t fileOffset = -1;        // read from the file: where its bytes are
    std::uint32_t fileSize = 0;
    std::uint32_t breaks = 0;  // line breaks that start in the chunk, a leading LF counted as one
    std::uint32_t chars = 0;   // characters as the view counts them (a 4-byte sequence is 2)
    bool leadingLf = false;
    bool trailingCr = false;
    bool standIns = false;
};

struct TTextDocument::Batch {
    std::vector<Chunk> chunks;
    std::int64_t bytesRead = 0;
    bool last = false;
    TTextDocState endState = TTextDocState::Complete;
    std::string reason;
};

namespace {

constexpr std::size_t kFirstRead = 256 * 1024;
constexpr std::size_t kRead = 4 * 1024 * 1024;
// The reader stops holding a file once the machine has less than this left.
constexpr std::int64_t kMemoryReserve = std::int64_t(256) << 20;
// Joined chunks stay below this; neighbours that together stay below half
// of it are joined after an edit.
constexpr std::uint32_t kJoinBytes = TTextDocument::kChunkBytes / 2;

// What the counting sorts bytes into.
enum : unsigned char { kPlain, kLf, kCr, kControl, kHigh };

constexpr std::array<unsigned char, 256> MakeClasses()
{
    std::array<unsigned char, 256> t {};
    for (int c = 0; c < 256; ++c)
        t[c] = c >= 0x80 ? kHigh : c == '\n' ? kLf : c == '\r' ? kCr : c == '\t' || (c >= 0x20 && c < 0x7F) ? kPlain : kControl;
    return t;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

struct Counts {
    std::uint32_t breaks = 0;
    std::uint32_t chars = 0;
    bool standIns = false;
};

// Line breaks (a CR LF once, at its CR; an LF at 0 counted) and characters
// of bytes that begin and end at character boundaries.
Counts CountBytes(const unsigned char* p, std::size_t n)
{
    Counts c;
    std::size_t i = 0;
    while (i < n) {
        const unsigned char k = kClasses[p[i]];
        if (k == kPlain) {
            ++c.chars;
            ++i;
            continue;
        }
        switch (k) {
        case kLf:
            if (i == 0 || p[i - 1] != '\r')
                ++c.breaks;
            ++c.chars;
            ++i;
            break;
        case kCr:
            ++c.breaks;
            ++c.chars;
            ++i;
            break;
        case kControl:
            c.standIns = true;
            ++c.chars;
            ++i;
            break;
        default:
            if (const std::size_t len = Utf8SequenceAt(p, n, i)) {
                c.chars += len == 4 ? 2 : 1;
                i += len;
            } else {
                c.standIns = true;
                ++c.chars;
                ++i;
            }
        }
    }
    return c;
}

const unsigned char* U(const char* p) { return reinterpret_cast<const unsigned char*>(p); }

// A chunk boundary at or just before i (0 < i < n) that is a character
// boundary: a continuation byte is no boundary when a well-formed sequence
// that starts up to three bytes before covers it.
std::size_t AlignBack(const unsigned char* p, std::size_t n, std::size_t i)
{
    if (p[i] < 0x80 || p[i] >= 0xC0)
        return i;
    for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
        const unsigned char c = p[i - k];
        if (c >= 0xC0)
            return Utf8SequenceAt(p, n, i - k) > k ? i - k : i;
        if (c < 0x80)
            break;
    }
    return i;
}

// Where bytes read so far may be cut when more follow: before a lead byte in
// the last three whose sequence would need bytes not read yet.
std::size_t SafeEnd(const unsigned char* p, std::size_t n)
{
    for (std::size_t k = 1; k <= 3 && k <= n; ++k) {
        const unsigned char c = p[n - k];
        if (c >= 0xC0 && c < 0xF8) {
            const std::size_t declared = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
            return declared > k ? n - k : n;
        }
        if (c < 0x80 || c >= 0xF8)
            break;
    }
    return n;
}

// The end of a UTF-16LE piece at or before end (relative to the piece's
// even start): even, and not between the two halves of a surrogate pair.
std::size_t Utf16PieceEnd(const unsigned char* p, std::size_t end)
{
    end &= ~std::size_t {1};
    if (end >= 2) {
        const unsigned unit = p[end - 2] | (p[end - 1] << 8);
        if (unit >= 0xD800 && unit <= 0xDBFF)
            end -= 2;
    }
    return end;
}

// A size limit for the user: 2 GB for 2^31 - 1 bytes.
std::string SizeText(std::int64_t bytes)
{
    const std::int64_t rounded = bytes + 1;
    if (rounded >= (std::int64_t(1) << 30))
        return std::to_string(rounded >> 30) + " GB";
    if (rounded >= (std::int64_t(1) << 20))
        return std::to_string(rounded >> 20) + " MB";
    return std::to_string(rounded >> 10) + " KB";
}

TTextDocument::Chunk CountedChunk(TTextDocument::Chunk chunk, const unsigned char* p)
{
    const Counts c = CountBytes(p, chunk.size);
    chunk.breaks = c.breaks;
    chunk.chars = c.chars;
    chunk.standIns = c.standIns;
    chunk.leadingLf = chunk.size > 0 && p[0] == '\n';
    chunk.trailingCr = chunk.size > 0 && p[chunk.size - 1] == '\r';
    return chunk;
}

// Chunks over text held in a store of its own, cut at character boundaries.
std::vector<TTextDocument::Chunk> ChunksOf(std::string_view text)
{
    std::vector<TTextDocument::Chunk> out;
    if (text.empty())
        return out;
    auto store = std::make_shared<TTextDocument::Store>(text.size());
    std::memcpy(store->data.get(), text.data(), text.size());
    const unsigned char* p = U(store->data.get());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = std::min(text.size(), i + TTextDocument::kChunkBytes);
        if (end < text.size())
            end = AlignBack(p, text.size(), end);
        TTextDocument::Chunk chunk;
        chunk.store = store;
        chunk.offset = static_cast<std::uint32_t>(i);
        chunk.size = static_cast<std::uint32_t>(end - i);
        out.push_back(CountedChunk(std::move(chunk), p + i));
        i = end;
    }
    return out;
}

} // namespace

// ---- the reader thread

class TTextDocument::Reader {
public:
    Reader(std::shared_ptr<TFileReader> file, bool utf16, bool hold, std::int64_t start, std::function<void()> notify)
        : m_file(std::move(file)), m_utf16(utf16), m_hold(hold), m_start(start), m_notify(std::move(notify))
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~Reader()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Batch> Take()
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        std::vector<Batch> out(std::make_move_iterator(m_batches.begin()), std::make_move_iterator(m_batches.end()));
        m_batches.clear();
        return out;
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_done; });
    }

private:
    void Hand(Batch&& batch)
    {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            m_done = batch.last;
            m_batches.push_back(std::move(batch));
        }
        m_changed.notify_all();
        if (m_notify)
            m_notify();
    }
    void Finish(TTextDocState state, std::string reason, std::int64_t bytesRead)
    {
        Batch b;
        b.last = true;
        b.endState = state;
        b.reason = std::move(reason);
        b.bytesRead = bytesRead;
        Hand(std::move(b));
    }
    // Cuts raw bytes [0, n) of the file at pos into chunks; answers how many
    // bytes it used (the rest is read again with what follows).
    std::size_t Split(const unsigned char* raw, std::size_t n, bool more, std::int64_t pos,
        const std::shared_ptr<Store>& rawStore, std::vector<Chunk>& out)
    {
        std::shared_ptr<Store> converted;
        std::size_t used = 0;
        if (m_utf16 && m_hold)
            converted = std::make_shared<Store>(n / 2 * 3 + 4);
        std::string text;
        std::size_t i = 0;
        while (i < n) {
            std::size_t end = std::min(n, i + kChunkBytes);
            if (m_utf16) {
                if (end < n || more)
                    end = i + Utf16PieceEnd(raw + i, end - i);
            } else if (end < n) {
                end = AlignBack(raw, n, end);
            } else if (more) {
                end = i + SafeEnd(raw + i, end - i);
            }
            if (end <= i)
                break;
            Chunk chunk;
            const unsigned char* view = raw + i;
            std::size_t viewSize = end - i;
            if (m_utf16) {
                text = Utf16LeBytesToUtf8(raw + i, end - i);
                view = U(text.data());
                viewSize = text.size();
                if (converted) {
                    std::memcpy(converted->data.get() + used, text.data(), text.size());
                    chunk.store = converted;
                    chunk.offset = static_cast<std::uint32_t>(used);
                    used += text.size();
                }
            } else if (m_hold) {
                chunk.store = rawStore;
                chunk.offset = static_cast<std::uint32_t>(i);
            }
            if (!m_hold) {
                chunk.fileOffset = pos + static_cast<std::int64_t>(i);
                chunk.fileSize = static_cast<std::uint32_t>(end - i);
            }
            chunk.size = static_cast<std::uint32_t>(viewSize);
            if (chunk.size > 0)
                out.push_back(CountedChunk(std::move(chunk), view));
            i = end;
        }
        return i;
    }
    void Run()
    {
        const std::int64_t end = m_file->Size();
        std::int64_t pos = m_start;
        std::vector<char> scratch;
        std::int64_t sinceCheck = 0;
        try {
            while (pos < end) {
                if (m_stop)
                    return;
                const std::size_t want = static_cast<std::size_t>(
                    std::min<std::int64_t>(pos == m_start ? kFirstRead : kRead, end - pos));
                std::shared_ptr<Store> rawStore;
                char* buffer;
                if (m_hold && !m_utf16) {
                    rawStore = std::make_shared<Store>(want);
                    buffer = rawStore->data.get();
                } else {
                    scratch.resize(want);
                    buffer = scratch.data();
                }
                const std::size_t got = m_file->ReadSome(pos, buffer, want);
                const bool cutShort = got < want;
                Batch batch;
                const std::size_t used = Split(U(buffer), got, !cutShort && pos + static_cast<std::int64_t>(got) < end,
                    pos, rawStore, batch.chunks);
                pos += static_cast<std::int64_t>(used);
                batch.bytesRead = pos;
                Hand(std::move(batch));
                if (cutShort) {
                    Finish(TTextDocState::Failed,
                        "The file changed while it was read: the text view shows the part read before it changed, "
                        "read-only.",
                        pos);
                    return;
                }
                if (m_hold && (sinceCheck += static_cast<std::int64_t>(want)) >= (std::int64_t(64) << 20)) {
                    sinceCheck = 0;
                    const std::int64_t avail = AvailableMemory();
                    if (avail >= 0 && avail < kMemoryReserve)
                        throw std::bad_alloc();
                }
            }
        } catch (const EReadError& e) {
            Finish(TTextDocState::Failed,
                "The file could not be read to its end (" + e.Message()
                    + "): the text view shows the part read before, read-only.",
                pos);
            return;
        } catch (const std::bad_alloc&) {
            Finish(TTextDocState::Failed,
                "This computer ran out of memory while the file was read: the text view shows the part read "
                "before, read-only.",
                pos);
            return;
        }
        Finish(m_hold ? TTextDocState::Complete : TTextDocState::OnDemand, {}, pos);
    }

    std::shared_ptr<TFileReader> m_file;
    bool m_utf16;
    bool m_hold;
    std::int64_t m_start;
    std::function<void()> m_notify;
    std::atomic<bool> m_stop {false};
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
    bool m_done = false;
    std::thread m_thread;
};

// ---- loading

TTextDocument::TTextDocument() { m_starts.push_back({}); }

TTextDocument::~TTextDocument() { StopReader(); }

void TTextDocument::StopReader()
{
    m_reader.reset();
    m_reading = false;
}

void TTextDocument::Clear()
{
    StopReader();
    m_file.reset();
    m_chunks.clear();
    m_starts.assign(1, Start {});
    m_state = TTextDocState::Empty;
    m_reason.clear();
    m_fileName.clear();
    m_fileSize = 0;
    m_bytesRead = 0;
    m_utf16 = false;
    m_standIns = false;
    m_modified = false;
    m_undo.clear();
    m_cache.clear();
    m_cacheFailed = false;
    ++m_version;
}

void TTextDocument::SetText(std::string_view text)
{
    Clear();
    AppendChunks(ChunksOf(text));
    m_state = TTextDocState::Complete;
}

bool TTextDocument::Load(const std::string& fileName, bool detectUtf16, std::function<void()> notify, std::int64_t maxHeld)
{
    Clear();
    auto file = std::make_shared<TFileReader>();
    if (!file->Open(fileName))
        return false;
    std::int64_t start = 0;
    if (detectUtf16 && file->Size() >= 2) {
        unsigned char bom[2] = {};
        try {
            file->ReadAt(0, bom, 2);
        } catch (const EReadError&) {
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        if (bom[0] == 0xFF && bom[1] == 0xFE) {
            m_utf16 = true;
            start = 2;
        }
    }
    const std::int64_t size = file->Size();
    // UTF-16 text takes up to half as much again as UTF-8.
    const std::int64_t needed = m_utf16 ? size / 2 * 3 : size;
    const std::int64_t avail = AvailableMemory();
    const bool small = size <= maxHeld;
    const bool hold = small && (avail < 0 || needed <= (avail - kMemoryReserve) / 2);
    m_fileName = fileName;
    m_fileSize = size;
    m_file = file;
    m_state = hold ? TTextDocState::Loading : TTextDocState::OnDemand;
    if (!hold)
        m_reason = small ? "This computer has too little free memory to hold this file: the text view shows it "
                           "read-only, read from the disk as it is shown."
                         : "This file is larger than " + SizeText(maxHeld)
                + ": the text view shows it read-only, read from the disk as it is shown.";
    m_reading = true;
    m_reader = std::make_unique<Reader>(file, m_utf16, hold, start, std::move(notify));
    return true;
}

bool TTextDocument::TakeLoaded()
{
    if (!m_reader)
        return false;
    std::vector<Batch> batches = m_reader->Take();
    if (batches.empty())
        return false;
    for (Batch& b : batches) {
        AppendChunks(std::move(b.chunks));
        m_bytesRead = b.bytesRead;
        if (b.last) {
            m_reading = false;
            m_state = b.endState;
            if (!b.reason.empty())
                m_reason = b.reason;
        }
    }
    ++m_version;
    if (!m_reading)
        m_reader.reset();
    return true;
}

void TTextDocument::WaitLoaded()
{
    if (m_reader)
        m_reader->Wait();
    TakeLoaded();
}

void TTextDocument::AppendChunks(std::vector<Chunk>&& chunks)
{
    const std::size_t first = m_chunks.size();
    for (Chunk& c : chunks) {
        m_standIns = m_standIns || c.standIns;
        m_chunks.push_back(std::move(c));
    }
    Recount(first);
    ++m_version;
}

void TTextDocument::Recount(std::size_t from)
{
    from = std::min(from, m_chunks.size());
    m_starts.resize(m_chunks.size() + 1);
    for (std::size_t i = from; i < m_chunks.size(); ++i) {
        const Chunk& c = m_chunks[i];
        const bool joined = i > 0 && c.leadingLf && m_chunks[i - 1].trailingCr;
        Start next = m_starts[i];
        next.byte += c.size;
        next.line += c.breaks - (joined ? 1 : 0);
        next.chars += c.chars;
        m_starts[i + 1] = next;
    }
}

// ---- reading chunks

TTextDocument::Piece TTextDocument::ChunkBytes(std::size_t index) const
{
    const Chunk& c = m_chunks[index];
    if (c.store)
        return {c.store, std::string_view(c.store->data.get() + c.offset, c.size)};
    for (std::size_t k = 0; k < m_cache.size(); ++k) {
        if (m_cache[k].first == c.fileOffset) {
            auto hit = m_cache[k];
            m_cache.erase(m_cache.begin() + static_cast<std::ptrdiff_t>(k));
            m_cache.push_back(hit);
            return {hit.second, std::string_view(hit.second->data.get(), c.size)};
        }
    }
    auto store = std::make_shared<Store>(std::max<std::size_t>(c.size, 1));
    std::memset(store->data.get(), 0, store->capacity);
    try {
        if (m_utf16) {
            std::string raw(c.fileSize, '\0');
            m_file->ReadAt(c.fileOffset, raw.data(), raw.size());
            const std::string text = Utf16LeBytesToUtf8(U(raw.data()), raw.size());
            std::memcpy(store->data.get(), text.data(), std::min<std::size_t>(text.size(), c.size));
        } else {
            m_file->ReadAt(c.fileOffset, store->data.get(), c.size);
        }
    } catch (const EReadError&) {
        // The file changed under the view: the chunk shows as zero bytes,
        // and the owner learns it through the state.
        m_cacheFailed = true;
    }
    constexpr std::size_t kCachedChunks = 64;
    if (m_cache.size() >= kCachedChunks)
        m_cache.erase(m_cache.begin());
    m_cache.emplace_back(c.fileOffset, store);
    return {store, std::string_view(store->data.get(), c.size)};
}

std::size_t TTextDocument::ChunkAt(std::int64_t pos) const
{
    // The last chunk whose start is at or before pos.
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end() - 1, pos,
        [](std::int64_t p, const Start& s) { return p < s.byte; });
    const std::size_t index = static_cast<std::size_t>(it - m_starts.begin());
    return index == 0 ? 0 : std::min(index - 1, m_chunks.size() - 1);
}

unsigned char TTextDocument::ByteAt(std::int64_t pos) const
{
    if (pos < 0 || pos >= Size())
        return 0;
    const std::size_t c = ChunkAt(pos);
    return static_cast<unsigned char>(ChunkBytes(c).bytes[static_cast<std::size_t>(pos - m_starts[c].byte)]);
}

std::string TTextDocument::Bytes(std::int64_t from, std::int64_t to) const
{
    from = std::clamp<std::int64_t>(from, 0, Size());
    to = std::clamp<std::int64_t>(to, from, Size());
    std::string out;
    if (from == to)
        return out;
    out.reserve(static_cast<std::size_t>(to - from));
    for (std::size_t c = ChunkAt(from); c < m_chunks.size() && m_starts[c].byte < to; ++c) {
        const Piece piece = ChunkBytes(c);
        const std::int64_t start = m_starts[c].byte;
        const std::size_t a = static_cast<std::size_t>(std::max<std::int64_t>(from - start, 0));
        const std::size_t b = static_cast<std::size_t>(std::min<std::int64_t>(to - start, piece.bytes.size()));
        out.append(piece.bytes.substr(a, b - a));
    }
    return out;
}

// ---- lines and characters

std::int64_t TTextDocument::LineOf(std::int64_t pos) const
{
    pos = std::clamp<std::int64_t>(pos, 0, Size());
    if (m_chunks.empty())
        return 0;
    const std::size_t c = ChunkAt(pos);
    const Piece piece = ChunkBytes(c);
    const std::size_t local = static_cast<std::size_t>(pos - m_starts[c].byte);
    std::int64_t line = m_starts[c].line + CountBytes(U(piece.bytes.data()), local).breaks;
    if (local > 0 && c > 0 && m_chunks[c].leadingLf && m_chunks[c - 1].trailingCr)
        --line;
    // Between the CR and the LF of a pair the break has not ended yet.
    if (pos > 0 && pos < Size() && ByteAt(pos - 1) == '\r' && ByteAt(pos) == '\n')
        --line;
    return line;
}

std::int64_t TTextDocument::LineStart(std::int64_t line) const
{
    if (line <= 0 || m_chunks.empty())
        return 0;
    line = std::min(line, LineCount() - 1);
    // The chunk where break number `line` (from 1) starts.
    const auto it = std::lower_bound(m_starts.begin(), m_starts.end(), line,
        [](const Start& s, std::int64_t l) { return s.line < l; });
    const std::size_t c = static_cast<std::size_t>(it - m_starts.begin()) - 1;
    const Piece piece = ChunkBytes(c);
    const auto* p = U(piece.bytes.data());
    const std::size_t n = piece.bytes.size();
    std::int64_t left = line - m_starts[c].line;
    const bool skipLf = c > 0 && m_chunks[c].leadingLf && m_chunks[c - 1].trailingCr;
    for (std::size_t i = skipLf ? 1 : 0; i < n; ++i) {
        const unsigned char b = p[i];
        if (b == '\n' && !(i > 0 && p[i - 1] == '\r')) {
            if (--left == 0)
                return m_starts[c].byte + static_cast<std::int64_t>(i) + 1;
        } else if (b == '\r') {
            if (--left == 0) {
                const std::int64_t after = m_starts[c].byte + static_cast<std::int64_t>(i) + 1;
                return after < Size() && ByteAt(after) == '\n' ? after + 1 : after;
            }
        }
    }
    return Size();
}

std::int64_t TTextDocument::LineEnd(std::int64_t line) const
{
    if (line + 1 >= LineCount())
        return Size();
    const std::int64_t next = LineStart(line + 1);
    // Back over the break that ends the line.
    if (next >= 2 && ByteAt(next - 1) == '\n' && ByteAt(next - 2) == '\r')
        return next - 2;
    return next - 1;
}

std::int64_t TTextDocument::Chars(std::int64_t from, std::int64_t to) const
{
    if (m_chunks.empty())
        return 0;
    auto before = [this](std::int64_t pos) {
        pos = std::clamp<std::int64_t>(pos, 0, Size());
        const std::size_t c = ChunkAt(pos);
        const Piece piece = ChunkBytes(c);
        return m_starts[c].chars
            + CountBytes(U(piece.bytes.data()), static_cast<std::size_t>(pos - m_starts[c].byte)).chars;
    };
    return before(to) - before(from);
}

std::int64_t TTextDocument::NextChar(std::int64_t pos) const
{
    if (pos >= Size())
        return Size();
    pos = std::max<std::int64_t>(pos, 0);
    const unsigned char b = ByteAt(pos);
    if (b == '\r')
        return pos + 1 < Size() && ByteAt(pos + 1) == '\n' ? pos + 2 : pos + 1;
    if (b < 0x80)
        return pos + 1;
    const std::string s = Bytes(pos, pos + 4);
    const std::size_t len = Utf8SequenceAt(U(s.data()), s.size(), 0);
    return pos + static_cast<std::int64_t>(len ? len : 1);
}

std::int64_t TTextDocument::PrevChar(std::int64_t pos) const
{
    if (pos <= 0)
        return 0;
    pos = std::min(pos, Size());
    if (pos >= 2 && ByteAt(pos - 1) == '\n' && ByteAt(pos - 2) == '\r')
        return pos - 2;
    return CharStart(pos - 1);
}

std::int64_t TTextDocument::CharStart(std::int64_t pos) const
{
    if (pos <= 0)
        return 0;
    if (pos >= Size())
        return Size();
    const unsigned char b = ByteAt(pos);
    if (b == '\n')
        return ByteAt(pos - 1) == '\r' ? pos - 1 : pos;
    if (b < 0x80 || b >= 0xC0)
        return pos;
    const std::int64_t from = std::max<std::int64_t>(pos - 3, 0);
    const std::string s = Bytes(from, std::min(pos + 4, Size()));
    const auto* p = U(s.data());
    for (std::int64_t q = pos - 1; q >= from; --q) {
        const std::size_t i = static_cast<std::size_t>(q - from);
        if (p[i] >= 0xC0)
            return static_cast<std::int64_t>(Utf8SequenceAt(p, s.size(), i)) > pos - q ? q : pos;
        if (p[i] < 0x80)
            break;
    }
    return pos;
}

// ---- searching and writing

std::int64_t TTextDocument::Find(std::string_view needle, std::int64_t from, const std::function<bool()>& keepGoing) const
{
    if (needle.empty() || m_chunks.empty())
        return -1;
    from = std::clamp<std::int64_t>(from, 0, Size());
    // The window holds the last needle-1 bytes before a chunk and the chunk,
    // so a match across chunks is found as one within them.
    std::string window;
    std::int64_t windowStart = 0;
    std::size_t sinceAsked = 0;
    for (std::size_t c = ChunkAt(from); c < m_chunks.size(); ++c) {
        const Piece piece = ChunkBytes(c);
        const std::size_t keep = std::min(window.size(), needle.size() - 1);
        window.erase(0, window.size() - keep);
        windowStart = m_starts[c].byte - static_cast<std::int64_t>(keep);
        window.append(piece.bytes);
        const std::size_t skip = static_cast<std::size_t>(std::max<std::int64_t>(from - windowStart, 0));
        const std::size_t at = window.find(needle, skip);
        if (at != std::string::npos)
            return windowStart + static_cast<std::int64_t>(at);
        if (keepGoing && (sinceAsked += piece.bytes.size()) >= (std::size_t(4) << 20)) {
            sinceAsked = 0;
            if (!keepGoing())
                return -1;
        }
    }
    return -1;
}

void TTextDocument::WriteTo(const std::function<void(std::string_view)>& sink, bool asShown) const
{
    std::string shown;
    for (std::size_t c = 0; c < m_chunks.size(); ++c) {
        const Piece piece = ChunkBytes(c);
        if (!asShown || !m_chunks[c].standIns) {
            sink(piece.bytes);
            continue;
        }
        shown.clear();
        ForEachViewChar(piece.bytes, [&](char32_t ch, std::size_t) { AppendUtf8(shown, ch); });
        sink(shown);
    }
}

// ---- edits

std::size_t TTextDocument::SplitAt(std::int64_t pos)
{
    if (pos >= Size())
        return m_chunks.size();
    const std::size_t c = ChunkAt(pos);
    const std::int64_t start = m_starts[c].byte;
    if (pos == start)
        return c;
    const Chunk whole = m_chunks[c];
    const auto k = static_cast<std::uint32_t>(pos - start);
    const auto* p = U(whole.store->data.get() + whole.offset);
    Chunk left = whole;
    left.size = k;
    Chunk right = whole;
    right.offset = whole.offset + k;
    right.size = whole.size - k;
    m_chunks[c] = CountedChunk(left, p);
    m_chunks.insert(m_chunks.begin() + static_cast<std::ptrdiff_t>(c) + 1, CountedChunk(right, p + k));
    Recount(c);
    return c + 1;
}

std::vector<TTextDocument::Chunk> TTextDocument::Cut(std::int64_t from, std::int64_t to)
{
    if (from >= to)
        return {};
    const std::size_t first = SplitAt(from);
    const std::size_t last = SplitAt(to);
    std::vector<Chunk> removed(std::make_move_iterator(m_chunks.begin() + static_cast<std::ptrdiff_t>(first)),
        std::make_move_iterator(m_chunks.begin() + static_cast<std::ptrdiff_t>(last)));
    m_chunks.erase(m_chunks.begin() + static_cast<std::ptrdiff_t>(first), m_chunks.begin() + static_cast<std::ptrdiff_t>(last));
    Recount(first);
    Tidy(first == 0 ? 0 : first - 1, first + 1);
    return removed;
}

void TTextDocument::InsertChunks(std::int64_t at, std::vector<Chunk>&& chunks)
{
    if (chunks.empty())
        return;
    const std::size_t i = SplitAt(at);
    const std::size_t count = chunks.size();
    m_chunks.insert(m_chunks.begin() + static_cast<std::ptrdiff_t>(i), std::make_move_iterator(chunks.begin()),
        std::make_move_iterator(chunks.end()));
    Recount(i);
    Tidy(i == 0 ? 0 : i - 1, i + count + 1);
}

void TTextDocument::Tidy(std::size_t first, std::size_t last)
{
    last = std::min(last, m_chunks.size());
    std::size_t k = first;
    while (k + 1 < last && k + 1 < m_chunks.size()) {
        Chunk& a = m_chunks[k];
        Chunk& b = m_chunks[k + 1];
        const auto* pa = U(a.store->data.get() + a.offset);
        const auto* pb = U(b.store->data.get() + b.offset);
        // A well-formed sequence across the junction (an edit removed what
        // stood between a lead byte and its continuation bytes): its bytes
        // become a chunk of their own, so that every chunk boundary is a
        // character boundary again.
        std::size_t lead = a.size;
        if (b.size > 0 && pb[0] >= 0x80 && pb[0] < 0xC0) {
            for (std::size_t back = 1; back <= 3 && back <= a.size; ++back) {
                const unsigned char c = pa[a.size - back];
                if (c >= 0xC0) {
                    unsigned char joined[4];
                    const std::size_t have = std::min<std::size_t>(4, back + b.size);
                    std::memcpy(joined, pa + a.size - back, back);
                    std::memcpy(joined + back, pb, have - back);
                    const std::size_t len = Utf8SequenceAt(joined, have, 0);
                    if (len > back)
                        lead = a.size - back;
                    break;
                }
                if (c < 0x80)
                    break;
            }
        }
        if (lead < a.size) {
            const std::size_t back = a.size - lead;
            unsigned char joined[4];
            const std::size_t have = std::min<std::size_t>(4, back + b.size);
            std::memcpy(joined, pa + lead, back);
            std::memcpy(joined + back, pb, have - back);
            const std::size_t len = Utf8SequenceAt(joined, have, 0);
            std::vector<Chunk> middle = ChunksOf(std::string_view(reinterpret_cast<const char*>(joined), len));
            Chunk left = a;
            left.size = static_cast<std::uint32_t>(lead);
            Chunk right = b;
            right.offset += static_cast<std::uint32_t>(len - back);
            right.size -= static_cast<std::uint32_t>(len - back);
            std::vector<Chunk> replaced;
            if (left.size > 0)
                replaced.push_back(CountedChunk(left, pa));
            replaced.push_back(std::move(middle.front()));
            if (right.size > 0)
                replaced.push_back(CountedChunk(right, U(right.store->data.get() + right.offset)));
            m_chunks.erase(m_chunks.begin() + static_cast<std::ptrdiff_t>(k), m_chunks.begin() + static_cast<std::ptrdiff_t>(k) + 2);
            m_chunks.insert(m_chunks.begin() + static_cast<std::ptrdiff_t>(k), replaced.begin(), replaced.end());
            last = std::min(last + replaced.size() - 2, m_chunks.size());
            continue;
        }
        // Small neighbours are joined, so that typing does not leave a chunk
        // per key.
        if (a.size + b.size <= kJoinBytes) {
            std::string joined(reinterpret_cast<const char*>(pa), a.size);
            joined.append(reinterpret_cast<const char*>(pb), b.size);
            std::vector<Chunk> one = ChunksOf(joined);
            m_chunks[k] = std::move(one.front());
            m_chunks.erase(m_chunks.begin() + static_cast<std::ptrdiff_t>(k) + 1);
            last = last > 0 ? last - 1 : 0;
            continue;
        }
        ++k;
    }
    Recount(first);
}

void TTextDocument::Replace(std::int64_t from, std::int64_t to, std::string_view text, bool typing)
{
    if (!Editable())
        return;
    from = std::clamp<std::int64_t>(from, 0, Size());
    to = std::clamp<std::int64_t>(to, from, Size());
    if (from == to && text.empty())
        return;
    UndoRecord record;
    record.from = from;
    record.insertedBytes = static_cast<std::int64_t>(text.size());
    record.removed = Cut(from, to);
    record.typing = typing && record.removed.empty();
    UndoRecord* last = m_undo.empty() ? nullptr : &m_undo.back();
    if (record.typing && last && last->typing && last->from + last->insertedBytes == from)
        last->insertedBytes += record.insertedBytes;
    else
        m_undo.push_back(std::move(record));
    InsertChunks(from, ChunksOf(text));
    m_modified = true;
    ++m_version;
}

bool TTextDocument::Undo(std::int64_t& from, std::int64_t& to)
{
    if (m_undo.empty() || !Editable())
        return false;
    UndoRecord record = std::move(m_undo.back());
    m_undo.pop_back();
    Cut(record.from, record.from + record.insertedBytes);
    std::int64_t restored = 0;
    for (const Chunk& c : record.removed)
        restored += c.size;
    InsertChunks(record.from, std::move(record.removed));
    from = record.from;
    to = record.from + restored;
    m_modified = true;
    ++m_version;
    return true;
}
