// The text of the plain text view for files of any size.
//
// The text is a list of chunks of at most some 64 KB (96 KB for a chunk
// converted from UTF-16): the bytes of the file as read, held in memory in
// blocks of 4 MB, or, for a file too large to hold, the place in the file
// where the chunk's bytes are read again when they are shown. Each chunk
// knows its line breaks and characters, so that a line, a position and a
// column are found by a binary search over the chunks and a scan of one
// chunk, whatever the size of the text. An edit splits the chunks at its
// ends and puts chunks of its own between them; the removed chunks go to
// the undo record as they are (an edit never copies the text it removes).
//
// A file is read by a worker thread that hands over chunks as it goes: the
// first screen shows after the first 256 KB, and the user-interface thread
// never waits for the disk. Positions are byte offsets into the text, which
// is UTF-8 (a file that starts with FF FE is converted from UTF-16LE as it
// is read). Bytes that are no text are kept as they are and shown as
// stand-in characters (ForEachViewChar).
#pragma once

#include "rtl/unicode.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class TFileReader;

enum class TTextDocState {
    Empty,     // nothing loaded
    Loading,   // the file is being read into memory; shown as far as read, not yet editable
    Complete,  // the whole text is in memory: editable, and may be saved
    OnDemand,  // the file is too large to hold: read from the file as shown, read-only
    Failed,    // reading stopped early (a read error, the file shrank, memory ran out):
               // what was read is shown, read-only
};

// Calls fn(character, bytes) for each character a view shows for bytes
// taken as UTF-8: tab, CR and LF as they are; other control bytes (00 to
// 1F, 7F) as their control pictures (U+2400 + byte, U+2421); each byte that
// is no part of well-formed UTF-8 (overlong forms, surrogates and values
// past U+10FFFF are not) as U+FFFD. Every replaced byte is one character.
template <typename Fn> void ForEachViewChar(std::string_view bytes, Fn&& fn);

class TTextDocument {
public:
    // The size of the chunks the reader makes.
    static constexpr std::uint32_t kChunkBytes = 64 * 1024;
    // Files up to this size are held in memory when the machine has room:
    // a larger one (a disk image, a database) is read from the file as it is
    // shown rather than filling the memory of a desktop that runs other
    // programs too. The hex editor draws the same line.
    static constexpr std::int64_t kMaxHeldBytes = 0x7FFFFFFF;

    TTextDocument();
    ~TTextDocument();
    TTextDocument(const TTextDocument&) = delete;
    TTextDocument& operator=(const TTextDocument&) = delete;

    // Starts reading a regular file (OpenRegularFile's rules). A file that
    // starts with FF FE is read as UTF-16LE when detectUtf16 is set. The
    // file is held in memory when it is at most maxHeld bytes and the
    // machine can give twice what it takes; otherwise it is shown read from
    // the file as needed. notify is called on the reader's thread whenever
    // it has something new; the owner then calls TakeLoaded on its own
    // thread. False, with the last error set, when the file cannot be
    // opened.
    bool Load(const std::string& fileName, bool detectUtf16, std::function<void()> notify,
        std::int64_t maxHeld = kMaxHeldBytes);
    // Holds text given in memory: Complete at once, not modified.
    void SetText(std::string_view text);
    // Ends any reading and empties the document.
    void Clear();

    // Takes what the reader has handed over since the last call; true when
    // the text or the state changed. On the owner's thread only.
    bool TakeLoaded();
    // Waits until the reader has finished and takes everything.
    void WaitLoaded();
    // Whether the reader is still running.
    bool Reading() const { return m_reading; }

    TTextDocState State() const { return m_state; }
    bool Editable() const { return m_state == TTextDocState::Complete; }
    // Why the file is read-only or incomplete (for the user); empty otherwise.
    const std::string& Reason() const { return m_reason; }
    // The file's name and size, and how much of it the reader has gone through.
    const std::string& FileName() const { return m_fileName; }
    std::int64_t FileSize() const { return m_fileSize; }
    std::int64_t BytesRead() const { return m_bytesRead; }
    bool FromUtf16() const { return m_utf16; }
    // Some bytes of the text as read show as stand-in characters.
    bool HasStandIns() const { return m_standIns; }
    // Whether a part of the file read again to be shown could not be read
    // (another program cut it short): it shows as zero bytes.
    bool ChangedOnDisk() const { return m_cacheFailed; }
    // Changes with every edit and with every chunk taken over.
    std::uint64_t Version() const { return m_version; }

    // ---- The text. Positions are byte offsets, 0 to Size().
    std::int64_t Size() const { return m_starts.empty() ? 0 : m_starts.back().byte; }
    // Lines as an editor counts them: a break at the very end starts an
    // empty last line. Breaks are CR LF, CR and LF.
    std::int64_t LineCount() const { return (m_starts.empty() ? 0 : m_starts.back().line) + 1; }
    std::int64_t LineOf(std::int64_t pos) const;
    std::int64_t LineStart(std::int64_t line) const;
    // Where the line's break starts (its end without the break), or Size().
    std::int64_t LineEnd(std::int64_t line) const;
    // The characters (UTF-16 units, as the view counts them) in [from, to).
    std::int64_t Chars(std::int64_t from, std::int64_t to) const;
    std::string Bytes(std::int64_t from, std::int64_t to) const;
    // The next and the previous character boundary; a CR LF is one.
    std::int64_t NextChar(std::int64_t pos) const;
    std::int64_t PrevChar(std::int64_t pos) const;
    // The start of the character that holds pos (never between CR and LF).
    std::int64_t CharStart(std::int64_t pos) const;

    // The first exact match of needle at or after from; -1 when there is
    // none or keepGoing (asked every few megabytes) answered false.
    std::int64_t Find(std::string_view needle, std::int64_t from, const std::function<bool()>& keepGoing = {}) const;

    // ---- Edits, only while Editable(). Replaces [from, to) with text;
    // consecutive typing at one place is undone as one.
    void Replace(std::int64_t from, std::int64_t to, std::string_view text, bool typing = false);
    bool CanUndo() const { return !m_undo.empty(); }
    // Undoes the last edit; from and to receive where its text now lies.
    bool Undo(std::int64_t& from, std::int64_t& to);
    bool Modified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    // Hands the whole text to sink in pieces: its bytes, or with asShown the
    // text the view shows (stand-in characters in place of the bytes they
    // stand for).
    void WriteTo(const std::function<void(std::string_view)>& sink, bool asShown) const;

    // Stores, chunks and what the reader hands over; public for the reader.
    struct Store;
    struct Chunk;
    struct Batch;

private:
    struct Start {
        std::int64_t byte = 0, line = 0, chars = 0;
    };
    // A chunk's bytes, kept alive while they are used.
    struct Piece {
        std::shared_ptr<const Store> keep;
        std::string_view bytes;
    };
    struct UndoRecord {
        std::int64_t from = 0;
        std::int64_t insertedBytes = 0;
        std::vector<Chunk> removed;
        bool typing = false;
    };
    class Reader;

    Piece ChunkBytes(std::size_t index) const;
    // The chunk that holds pos (the last one for Size()).
    std::size_t ChunkAt(std::int64_t pos) const;
    void Recount(std::size_t from);
    void AppendChunks(std::vector<Chunk>&& chunks);
    // Makes a chunk boundary at pos and answers the index of the chunk that starts there.
    std::size_t SplitAt(std::int64_t pos);
    // Removes [from, to) and answers its chunks.
    std::vector<Chunk> Cut(std::int64_t from, std::int64_t to);
    void InsertChunks(std::int64_t at, std::vector<Chunk>&& chunks);
    // Joins small and ill-cut chunks around [first, last).
    void Tidy(std::size_t first, std::size_t last);
    void StopReader();
    unsigned char ByteAt(std::int64_t pos) const;

    std::vector<Chunk> m_chunks;
    std::vector<Start> m_starts;  // m_starts[i]: where chunk i starts; one more for the end
    TTextDocState m_state = TTextDocState::Empty;
    std::string m_reason;
    std::string m_fileName;
    std::int64_t m_fileSize = 0;
    std::int64_t m_bytesRead = 0;
    bool m_utf16 = false;
    bool m_standIns = false;
    bool m_modified = false;
    bool m_reading = false;
    std::uint64_t m_version = 0;
    std::vector<UndoRecord> m_undo;

    std::shared_ptr<TFileReader> m_file;
    std::unique_ptr<Reader> m_reader;
    // Chunks read from the file as they are shown, most recent last.
    mutable std::vector<std::pair<std::int64_t, std::shared_ptr<const Store>>> m_cache;
    mutable bool m_cacheFailed = false;
};

// ---- inline parts

template <typename Fn> void ForEachViewChar(std::string_view bytes, Fn&& fn)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            fn(static_cast<char32_t>(c), std::size_t {1});
            ++i;
        } else if (c < 0x20) {
            fn(c == '\t' || c == '\n' || c == '\r' ? static_cast<char32_t>(c) : static_cast<char32_t>(0x2400 + c),
                std::size_t {1});
            ++i;
        } else if (c == 0x7F) {
            fn(char32_t {0x2421}, std::size_t {1});
            ++i;
        } else if (const std::size_t len = Utf8SequenceAt(p, n, i)) {
            char32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
            for (std::size_t k = 1; k < len; ++k)
                cp = (cp << 6) | (p[i + k] & 0x3F);
            fn(cp, len);
            i += len;
        } else {
            fn(char32_t {0xFFFD}, std::size_t {1});
            ++i;
        }
    }
}
