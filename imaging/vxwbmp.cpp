// Wireless bitmap codec (type 0).
//
// Header: TypeField (0), FixHeaderField (one byte, ignored), Width and
// Height as multi-byte integers (7 bits a byte, most significant group
// first, the top bit set on every byte but the last). Rows follow top row
// first, (width + 7) / 8 bytes each, the first pixel in the top bit; 1 is
// white, 0 black.
#include "imaging/vxwbmp.h"

#include "imaging/imageiter.h"
#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <vector>

namespace {

enum class IntResult { Ok, Short, Bad };

// A multi-byte integer of at most 32 bits.
IntResult ReadMultiByte(VxReader& in, std::uint32_t& value)
{
    value = 0;
    for (int i = 0; i < 5; ++i) {
        std::uint8_t b;
        if (!in.U8(b))
            return IntResult::Short;
        if (value > (0xFFFFFFFFu >> 7))
            return IntResult::Bad;
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return IntResult::Ok;
    }
    return IntResult::Bad;
}

std::vector<std::uint8_t> MultiByte(std::uint32_t value)
{
    std::vector<std::uint8_t> out;
    out.push_back(static_cast<std::uint8_t>(value & 0x7F));
    while (value >>= 7)
        out.insert(out.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

}  // namespace

bool VxImageWBMP::Decode(VxFile* stream)
{
    if (!stream)
        return false;
    try {
        VxReader in(stream);
        std::uint8_t type, fixed;
        if (!in.U8(type) || !in.U8(fixed))
            VxRaise("Not a WBMP");
        std::uint32_t width = 0, height = 0;
        const IntResult rw = ReadMultiByte(in, width);
        const IntResult rh = rw == IntResult::Ok ? ReadMultiByte(in, height) : rw;
        if (rw == IntResult::Short || rh == IntResult::Short)
            VxRaise("Not a WBMP");
        if (type != 0)
            VxRaise("Unsupported WBMP type");
        if (rw == IntResult::Bad || rh == IntResult::Bad || width == 0 || height == 0)
            VxRaise("Corrupted WBMP");
        // The rows are stored as they are: the file must hold at least half
        // of them (a file cut short shows what it has).
        const std::uint64_t fileRow = (static_cast<std::uint64_t>(width) + 7) / 8;
        if (!VxFileCanHold(in, fileRow * height, kVxStoredRowsCutShort))
            VxRaiseDataMissing(width, height);
        if (!Create(width, height, 1, VXFMT_WBMP))
            VxRaise(GetLastError());
        SetGreyRampPalette();
        CImageIterator it(this);
        it.MoveToTop();
        do {
            if (in.ReadSome(it.CurrentRow(), fileRow) < fileRow) {
                MarkDamaged();
                break;
            }
        } while (it.PreviousRow());
        return true;
    } catch (const VxCodecError& e) {
        SetError(e.text);
        return false;
    }
}

bool VxImageWBMP::Encode(VxFile* stream)
{
    if (CheckEncodable(stream))
        return false;
    if (GetBpp() > 1) {
        SetError("Can't save this image as WBMP");
        return false;
    }
    std::vector<std::uint8_t> head{0, 0};
    for (std::uint32_t v : {GetWidth(), GetHeight()}) {
        auto m = MultiByte(v);
        head.insert(head.end(), m.begin(), m.end());
    }
    bool ok = stream->Write(head.data(), 1, head.size()) == head.size();
    const std::size_t fileRow = (static_cast<std::size_t>(GetWidth()) + 7) / 8;
    CImageIterator it(this);
    it.MoveToTop();
    std::vector<std::uint8_t> line(fileRow);
    if (ok)
        do {
            it.ReadRow(line.data(), static_cast<std::int32_t>(fileRow));
            ok = stream->Write(line.data(), 1, fileRow) == fileRow;
        } while (ok && it.PreviousRow());
    if (!ok)
        SetError("Can't write WBMP");
    return ok;
}
