// Loading and saving by path, and the format dispatch over streams.
#include "imaging/vxfile.h"
#include "imaging/vxformats_p.h"
#include "imaging/vximage.h"

#include "win/fileops.h"

#include <cstring>
#include <memory>

namespace {
constexpr const char* kDecodeUnknown = "Decode: Unknown or wrong format";
constexpr const char* kEncodeUnknown = "Encode: Unknown format";
}  // namespace

// Only a regular file is read: a named pipe would block in the open until
// a writer came, and a device such as /dev/zero never ends.
bool VxImage::Load(const char* path, std::uint32_t formatId)
{
    if (!path)
        return false;
    if (formatId > 0 && formatId < VXFMT_COUNT) {
        std::FILE* f = OpenRegularFileStream(path);
        if (!f)
            return false;
        const bool ok = Decode(f, formatId);
        std::fclose(f);
        if (ok)
            return true;
    }
    // The typed decoder's reason is what the caller hears when detection
    // finds nothing either.
    char saved[sizeof m_info.lastError];
    std::memcpy(saved, m_info.lastError, sizeof saved);
    std::FILE* f = OpenRegularFileStream(path);
    if (!f)
        return false;
    const bool ok = Decode(f, VXFMT_UNKNOWN);
    std::fclose(f);
    if (!ok && formatId != 0)
        std::memcpy(m_info.lastError, saved, sizeof saved);
    return ok;
}

bool VxImage::Save(const char* path, std::uint32_t formatId)
{
    if (!path)
        return false;
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    const bool ok = Encode(f, formatId);
    std::fclose(f);
    return ok;
}

bool VxImage::Decode(std::FILE* stream, std::uint32_t formatId)
{
    VxIOFile file(stream);
    return Decode(&file, formatId);
}

bool VxImage::Encode(std::FILE* stream, std::uint32_t formatId)
{
    VxIOFile file(stream);
    return Encode(&file, formatId);
}

bool VxImage::Decode(VxFile* stream, std::uint32_t formatId)
{
    if (formatId == VXFMT_UNKNOWN) {
        const std::int32_t start = stream ? stream->Tell() : 0;
        for (std::size_t i = 0; i < kVxDetectOrderCount; ++i) {
            const VxFormatCodec* row = VxFormatRow(kVxDetectOrder[i].row);
            if (!row->create || !row->decode)
                continue;
            std::unique_ptr<VxImage> instance(row->create());
            instance->CopyAttributes(*this);
            instance->m_info.damaged = false;  // that was the last picture's
            if (row->decode(*instance, stream, kVxDetectOrder[i].passedId))
                return AdoptPixels(*instance);
            if (stream)
                stream->Seek(start, 0);
        }
        SetError(kDecodeUnknown);
        return false;
    }
    const VxFormatCodec* row = VxFormatRow(formatId);
    if (!row || !row->create || !row->decode) {
        SetError(kDecodeUnknown);
        return false;
    }
    std::unique_ptr<VxImage> instance(row->create());
    instance->CopyAttributes(*this);
    instance->m_info.damaged = false;  // that was the last picture's
    if (row->decode(*instance, stream, formatId))
        return AdoptPixels(*instance);
    SetError(instance->m_info.lastError);
    if (formatId == VXFMT_GIF || formatId == VXFMT_ICO || formatId == VXFMT_TIF)
        m_info.framesFound = instance->m_info.framesFound;
    return false;
}

bool VxImage::Encode(VxFile* stream, std::uint32_t formatId)
{
    const VxFormatCodec* row = formatId == VXFMT_UNKNOWN ? nullptr : VxFormatRow(formatId);
    if (!row || !row->create || !row->encode) {
        SetError(kEncodeUnknown);
        return false;
    }
    std::unique_ptr<VxImage> instance(row->create());
    instance->BorrowPixels(this);
    const bool ok = row->encode(*instance, stream, formatId);
    if (!ok)
        SetError(instance->m_info.lastError);
    return ok;
}

bool VxImage::CheckEncodable(VxFile* stream)
{
    if (!stream) {
        SetError("null file handler");
        return true;
    }
    if (!m_block) {
        SetError("null image!!!");
        return true;
    }
    return false;
}
