// What the BH, LHA/LZH and ZOO extractors share: a first pass (the format's
// own walk) collects the selected entries; a second pass extracts them in
// archive order, each through the decoder its method names. The formats
// differ only in their walk, their method table and their CRC.
//
// An entry is read no further than its packed size and written no further
// than its unpacked size. An entry that fails (a method without a decoder,
// damaged or short data, an output that does not open, a refused password)
// leaves no file, and the next entry follows.
#pragma once

#include "archive/zadlzh.h"
#include "archive/zadlzhrecords.h"
#include "archive/zadlzw.h"
#include "archive/zadunbase.h"

#include <memory>
#include <string>
#include <vector>

class TDecompressStream;

// The decoders an entry's method can name.
enum class TLzhCodec {
    Unsupported,
    Stored,
    Deflate,  // raw deflate (BH)
    ZooLzw,   // ZOO method 1
    Dynamic,  // LHA's lh1: adaptive Huffman over a 4 KB window
    Static,   // lh4 to lh7 and their BH and ZOO forms: static Huffman blocks
};

struct TLzhMethod {
    TLzhCodec Codec = TLzhCodec::Unsupported;
    int DicBits = 0;  // Static: the window's size as a power of two
    int PBits = 0;    // Static: the width of the distance-code count
};

// One selected entry as the walk read it.
struct TLzhEntry {
    std::int64_t HeaderOffset = 0;
    std::int64_t DataOffset = 0;  // where the packed data starts (a BH cipher header stands before it)
    std::int64_t PackedSize = 0;  // bytes of packed data proper
    std::int64_t UnpackedSize = 0;
    int Method = 0;
    TLzhMethod Codec;
    std::int32_t DosDateTime = 0;
    std::uint32_t Crc = 0;
    std::int32_t Attributes = 0x20;
    bool IsDirectory = false;
    bool Encrypted = false;
    std::uint8_t Flags = 0;
    std::string StoredName;  // '/' separators, converted from OEM
    // A symbolic link, written as a file holding its target's text.
    bool IsLink = false;
    std::string LinkTarget;
    TEntryStamp Stamp;  // a Unix time and mode, when the header has them
};

class TUnLzhBase : public TUnBase {
public:
    explicit TUnLzhBase(TComponent* owner = nullptr);
    ~TUnLzhBase() override;

    void _Extract(TStream32*& inStream, TStream32* outStream) override;

    // The first pass: collects the selected entries; their number.
    int BuildHeadArray(TStream32* inStream);
    void ProcessHeaders(TStream32* inStream, TStream32* outStream);
    const std::vector<TLzhEntry>& Entries() const { return m_entries; }

protected:
    // The format's walk: offers every entry to Select. A damaged header is
    // reported (25114) and ends the walk; the entries before it extract.
    virtual void Walk(TStream32* inStream) = 0;
    // Ends a walk: reports a damaged header.
    void WalkEnded(TLzhRead how);
    virtual BYTE CrcWidth() const = 0;
    // Makes an encrypted entry's data readable (the stream stands at the
    // data's start); false when no password opens it.
    virtual bool Unlock(TStream32* inStream, const TLzhEntry& e);
    // Adds the entry when the masks select it.
    void Select(TLzhEntry e);
    // The entry whose data is being decoded.
    const TLzhEntry* Current = nullptr;

private:
    bool OpenAndExtractFile(TStream32* inStream, TStream32* outStream, const TLzhEntry& e);
    // Decodes the entry's data into outStream; false after reporting when
    // the data is damaged.
    bool DecodeEntry(TStream32* inStream, TStream32*& outStream, const TLzhEntry& e);
    bool Inflate(TStream32* inStream, TStream32*& outStream, const TLzhEntry& e);
    std::vector<TLzhEntry> m_entries;
    std::unique_ptr<TDecompressStream> m_inflater;
    TZooLzwBuffers m_lzw;
    TLzhDecoder m_lzh;
};
