// JPEG marker sections and the EXIF record.
//
// An APP1 EXIF segment, after its two length bytes:
//
//    0  6  "Exif" 0 0
//    6  2  byte order, "II" little-endian or "MM" big-endian  <- offset base
//    8  2  42
//   10  4  offset of the first directory
//   14     the first directory (taken to be at offset 8, as cameras write it)
//
// A directory: a 16-bit entry count, 12-byte entries, then the 32-bit offset
// of the next directory (0 for none). An entry:
//
//    0  2  tag
//    2  2  format (1 to 12)
//    4  4  number of components
//    8  4  the value when it fits in 4 bytes, else its offset
//
// Every offset is counted from the offset base and checked in 64 bits
// against the block before anything is read; a value is read only when its
// byte count holds one item of its format; directories nest at most
// kMaxNesting deep and none is parsed twice, so links that loop end.
#include "imaging/vxexif.h"

#include "imaging/vxcodec_p.h"
#include "imaging/vxfile.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr int kMaxNesting = 8;
constexpr std::uint32_t kMaxComment = 1000;

// Bytes of one item of each format; format 0 has none.
constexpr std::uint32_t kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

enum ExifTag : std::uint16_t {
    TagMake = 0x010F,
    TagModel = 0x0110,
    TagOrientation = 0x0112,
    TagXResolution = 0x011A,
    TagYResolution = 0x011B,
    TagResolutionUnit = 0x0128,
    TagThumbnailOffset = 0x0201,
    TagThumbnailLength = 0x0202,
    TagExposureTime = 0x829A,
    TagFNumber = 0x829D,
    TagExposureProgram = 0x8822,
    TagIsoEquivalent = 0x8827,
    TagExifOffset = 0x8769,
    TagExifVersion = 0x9000,
    TagDateTimeOriginal = 0x9003,
    TagCompressionLevel = 0x9102,
    TagShutterSpeed = 0x9201,
    TagAperture = 0x9202,
    TagBrightness = 0x9203,
    TagExposureBias = 0x9204,
    TagMaxAperture = 0x9205,
    TagSubjectDistance = 0x9206,
    TagMeteringMode = 0x9207,
    TagLightSource = 0x9208,
    TagFlash = 0x9209,
    TagFocalLength = 0x920A,
    TagUserComment = 0x9286,
    TagExifImageWidth = 0xA002,
    TagExifImageLength = 0xA003,
    TagInteropOffset = 0xA005,
    TagFocalPlaneXRes = 0xA20E,
    TagFocalPlaneYRes = 0xA20F,
    TagFocalPlaneUnits = 0xA210,
};

// Reals become floats only within the float range.
float ToFloat(double v)
{
    if (std::isfinite(v))
        v = std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX));
    return static_cast<float>(v);
}

// Inches per unit of a resolution unit tag; 0 leaves the value as it was.
float InchesPerUnit(std::int32_t unit)
{
    switch (unit) {
    case 1:
    case 2: return 1.0f;
    case 3: return 0.3937008f;
    case 4: return 0.03937008f;
    case 5: return 0.00003937008f;
    default: return 0;
    }
}

// Copies at most the byte count and at most size - 1 characters, up to the
// first NUL, and terminates the text.
void CopyText(char* out, std::size_t size, const std::uint8_t* value, std::uint64_t byteCount)
{
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(byteCount, size - 1));
    std::size_t i = 0;
    for (; i < n && value[i] != 0; ++i)
        out[i] = static_cast<char>(value[i]);
    out[i] = '\0';
}

bool Printable(std::uint8_t c) { return c >= 0x20 && c < 0x7F; }

}  // namespace

VxExifInfo::VxExifInfo(ExifInfoRecord* record) : m_record(record)
{
    if (!m_record) {
        m_record = new ExifInfoRecord{};
        m_ownRecord = true;
    }
}

VxExifInfo::~VxExifInfo()
{
    for (int i = 0; i < m_count; ++i)
        std::free(m_sections[i].data);
    if (m_ownRecord)
        delete m_record;
}

bool VxExifInfo::Fail(const char* text)
{
    std::strncpy(m_error, text, sizeof m_error - 1);
    m_error[sizeof m_error - 1] = '\0';
    return false;
}

void VxExifInfo::DropLast()
{
    --m_count;
    std::free(m_sections[m_count].data);
    m_sections[m_count] = Section{};
}

bool VxExifInfo::ReadSections(VxFile* stream, int readMode)
{
    if (!stream || stream->GetC() != 0xFF || stream->GetC() != 0xD8)
        return false;
    bool haveComment = false;
    for (;;) {
        if (m_count >= kMaxSections)
            return Fail("Too many sections in jpg file");
        // Fill bytes of 0xFF may stand before a marker, six at most.
        int marker = 0;
        for (int a = 0; a < 7; ++a) {
            marker = stream->GetC();
            if (marker != 0xFF)
                break;
            if (a >= 6)
                return false;
        }
        if (marker < 0)
            return Fail("Premature end of file?");
        const int high = stream->GetC();
        const int low = stream->GetC();
        if (high < 0 || low < 0 || ((high << 8) | low) < 2)
            return Fail("invalid marker");
        const auto length = static_cast<std::uint32_t>((high << 8) | low);
        auto* data = static_cast<std::uint8_t*>(std::malloc(length));
        if (!data)
            return Fail("Could not allocate memory");
        data[0] = static_cast<std::uint8_t>(high);
        data[1] = static_cast<std::uint8_t>(low);
        if (stream->Read(data + 2, 1, length - 2) != length - 2) {
            std::free(data);
            return Fail("Premature end of file?");
        }
        m_sections[m_count++] = Section{data, marker, length};

        switch (marker) {
        case 0xDA: {
            if (!(readMode & kReadImage))
                return true;
            if (m_count >= kMaxSections)
                return Fail("Too many sections in jpg file");
            const std::int32_t here = stream->Tell();
            const std::int32_t size = stream->Size();
            const std::uint32_t rest = size > here && here >= 0 ? static_cast<std::uint32_t>(size - here) : 0;
            auto* image = static_cast<std::uint8_t*>(std::malloc(rest ? rest : 1));
            if (!image)
                return Fail("could not allocate data for entire image");
            if (stream->Read(image, 1, rest) != rest) {
                std::free(image);
                return Fail("could not read the rest of the image");
            }
            m_sections[m_count++] = Section{image, kRestOfImage, rest};
            return true;
        }
        case 0xD9:
            return false;
        case 0xFE:
            if ((readMode & kReadExif) && !haveComment) {
                ParseComment(data, length);
                haveComment = true;
            } else {
                DropLast();
            }
            break;
        case 0xE0:
            DropLast();
            break;
        case 0xE1:
            if ((readMode & kReadExif) && length >= 6 && std::memcmp(data + 2, "Exif", 4) == 0)
                m_record->isExif = ParseExifBlock(data + 2, length - 2);
            else
                DropLast();
            break;
        case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
        case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
            ParseFrameHeader(data, length, marker);
            break;
        default:
            break;
        }
    }
}

bool VxExifInfo::ParseExifBlock(const std::uint8_t* data, std::uint32_t length)
{
    m_record->flashUsed = 0;
    m_record->comments[0] = '\0';
    m_exifImageWidth = 0;
    if (length < 6 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return Fail("Incorrect Exif header");
    if (length < 8)
        return Fail("Invalid Exif alignment marker.");
    if (data[6] == 'I' && data[7] == 'I')
        m_motorola = false;
    else if (data[6] == 'M' && data[7] == 'M')
        m_motorola = true;
    else
        return Fail("Invalid Exif alignment marker.");
    if (length < 14 || ReadUInt16(data + 8) != 42)
        return Fail("Invalid Exif start (1)");
    const std::uint32_t firstOffset = ReadUInt32(data + 10);
    const std::uint8_t* base = data + 6;
    const std::uint32_t exifLength = length - 6;
    const std::uint8_t* lastReferenced = data;
    m_parsed.clear();
    if (!ParseDirectory(8, base, exifLength, m_record, &lastReferenced))
        return false;
    if (firstOffset > 8 && !ParseDirectory(firstOffset, base, exifLength, m_record, &lastReferenced))
        return false;
    if (m_record->focalPlaneXRes != 0)
        m_record->ccdWidth =
            ToFloat(m_exifImageWidth * static_cast<double>(m_record->focalPlaneUnits) / m_record->focalPlaneXRes);
    return true;
}

bool VxExifInfo::ParseDirectory(std::uint64_t offset, const std::uint8_t* offsetBase, std::uint32_t length,
                                ExifInfoRecord* record, const std::uint8_t** lastReferenced, int depth)
{
    if (depth > kMaxNesting || std::find(m_parsed.begin(), m_parsed.end(), offset) != m_parsed.end())
        return true;
    m_parsed.push_back(offset);
    if (offset + 2 > length)
        return Fail("Illegally sized directory");
    const std::uint8_t* dir = offsetBase + offset;
    const std::uint32_t entries = ReadUInt16(dir);
    // The entries and the link to the next directory.
    if (offset + 2 + 12ull * entries + 4 > length)
        return Fail("Illegally sized directory");

    std::uint64_t thumbnailOffset = 0, thumbnailLength = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry = dir + 2 + 12 * i;
        const std::uint16_t tag = ReadUInt16(entry);
        const std::uint16_t format = ReadUInt16(entry + 2);
        const std::uint32_t components = ReadUInt32(entry + 4);
        if (format > 12)
            return Fail("Illegal format code in EXIF dir");
        const std::uint64_t byteCount = static_cast<std::uint64_t>(components) * kFormatSize[format];
        const std::uint8_t* value = entry + 8;
        if (byteCount > 4) {
            const std::uint64_t valueOffset = ReadUInt32(entry + 8);
            if (valueOffset + byteCount > length)
                return Fail("Illegal pointer offset value in EXIF.");
            value = offsetBase + valueOffset;
        }
        if (lastReferenced && value + byteCount > *lastReferenced)
            *lastReferenced = value + byteCount;

        const bool holdsNumber = format != 0 && byteCount >= kFormatSize[format];
        if (tag == TagExifOffset || tag == TagInteropOffset) {
            const double link = holdsNumber ? ReadNumber(value, format) : 0;
            if (link > 8) {
                if (link >= length)
                    return Fail("Illegal subdirectory link");
                if (!ParseDirectory(static_cast<std::uint64_t>(link), offsetBase, length, record, lastReferenced,
                                    depth + 1))
                    return false;
            }
            continue;
        }
        if (tag == TagThumbnailOffset && holdsNumber)
            thumbnailOffset = static_cast<std::uint64_t>(std::max(0.0, std::min(ReadNumber(value, format), 4294967295.0)));
        if (tag == TagThumbnailLength && holdsNumber) {
            thumbnailLength = static_cast<std::uint64_t>(std::max(0.0, std::min(ReadNumber(value, format), 4294967295.0)));
            record->thumbnailSize = static_cast<std::uint32_t>(thumbnailLength);
        }
        ParseTag(tag, format, value, byteCount, record);
    }

    const std::uint32_t next = ReadUInt32(dir + 2 + 12 * entries);
    if (next != 0) {
        if (next >= length)
            return Fail("Illegal subdirectory link");
        if (!ParseDirectory(next, offsetBase, length, record, lastReferenced, depth + 1))
            return false;
    }
    if (thumbnailOffset && thumbnailLength && thumbnailOffset + thumbnailLength <= length) {
        record->thumbnailPointer = offsetBase + thumbnailOffset;
        record->thumbnailSize = static_cast<std::uint32_t>(thumbnailLength);
    }
    return true;
}

void VxExifInfo::ParseTag(std::uint16_t tag, int format, const std::uint8_t* value, std::uint64_t byteCount,
                          ExifInfoRecord* r)
{
    if (format == 0 || byteCount < kFormatSize[format])
        return;
    switch (tag) {
    case TagMake: CopyText(r->cameraMake, sizeof r->cameraMake, value, byteCount); return;
    case TagModel: CopyText(r->cameraModel, sizeof r->cameraModel, value, byteCount); return;
    case TagDateTimeOriginal: CopyText(r->dateTime, sizeof r->dateTime, value, byteCount); return;
    case TagExifVersion: CopyText(r->version, sizeof r->version, value, byteCount); return;
    case TagUserComment: {
        // Trailing spaces go; an "ASCII" comment starts at its first
        // character among positions 5 to 9 that is neither 0 nor a space.
        std::uint64_t n = byteCount;
        while (n > 0 && value[n - 1] == ' ')
            --n;
        constexpr std::size_t kMax = 200;
        if (n >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
            for (std::uint64_t a = 5; a < 10 && a < n; ++a)
                if (value[a] != 0 && value[a] != ' ') {
                    CopyText(r->comments, kMax, value + a, n - a);
                    break;
                }
        } else {
            CopyText(r->comments, kMax, value, n);
        }
        return;
    }
    default:
        break;
    }

    const double v = ReadNumber(value, format);
    switch (tag) {
    case TagOrientation: {
        std::int32_t o = VxClampToInt32(v);
        if (o < 1 || o > 8) {
            o = 0;
            Fail("Undefined rotation value");
        }
        r->orientation = o;
        break;
    }
    case TagFlash: r->flashUsed = (VxClampToInt32(v) & 7) ? 1 : 0; break;
    case TagFocalLength: r->focalLength = ToFloat(v); break;
    case TagExposureTime: r->exposureTime = ToFloat(v); break;
    case TagShutterSpeed:
        if (r->exposureTime == 0)
            r->exposureTime = ToFloat(1 / std::exp2(v));
        break;
    case TagFNumber: r->apertureFNumber = ToFloat(v); break;
    case TagAperture:
    case TagMaxAperture:
        if (r->apertureFNumber == 0)
            r->apertureFNumber = ToFloat(std::exp2(v / 2));
        break;
    case TagSubjectDistance: r->distance = ToFloat(v); break;
    case TagExposureBias: r->exposureBias = ToFloat(v); break;
    case TagLightSource: r->lightSource = VxClampToInt32(v); break;
    case TagMeteringMode: r->meteringMode = VxClampToInt32(v); break;
    case TagExposureProgram: r->exposureProgram = VxClampToInt32(v); break;
    case TagIsoEquivalent: {
        // Some cameras store the ISO speed divided by 200.
        const std::int32_t iso = VxClampToInt32(v);
        r->isoEquivalent = iso < 50 ? VxClampToInt32(iso * 200.0) : iso;
        break;
    }
    case TagCompressionLevel: r->compressionLevel = VxClampToInt32(v); break;
    case TagFocalPlaneXRes: r->focalPlaneXRes = ToFloat(v); break;
    case TagFocalPlaneYRes: r->focalPlaneYRes = ToFloat(v); break;
    case TagFocalPlaneUnits:
        if (const float u = InchesPerUnit(VxClampToInt32(v)); u != 0)
            r->focalPlaneUnits = u;
        break;
    case TagXResolution: r->xResolution = ToFloat(v); break;
    case TagYResolution: r->yResolution = ToFloat(v); break;
    case TagResolutionUnit:
        if (const float u = InchesPerUnit(VxClampToInt32(v)); u != 0)
            r->resolutionUnit = u;
        break;
    case TagBrightness: r->brightness = ToFloat(v); break;
    case TagExifImageWidth:
    case TagExifImageLength: m_exifImageWidth = std::max(m_exifImageWidth, VxClampToInt32(v)); break;
    default: break;
    }
}

double VxExifInfo::ReadNumber(const std::uint8_t* value, int format) const
{
    switch (format) {
    case 1: return value[0];
    case 3: return ReadUInt16(value);
    case 4: return ReadUInt32(value);
    case 5:
    case 10: {
        const std::int32_t num = ReadInt32(value);
        const std::int32_t den = ReadInt32(value + 4);
        return den == 0 ? 0 : static_cast<double>(num) / den;
    }
    case 6: return static_cast<std::int8_t>(value[0]);
    case 8: return static_cast<std::int16_t>(ReadUInt16(value));
    case 9: return ReadInt32(value);
    case 11: {
        float f;
        std::memcpy(&f, value, sizeof f);
        return f;
    }
    case 12: {
        double d;
        std::memcpy(&d, value, sizeof d);
        return d;
    }
    default: return 0;
    }
}

std::uint16_t VxExifInfo::ReadUInt16(const std::uint8_t* p) const
{
    return m_motorola ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : static_cast<std::uint16_t>((p[1] << 8) | p[0]);
}

std::uint32_t VxExifInfo::ReadUInt32(const std::uint8_t* p) const
{
    if (m_motorola)
        return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
               (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
    return (static_cast<std::uint32_t>(p[3]) << 24) | (static_cast<std::uint32_t>(p[2]) << 16) |
           (static_cast<std::uint32_t>(p[1]) << 8) | p[0];
}

std::int32_t VxExifInfo::ReadInt32(const std::uint8_t* p) const { return static_cast<std::int32_t>(ReadUInt32(p)); }

std::uint16_t VxExifInfo::ReadUInt16BigEndian(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void VxExifInfo::ParseComment(const std::uint8_t* segment, std::uint32_t length)
{
    length = std::min(length, kMaxComment);
    std::size_t n = 0;
    for (std::uint32_t a = 2; a < length && n + 1 < sizeof m_record->comments; ++a) {
        const std::uint8_t c = segment[a];
        if (c == '\r' && a + 1 < length && segment[a + 1] == '\n')
            continue;
        m_record->comments[n++] = Printable(c) || c == '\n' || c == '\t' ? static_cast<char>(c) : '?';
    }
    m_record->comments[n] = '\0';
}

void VxExifInfo::ParseFrameHeader(const std::uint8_t* segment, std::uint32_t length, int marker)
{
    // Length (2), precision (1), height (2), width (2), components (1).
    if (length < 8)
        return;
    m_record->height = ReadUInt16BigEndian(segment + 3);
    m_record->width = ReadUInt16BigEndian(segment + 5);
    m_record->isColor = segment[7] == 3;
    m_record->process = marker;
}

void VxExifInfo::KeepExifOnly()
{
    int exif = -1, comment = -1;
    for (int i = 0; i < m_count; ++i) {
        if (m_sections[i].type == 0xE1 && exif < 0)
            exif = i;
        else if (m_sections[i].type == 0xFE && comment < 0)
            comment = i;
    }
    Section kept[2];
    int n = 0;
    if (exif >= 0)
        kept[n++] = m_sections[exif];
    if (comment >= 0)
        kept[n++] = m_sections[comment];
    for (int i = 0; i < m_count; ++i)
        if (i != exif && i != comment)
            std::free(m_sections[i].data);
    for (int i = 0; i < kMaxSections; ++i)
        m_sections[i] = i < n ? kept[i] : Section{};
    m_count = n;
}

const VxExifInfo::Section* VxExifInfo::FindSection(int type) const
{
    for (int i = 0; i + 1 < m_count; ++i)
        if (m_sections[i].type == type)
            return &m_sections[i];
    return nullptr;
}

bool VxExifInfo::WriteSections(VxFile* stream)
{
    if (!FindSection(0xDA))
        return Fail("Can't write exif : didn't read all");
    static const std::uint8_t kJfif[18] = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01,
                                           0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};
    bool ok = stream->PutC(0xFF) && stream->PutC(0xD8);
    if (ok && m_sections[0].type != 0xE1 && m_sections[0].type != 0xE0)
        ok = stream->Write(kJfif, 1, sizeof kJfif) == sizeof kJfif;
    for (int i = 0; ok && i < m_count; ++i) {
        const Section& s = m_sections[i];
        if (i + 1 < m_count)
            ok = stream->PutC(0xFF) && stream->PutC(static_cast<std::uint8_t>(s.type));
        if (ok && s.size > 0)
            ok = stream->Write(s.data, 1, s.size) == s.size;
    }
    if (!ok)
        return Fail("Output file write error --- out of disk space?");
    return true;
}
