#include "archive/zaddeflate.h"

#include "archive/zadcrc.h"
#include "archive/zadgbls.h"
#include "archive/zadinflate.h"
#include "kernel/kernel.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

const char* const kCompressedDataFormat = "VirOV_CompressedData";

namespace {

constexpr int kMemLevel = 8;
constexpr int kRawWindowBits = -15;
// Pieces of the stream routines: large enough that zlib, not the call
// overhead, sets the pace.
constexpr std::size_t kStreamInput = 256 * 1024;
constexpr std::size_t kStreamOutput = 256 * 1024;
// A source that raises this many times in a row without giving a byte is
// taken as broken.
constexpr int kMaxSourceFailures = 3;

std::size_t RoundUp256(std::int64_t n) { return static_cast<std::size_t>((n + 255) / 256 * 256); }

// zlib's z_stream with its end call tied to the object's life.
class Deflater {
public:
    explicit Deflater(TDeflateType type)
    {
        if (deflateInit2(&z, DeflateLevelOf(type), Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
            throw EOutOfMemory("Out of memory");
    }
    ~Deflater() { deflateEnd(&z); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    z_stream z{};
};

class Inflater {
public:
    Inflater()
    {
        if (inflateInit2(&z, kRawWindowBits) != Z_OK)
            throw EOutOfMemory("Out of memory");
    }
    ~Inflater() { inflateEnd(&z); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream z{};
};

void Resize(std::vector<std::uint8_t>& v, std::size_t n)
{
    try {
        v.resize(n);
    } catch (const std::bad_alloc&) {
        v.clear();
        v.shrink_to_fit();
        throw EOutOfMemory("Out of memory");
    } catch (const std::length_error&) {
        v.clear();
        v.shrink_to_fit();
        throw EOutOfMemory("Out of memory");
    }
}

void PutLe32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// zlib counts in uInt; feeds larger inputs in pieces it can take.
uInt Piece(std::int64_t left) { return static_cast<uInt>(std::min<std::int64_t>(left, 1 << 30)); }

}  // namespace

std::uint32_t CrcRegisterAdd(std::uint32_t reg, const void* data, std::size_t count)
{
    const auto* p = static_cast<const Bytef*>(data);
    uLong c = ~reg & 0xFFFFFFFFu;
    while (count > 0) {
        const uInt n = Piece(static_cast<std::int64_t>(std::min<std::size_t>(count, 1u << 30)));
        c = crc32(c, p, n);
        p += n;
        count -= n;
    }
    return ~static_cast<std::uint32_t>(c);
}

// ---- compressing ----------------------------------------------------------------------------

std::uint32_t zadCompress_BufToBuf(const void* in, std::int64_t inSize, std::vector<std::uint8_t>& out,
                                   TDeflateType type)
{
    out.clear();
    inSize = std::max<std::int64_t>(inSize, 0);
    Resize(out, RoundUp256(inSize + inSize / 10 + 12));
    Deflater d(type);
    const auto* src = static_cast<const std::uint8_t*>(in);
    std::int64_t inLeft = inSize;
    std::size_t produced = 0;
    for (;;) {
        const uInt take = Piece(inLeft);
        d.z.next_in = const_cast<Bytef*>(src + (inSize - inLeft));
        d.z.avail_in = take;
        d.z.next_out = out.data() + produced;
        d.z.avail_out = Piece(static_cast<std::int64_t>(out.size() - produced));
        const uInt outBefore = d.z.avail_out;
        const int r = deflate(&d.z, take == inLeft ? Z_FINISH : Z_NO_FLUSH);
        inLeft -= take - d.z.avail_in;
        produced += outBefore - d.z.avail_out;
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            throw EOutOfMemory("Out of memory");
        if (produced == out.size())
            Resize(out, out.size() + 256);
    }
    Resize(out, produced);
    return CrcRegisterAdd(CRC_MASK, in, static_cast<std::size_t>(inSize));
}

std::uint32_t zadCompress_StreamToStream(TStream32* source, TStream32* dest, std::int64_t count, TDeflateType type)
{
    if (count <= 0 || !source || !dest)
        return CRC_MASK;
    // The source is deflated piece by piece: the same bytes a one-block
    // deflate gives, without holding the whole source in memory.
    std::vector<std::uint8_t> inBuf(kStreamInput), outBuf(kStreamOutput);
    Deflater d(type);
    std::uint32_t crc = CRC_MASK;
    std::int64_t left = count;
    bool sourceEnd = false;
    for (;;) {
        int flush = Z_NO_FLUSH;
        if (d.z.avail_in == 0 && !sourceEnd) {
            const std::int64_t got =
                left > 0 ? source->Read(inBuf.data(), std::min<std::int64_t>(left, static_cast<std::int64_t>(inBuf.size())))
                         : 0;
            if (got <= 0) {
                sourceEnd = true;
            } else {
                crc = CrcRegisterAdd(crc, inBuf.data(), static_cast<std::size_t>(got));
                left -= got;
                d.z.next_in = inBuf.data();
                d.z.avail_in = static_cast<uInt>(got);
                sourceEnd = left == 0;
            }
        }
        if (sourceEnd)
            flush = Z_FINISH;
        d.z.next_out = outBuf.data();
        d.z.avail_out = static_cast<uInt>(outBuf.size());
        const int r = deflate(&d.z, flush);
        dest->WriteBuffer(outBuf.data(), static_cast<std::int64_t>(outBuf.size() - d.z.avail_out));
        if (r == Z_STREAM_END)
            break;
        if (r != Z_OK && r != Z_BUF_ERROR)
            return CRC_MASK;
    }
    return left == count ? CRC_MASK : crc;
}

std::uint32_t zadCompress_FileToStream(const std::string& fileName, TStream32* dest, std::int64_t count)
{
    if (!dest)
        return 0;
    TFileStream32 file(fileName, fmOpenRead | fmShareDenyWrite);
    if (!file.Valid())
        return 0;
    if (count <= 0)
        count = file.Size();
    return zadCompress_StreamToStream(&file, dest, count, dtDeflateN);
}

std::uint32_t zadCompress_String_Method1(std::string& s, std::int64_t& size, TDeflateType type)
{
    std::vector<std::uint8_t> out;
    const std::uint32_t crc = zadCompress_BufToBuf(s.data(), static_cast<std::int64_t>(s.size()), out, type);
    s.assign(out.begin(), out.end());
    size = static_cast<std::int64_t>(out.size());
    return crc;
}

bool zadCompressStreamProc(TStream32* source, TStream32* dest, zad_stream_plus& plus, std::uint32_t& crc,
                           TDeflateType type, const TNotifyEvent& progress, std::int8_t windowBits)
{
    bool cancel = false;
    bool* cancelRef = plus.CancelRef ? plus.CancelRef : &cancel;
    std::uint32_t crcOut = 0;
    {
        TCompressStream cs(dest, type, windowBits);
        cs.ActiveProgressHandler = progress;
        cs.CancelRef = cancelRef;
        cs.ActiveCancelRef = cancelRef;
        cs.ProgressCount = plus.RemainingRef;
        source->CancelRef = cancelRef;
        cs.CopyFrom(source, 0);
        crcOut = ~cs.GetCrcValue();
    }  // the stream's end finishes the deflate data
    source->CancelRef = nullptr;
    dest->SetPosition(0);
    if ((plus.Flags & 0xFF00) == 0)
        crc = crcOut;
    if (source->Size() == 0 && Crc32Val == CRC_MASK)
        Crc32Val = 0;
    return !*cancelRef;
}

std::uint32_t zadCompress_String_Method2(std::string& s, std::int64_t& size, TDeflateType type)
{
    TMemoryStream32 in, out;
    in.WriteBuffer(s.data(), static_cast<std::int64_t>(s.size()));
    in.SetPosition(0);
    zad_stream_plus plus;
    std::uint32_t crc = CRC_MASK;
    if (zadCompressStreamProc(&in, &out, plus, crc, type, nullptr, kRawWindowBits)) {
        s.assign(static_cast<const char*>(out.Memory()), static_cast<std::size_t>(out.Size()));
        size = out.Size();
    } else {
        s.clear();
    }
    return crc;
}

// ---- decompressing --------------------------------------------------------------------------

std::uint32_t zadDecompress_BufToBuf(const void* in, std::int64_t inSize, std::vector<std::uint8_t>& out,
                                     std::int64_t firstSize, std::uint64_t memoryLimit)
{
    out.clear();
    inSize = std::max<std::int64_t>(inSize, 0);
    if (memoryLimit == 0)
        memoryLimit = PhysicalMemorySize();
    const std::size_t step = std::max<std::size_t>(RoundUp256(inSize), 256);
    std::size_t size = firstSize > 0 ? static_cast<std::size_t>(firstSize) : step;
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, memoryLimit));
    Resize(out, size);
    Inflater f;
    const auto* src = static_cast<const std::uint8_t*>(in);
    std::int64_t inLeft = inSize;
    std::size_t produced = 0;
    for (;;) {
        const uInt take = Piece(inLeft);
        f.z.next_in = const_cast<Bytef*>(src + (inSize - inLeft));
        f.z.avail_in = take;
        f.z.next_out = out.data() + produced;
        f.z.avail_out = Piece(static_cast<std::int64_t>(out.size() - produced));
        const uInt outBefore = f.z.avail_out;
        const int r = inflate(&f.z, Z_FINISH);
        inLeft -= take - f.z.avail_in;
        produced += outBefore - f.z.avail_out;
        // Z_BUF_ERROR with output room left means the input ran out.
        const bool wantsRoom = (r == Z_OK || r == Z_BUF_ERROR) && produced == out.size();
        if (!wantsRoom)
            break;
        // Growing by at least a step, and at least doubling, keeps a
        // many-megabyte result from being copied once per step.
        const std::uint64_t grown = std::min<std::uint64_t>(out.size() + std::max(step, out.size()), memoryLimit);
        if (grown <= out.size()) {
            out.clear();
            out.shrink_to_fit();
            throw EOutOfMemory("Out of memory");
        }
        Resize(out, static_cast<std::size_t>(grown));
    }
    Resize(out, produced);
    return CrcRegisterAdd(CRC_MASK, out.data(), out.size());
}

std::uint32_t zadDecompress_StreamToStream(TStream32* source, TStream32* dest, std::int64_t)
{
    Crc32Val = CRC_MASK;
    if (!source || !dest)
        return Crc32Val;
    std::vector<std::uint8_t> inBuf(kStreamInput), outBuf(kStreamOutput);
    Inflater f;
    int failures = 0;
    for (;;) {
        if (f.z.avail_in == 0) {
            std::int64_t got = 0;
            try {
                got = source->Read(inBuf.data(), static_cast<std::int64_t>(inBuf.size()));
                failures = 0;
            } catch (const EWriteError&) {
                throw;
            } catch (...) {
                if (++failures >= kMaxSourceFailures)
                    break;
                continue;
            }
            if (got <= 0)
                break;
            f.z.next_in = inBuf.data();
            f.z.avail_in = static_cast<uInt>(got);
        }
        f.z.next_out = outBuf.data();
        f.z.avail_out = static_cast<uInt>(outBuf.size());
        const int r = inflate(&f.z, Z_NO_FLUSH);
        const std::size_t n = outBuf.size() - f.z.avail_out;
        if (n > 0) {
            dest->WriteBuffer(outBuf.data(), static_cast<std::int64_t>(n));
            Crc32Val = CrcRegisterAdd(Crc32Val, outBuf.data(), n);
        }
        if (r != Z_OK && r != Z_BUF_ERROR)
            break;  // the end of the data, or damaged data
    }
    return Crc32Val;
}

std::uint32_t zadDecompress_StreamToFile(TStream32* source, const std::string& fileName)
{
    if (_FileExists(fileName))
        return 0;
    TMemoryStream32 mem;
    const std::uint32_t crc = zadDecompress_StreamToStream(source, &mem, 0);
    if (mem.Size() > 0) {
        TFileStream32 file(fileName, fmCreate);
        if (!file.Valid())
            return 0;
        file.WriteBuffer(mem.Memory(), mem.Size());
    }
    return crc;
}

std::string zadDecompress_String_Method1(const std::string& s)
{
    std::vector<std::uint8_t> out;
    zadDecompress_BufToBuf(s.data(), static_cast<std::int64_t>(s.size()), out);
    return std::string(out.begin(), out.end());
}

std::string zadDecompress_String_Method2(const std::string& s, std::int64_t size)
{
    if (s.empty() || size <= 0)
        return {};
    size = std::min<std::int64_t>(size, static_cast<std::int64_t>(s.size()));
    TMemoryStream32 mem;
    mem.WriteBuffer(s.data(), size);
    mem.SetPosition(0);
    is64Bit = false;
    constexpr std::int32_t kPiece = 32768;
    std::string out(kPiece, '\0');
    TDecompressStream ds(&mem, emNone, kRawWindowBits);
    ds.Read(out.data(), kPiece, kPiece);
    out.resize(static_cast<std::size_t>(ds.TotalOut()));
    return out;
}

// ---- the clipboard record -------------------------------------------------------------------

std::uint32_t BuildCompressedRecord(TStream32* source, std::int64_t count, TDeflateType type,
                                    std::vector<std::uint8_t>& record, std::int64_t& packed)
{
    record.clear();
    packed = 0;
    if (count <= 0 || !source)
        return CRC_MASK;
    TMemoryStream32 data;
    std::uint32_t crc = CRC_MASK;
    if (type == dtDeflateS) {
        const std::int64_t copied = data.CopyFrom(source, count);
        if (copied != count)
            return CRC_MASK;
        crc = CrcRegisterAdd(CRC_MASK, data.Memory(), static_cast<std::size_t>(data.Size()));
    } else {
        const std::int64_t start = source->Position();
        crc = zadCompress_StreamToStream(source, &data, count, type);
        if (source->Position() - start != count)
            return CRC_MASK;
    }
    packed = data.Size();
    Resize(record, kCompressedRecordHeader + static_cast<std::size_t>(packed) + 1);
    PutLe32(record.data(), kCompressedRecordSignature);
    // The method byte follows the type, never the sizes: deflated data that
    // happen to be as long as the source stay marked as deflated.
    record[4] = static_cast<std::uint8_t>(type);
    PutLe32(record.data() + 5, static_cast<std::uint32_t>(count));
    PutLe32(record.data() + 9, crc);
    if (packed > 0)
        std::memcpy(record.data() + kCompressedRecordHeader, data.Memory(), static_cast<std::size_t>(packed));
    record.back() = 0;
    return crc;
}

std::uint32_t ReadCompressedRecord(const std::uint8_t* data, std::size_t size, TStream32* dest)
{
    if (!data || !dest || size < kCompressedRecordHeader + 1 || GetLe32(data) != kCompressedRecordSignature)
        return CRC_MASK;
    const std::uint8_t method = data[4];
    const std::uint32_t stated = GetLe32(data + 5);
    const std::uint32_t crcStated = GetLe32(data + 9);
    if (method > dtDeflateX)
        return CRC_MASK;
    // The data without the trailing zero byte.
    const std::uint8_t* body = data + kCompressedRecordHeader;
    const std::size_t bodySize = size - kCompressedRecordHeader - 1;

    std::vector<std::uint8_t> decoded;
    if (method == dtDeflateS) {
        if (bodySize < stated)
            return CRC_MASK;
        decoded.assign(body, body + stated);
    } else {
        // The stated size bounds the output: a record cannot make us
        // decode more than it claims to hold. The output grows with what is
        // decoded, so a record that claims gigabytes over a few bytes of
        // data costs no more than those bytes give.
        Inflater f;
        f.z.next_in = const_cast<Bytef*>(body);
        f.z.avail_in = static_cast<uInt>(std::min<std::size_t>(bodySize, std::numeric_limits<uInt>::max()));
        int r = Z_OK;
        while (r == Z_OK && decoded.size() < stated) {
            const std::size_t have = decoded.size();
            const std::size_t room = std::min<std::size_t>(stated - have, std::max<std::size_t>(have, kStreamOutput));
            Resize(decoded, have + room);
            f.z.next_out = decoded.data() + have;
            f.z.avail_out = static_cast<uInt>(room);
            r = inflate(&f.z, Z_FINISH);
            decoded.resize(have + room - f.z.avail_out);
            if (r == Z_BUF_ERROR && f.z.avail_out == 0)
                r = Z_OK;  // wants more room
        }
        if (decoded.size() != stated)
            return CRC_MASK;
        if (r != Z_STREAM_END) {
            // All stated bytes are out: the data must end right here.
            std::uint8_t probe = 0;
            f.z.next_out = &probe;
            f.z.avail_out = 1;
            if (stated == 0 || r == Z_OK)
                r = inflate(&f.z, Z_FINISH);
            if (r != Z_STREAM_END || f.z.avail_out == 0)
                return CRC_MASK;
        }
    }
    const std::uint32_t crc = CrcRegisterAdd(CRC_MASK, decoded.data(), decoded.size());
    if (crc != crcStated)
        return CRC_MASK;
    dest->WriteBuffer(decoded.data(), static_cast<std::int64_t>(decoded.size()));
    dest->SetPosition(0);
    return crc;
}
