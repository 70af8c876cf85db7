// Clipboard formats: the registered names, the table of formats and the
// MIME types they travel as, rendering a format from another program's
// data and back, dropped-file blocks, media and the format enumerator.
#include "ole/ole_p.h"

#include "rtl/unicode.h"
#include "shell/shlclip.h"
#include "win/memadvise.h"
#include "win/splitwork.h"

#include <QImage>
#include <QUrl>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// ---- registered names

struct FormatNames {
    std::mutex lock;
    std::map<std::string, UINT> numbers;
    std::vector<std::string> names;  // index: number - 0xC000
};

FormatNames& Names()
{
    static FormatNames names;
    return names;
}

// ---- the table

// How a format's bytes become the MIME data and back.
enum class Kind {
    Bytes,     // the block as it is
    Text,      // the bytes before the first zero; a zero byte is added back
    FileList,  // DROPFILES with its names, and a list of file URLs
};

struct FormatRow {
    CLIPFORMAT standard;         // 0: registered by name
    const char* registeredName;  // for registered formats
    const char* mime;
    Kind kind;
};

constexpr FormatRow kRows[] = {
    {CF_TEXT, nullptr, "text/plain", Kind::Text},
    {CF_HDROP, nullptr, "text/uri-list", Kind::FileList},
    {0, "Rich Text Format", "text/rtf", Kind::Bytes},
    {0, "GIF Image", "image/gif", Kind::Bytes},
    {CF_TIFF, nullptr, "image/tiff", Kind::Bytes},
    {CF_WAVE, nullptr, "audio/x-wav", Kind::Bytes},
};

// Registered names of ours travel under this prefix; a foreign MIME type is
// registered under its own name, which holds a '/' as ours never do.
constexpr char kOwnPrefix[] = "application/x-vistrel-";

CLIPFORMAT FormatOfRow(const FormatRow& row)
{
    return row.standard ? row.standard : static_cast<CLIPFORMAT>(RegisterClipboardFormatA(row.registeredName));
}

const FormatRow* RowOfFormat(CLIPFORMAT format)
{
    for (const FormatRow& row : kRows)
        if (FormatOfRow(row) == format)
            return &row;
    return nullptr;
}

std::string RegisteredName(CLIPFORMAT format)
{
    char name[512];
    const int n = GetClipboardFormatNameA(format, name, sizeof name);
    return std::string(name, static_cast<std::size_t>(std::max(n, 0)));
}

bool IsPlainText(const QString& mime) { return mime == "text/plain" || mime.startsWith("text/plain;"); }

// The text of another program's data as its bytes: UTF-8 on Linux.
QByteArray TextBytes(const QMimeData& mime)
{
    if (mime.hasFormat("text/plain"))
        return mime.data("text/plain");
    return mime.text().toUtf8();
}

// ---- dropped files

// The local files of a URL list; other schemes and comments are left out.
std::vector<std::string> LocalFilesOfUriList(const QByteArray& list)
{
    std::vector<std::string> files;
    for (QByteArray line : list.split('\n')) {
        line = line.trimmed();
        std::string path;
        if (!line.isEmpty() && line[0] != '#' && ShellPathFromFileUrl(line.toStdString(), path))
            files.push_back(path);
    }
    return files;
}

} // namespace

TDropNames::TDropNames() : m_used(sizeof(DROPFILES))
{
    m_block = GlobalAlloc(GMEM_MOVEABLE, sizeof(DROPFILES) + 1);
    m_failed = !m_block;
}

TDropNames::TDropNames(const std::vector<std::string>& names) : TDropNames()
{
    std::size_t bytes = 0;
    for (const std::string& name : names)
        bytes += name.size() + 1;
    Reserve(bytes);
    for (const std::string& name : names)
        Add({}, name);
}

TDropNames::~TDropNames() { GlobalFree(m_block); }

TDropNames::TDropNames(TDropNames&& other) noexcept
    : m_block(other.m_block), m_used(other.m_used), m_count(other.m_count), m_failed(other.m_failed)
{
    other.m_block = nullptr;
    other.m_failed = true;
}

bool TDropNames::Grow(std::size_t needed)
{
    if (m_failed)
        return false;
    // One byte more for the empty name that ends the list.
    if (needed + 1 <= GlobalSize(m_block))
        return true;
    HGLOBAL grown = GlobalReAlloc(m_block, std::max(needed + 1, 2 * GlobalSize(m_block)), GMEM_MOVEABLE);
    if (!grown) {
        m_failed = true;
        return false;
    }
    m_block = grown;
    return true;
}

void TDropNames::Reserve(std::size_t bytes) { Grow(m_used + bytes); }

void TDropNames::Add(std::string_view folder, std::string_view name)
{
    ++m_count;
    if (!Grow(m_used + folder.size() + name.size() + 1))
        return;
    auto* p = static_cast<char*>(GlobalLock(m_block)) + m_used;
    p = std::copy(folder.begin(), folder.end(), p);
    p = std::copy(name.begin(), name.end(), p);
    *p = 0;
    m_used += folder.size() + name.size() + 1;
}

HGLOBAL TDropNames::TakeBlock()
{
    if (m_failed)
        return nullptr;
    HGLOBAL block = GlobalReAlloc(m_block, m_used + 1, GMEM_MOVEABLE);
    if (!block)
        return nullptr;
    m_block = nullptr;
    m_failed = true;
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    const DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, FALSE};
    std::memcpy(p, &header, sizeof header);
    p[m_used] = 0;
    return block;
}

HGLOBAL DropFilesBlock(const std::vector<std::string>& files) { return TDropNames(files).TakeBlock(); }

namespace {

// Calls the visitor with each name of a CF_HDROP block (start and length),
// in order; a block that is wide, cut or whose list starts outside it gives
// none, and the names end at the first unterminated one.
template <class Visit> void ForEachDropName(const std::uint8_t* block, std::size_t size, Visit&& visit)
{
    if (!block || size < sizeof(DROPFILES))
        return;
    DROPFILES header;
    std::memcpy(&header, block, sizeof header);
    if (header.fWide || header.pFiles < sizeof(DROPFILES) || header.pFiles >= size)
        return;
    for (std::size_t at = header.pFiles; at < size && block[at] != 0;) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(block + at, 0, size - at));
        if (!end)
            return;
        visit(block + at, static_cast<std::size_t>(end - (block + at)));
        at = static_cast<std::size_t>(end - block) + 1;
    }
}

} // namespace

std::vector<std::string> NamesOfDropFiles(const std::uint8_t* block, std::size_t size)
{
    std::vector<std::string> names;
    ForEachDropName(block, size, [&](const std::uint8_t* name, std::size_t length) {
        names.emplace_back(reinterpret_cast<const char*>(name), length);
    });
    return names;
}

namespace {

// Bytes a file URL carries as they are: the unreserved ones and the path
// separator; every other byte is written as %XX. A table answers for each
// byte the length it takes in the URL (1 or 3).
struct UrlByteLengths {
    std::uint8_t length[256];
    constexpr UrlByteLengths() : length()
    {
        for (int c = 0; c < 256; ++c) {
            const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
                || c == '.' || c == '_' || c == '~' || c == '/';
            length[c] = kept ? 1 : 3;
        }
    }
};
constexpr UrlByteLengths kUrlBytes;

// The names of a CF_HDROP block as a list of file URLs, one a line, written
// straight from the block: each name, once its end is found, is written in
// one sweep that escapes as it copies, into one array sized for the names
// without escapes, their schemes and a share of escapes (it grows when a
// name could escape past the room left); no string per name.
QByteArray UriListOfDropFiles(const std::uint8_t* block, std::size_t size)
{
    static constexpr char kScheme[] = "file://";
    static constexpr std::size_t kSchemeLength = sizeof kScheme - 1;
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t estimate = size + size / 4 + 4096;
    QByteArray list(static_cast<qsizetype>(estimate), Qt::Uninitialized);
    AdviseHugePages(list.data(), estimate);
    std::size_t used = 0;
    ForEachDropName(block, size, [&](const std::uint8_t* name, std::size_t length) {
        // The most the line can take: every byte escaped.
        const std::size_t most = kSchemeLength + 3 * length + 2;
        if (used + most > static_cast<std::size_t>(list.size()))
            list.resize(static_cast<qsizetype>(std::max(used + most, 2 * static_cast<std::size_t>(list.size()))));
        char* const start = list.data() + used;
        char* out = std::copy_n(kScheme, kSchemeLength, start);
        for (const std::uint8_t* p = name, *end = name + length; p != end; ++p) {
            const std::uint8_t c = *p;
            if (kUrlBytes.length[c] == 1) {
                *out++ = static_cast<char>(c);
            } else {
                out[0] = '%';
                out[1] = kHex[c >> 4];
                out[2] = kHex[c & 15];
                out += 3;
            }
        }
        *out++ = '\r';
        *out++ = '\n';
        used += static_cast<std::size_t>(out - start);
    });
    list.truncate(static_cast<qsizetype>(used));
    return list;
}

// ---- pictures

// A packed device-independent bitmap: the 40-byte header, then 32-bit rows
// from the bottom up.
HGLOBAL DibOfImage(const QImage& picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return nullptr;
    const std::size_t row = static_cast<std::size_t>(image.width()) * 4;
    const std::size_t pixels = row * static_cast<std::size_t>(image.height());
    HGLOBAL block = GlobalAlloc(GHND, sizeof(BITMAPINFOHEADER) + pixels);
    if (!block)
        return nullptr;
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = image.width();
    h.biHeight = image.height();
    h.biPlanes = 1;
    h.biBitCount = 32;
    h.biSizeImage = static_cast<DWORD>(pixels);
    h.biXPelsPerMeter = h.biYPelsPerMeter = 3780;  // 96 dpi
    std::memcpy(p, &h, sizeof h);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(p + sizeof h + row * static_cast<std::size_t>(image.height() - 1 - y), image.constScanLine(y), row);
    GlobalUnlock(block);
    return block;
}

} // namespace

// ====================================================================== names

UINT RegisterClipboardFormatA(const char* name)
{
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    FormatNames& n = Names();
    std::lock_guard<std::mutex> hold(n.lock);
    const auto it = n.numbers.find(name);
    if (it != n.numbers.end())
        return it->second;
    if (n.names.size() >= 0x10000 - kFirstRegisteredFormat)
        return 0;
    const UINT number = kFirstRegisteredFormat + static_cast<UINT>(n.names.size());
    n.names.emplace_back(name);
    n.numbers.emplace(name, number);
    return number;
}

int GetClipboardFormatNameA(UINT format, char* name, int size)
{
    if (!name || size <= 0)
        return 0;
    FormatNames& n = Names();
    std::lock_guard<std::mutex> hold(n.lock);
    if (format < kFirstRegisteredFormat || format - kFirstRegisteredFormat >= n.names.size()) {
        name[0] = 0;
        return 0;
    }
    const std::string& s = n.names[format - kFirstRegisteredFormat];
    const std::size_t count = std::min(s.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(name, s.data(), count);
    name[count] = 0;
    return static_cast<int>(count);
}

// ====================================================================== the table

QString MimeTypeOfFormat(CLIPFORMAT format)
{
    if (const FormatRow* row = RowOfFormat(format))
        return QString::fromLatin1(row->mime);
    if (format < kFirstRegisteredFormat)
        return {};
    const std::string name = RegisteredName(format);
    if (name.empty())
        return {};
    if (name.find('/') != std::string::npos)
        return QString::fromStdString(name);
    return QString::fromLatin1(kOwnPrefix) + QString::fromStdString(name);
}

CLIPFORMAT FormatOfMimeType(const QString& mime)
{
    if (IsPlainText(mime))
        return CF_TEXT;
    for (const FormatRow& row : kRows)
        if (mime == QLatin1String(row.mime))
            return FormatOfRow(row);
    const std::string name = mime.toStdString();
    if (mime.startsWith(QLatin1String(kOwnPrefix)))
        return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name.c_str() + sizeof kOwnPrefix - 1));
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name.c_str()));
}

std::vector<CLIPFORMAT> FormatsOfMimeData(const QMimeData& mime)
{
    std::vector<CLIPFORMAT> formats;
    auto add = [&formats](CLIPFORMAT f) {
        if (f && std::find(formats.begin(), formats.end(), f) == formats.end())
            formats.push_back(f);
    };
    for (const QString& type : mime.formats()) {
        if (IsPlainText(type)) {
            add(CF_TEXT);
            add(CF_UNICODETEXT);
            add(CF_OEMTEXT);
        } else if (type == "text/uri-list") {
            if (!LocalFilesOfUriList(mime.data(type)).empty())
                add(CF_HDROP);
        } else if (!type.isEmpty()) {
            add(FormatOfMimeType(type));
        }
    }
    if (mime.hasText() && formats.empty()) {
        add(CF_TEXT);
        add(CF_UNICODETEXT);
        add(CF_OEMTEXT);
    }
    if (mime.hasImage())
        add(CF_DIB);
    return formats;
}

HGLOBAL BlockOfBytes(const char* bytes, std::size_t size, std::size_t zeros)
{
    HGLOBAL block = GlobalAlloc(GHND, size + zeros);
    if (block && size)
        CopyLargeBlock(GlobalLock(block), bytes, size);
    return block;
}

HGLOBAL RenderFromMimeData(const QMimeData& mime, CLIPFORMAT format)
{
    switch (format) {
    case CF_TEXT: {
        const QByteArray text = TextBytes(mime);
        return BlockOfBytes(text.constData(), static_cast<std::size_t>(text.size()), 1);
    }
    case CF_UNICODETEXT: {
        // UTF-16LE, as Windows makes it of text.
        const QString text = QString::fromUtf8(TextBytes(mime));
        std::string bytes;
        bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
        for (const QChar c : text) {
            bytes.push_back(static_cast<char>(c.unicode() & 0xFF));
            bytes.push_back(static_cast<char>(c.unicode() >> 8));
        }
        return BlockOfBytes(bytes.data(), bytes.size(), 2);
    }
    case CF_OEMTEXT: {
        const std::string text = Utf8ToCp437(TextBytes(mime).toStdString());
        return BlockOfBytes(text.data(), text.size(), 1);
    }
    case CF_HDROP: {
        const std::vector<std::string> files = LocalFilesOfUriList(mime.data("text/uri-list"));
        return files.empty() ? nullptr : DropFilesBlock(files);
    }
    case CF_DIB:
        if (mime.hasImage())
            return DibOfImage(qvariant_cast<QImage>(mime.imageData()));
        return nullptr;
    default: {
        const QString type = MimeTypeOfFormat(format);
        if (type.isEmpty() || !mime.hasFormat(type))
            return nullptr;
        const QByteArray bytes = mime.data(type);
        return BlockOfBytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    }
}

QByteArray MimeBytesOfBlock(CLIPFORMAT format, const std::uint8_t* block, std::size_t size)
{
    const FormatRow* row = RowOfFormat(format);
    if (row && row->kind == Kind::FileList)
        return UriListOfDropFiles(block, size);
    if (row && row->kind == Kind::Text)
        if (const auto* end = static_cast<const std::uint8_t*>(std::memchr(block, 0, size)))
            size = static_cast<std::size_t>(end - block);
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    AdviseHugePages(bytes.data(), size);
    if (size)
        CopyLargeBlock(bytes.data(), block, size);
    return bytes;
}

// ====================================================================== dropped files

UINT DragQueryFileA(HDROP drop, UINT index, char* file, UINT size)
{
    const std::vector<std::string> names =
        NamesOfDropFiles(static_cast<const std::uint8_t*>(GlobalLock(drop)), GlobalSize(drop));
    GlobalUnlock(drop);
    if (index == 0xFFFFFFFFu)
        return static_cast<UINT>(names.size());
    if (index >= names.size())
        return 0;
    const std::string& name = names[index];
    if (!file)
        return static_cast<UINT>(name.size());
    if (size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(name.size(), size - 1);
    std::memcpy(file, name.data(), count);
    file[count] = 0;
    return static_cast<UINT>(count);
}

// ====================================================================== media

void ReleaseStgMedium(STGMEDIUM* medium)
{
    if (!medium)
        return;
    if (medium->pUnkForRelease) {
        medium->pUnkForRelease->Release();
    } else {
        switch (medium->tymed) {
        case TYMED_HGLOBAL:
            GlobalFree(medium->hGlobal);
            break;
        case TYMED_GDI:
            DeleteObject(medium->hBitmap);
            break;
        case TYMED_ENHMF:
            DeleteEnhMetaFile(medium->hEnhMetaFile);
            break;
        case TYMED_MFPICT:
            if (medium->hMetaFilePict) {
                if (GlobalSize(medium->hMetaFilePict) >= sizeof(METAFILEPICT)) {
                    METAFILEPICT picture;
                    std::memcpy(&picture, GlobalLock(medium->hMetaFilePict), sizeof picture);
                    DeleteMetaFile(static_cast<HMETAFILE>(picture.hMF));
                }
                GlobalFree(medium->hMetaFilePict);
            }
            break;
        default:
            break;
        }
    }
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
}

namespace {
int g_oleInitCount = 0;
}

HRESULT OleInitialize(void*) { return g_oleInitCount++ == 0 ? S_OK : S_FALSE; }

void OleUninitialize()
{
    if (g_oleInitCount > 0)
        --g_oleInitCount;
}

// ====================================================================== enumerator

HRESULT TEnumFormatEtc::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IEnumFORMATETC});
}

HRESULT TEnumFormatEtc::Next(ULONG count, FORMATETC* items, ULONG* fetched)
{
    ULONG n = 0;
    if (items)
        for (; n < count && m_position < m_entries.size(); ++n)
            items[n] = m_entries[m_position++];
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT TEnumFormatEtc::Skip(ULONG count)
{
    if (count < m_entries.size() - m_position) {
        m_position += count;
        return S_OK;
    }
    return S_FALSE;
}

HRESULT TEnumFormatEtc::Reset()
{
    m_position = 0;
    return S_OK;
}

HRESULT TEnumFormatEtc::Clone(IEnumFORMATETC** out)
{
    if (!out)
        return E_POINTER;
    try {
        *out = new TEnumFormatEtc(m_entries);
    } catch (const std::bad_alloc&) {
        *out = nullptr;
        return E_OUTOFMEMORY;
    }
    (*out)->AddRef();
    return S_OK;
}

// ====================================================================== data objects

HRESULT TDataObjectBase::QueryInterface(REFIID riid, void** ppv)
{
    return QueryFor(riid, ppv, {&IID_IUnknown, &IID_IDataObject});
}

HRESULT TDataObjectBase::CheckContentRequest(const FORMATETC* format)
{
    if (!format)
        return E_INVALIDARG;
    if (format->dwAspect != DVASPECT_CONTENT)
        return DV_E_DVASPECT;
    if (!(format->tymed & TYMED_HGLOBAL))
        return DV_E_TYMED;
    return S_OK;
}

HRESULT TDataObjectBase::StartGetData(const FORMATETC* format, STGMEDIUM* medium)
{
    if (!medium)
        return E_INVALIDARG;
    *medium = STGMEDIUM{};
    return QueryGetData(format);
}

HRESULT TDataObjectBase::GetDataHere(const FORMATETC*, STGMEDIUM*) { return DV_E_FORMATETC; }

HRESULT TDataObjectBase::GetCanonicalFormatEtc(const FORMATETC* in, FORMATETC* out)
{
    if (!in || !out)
        return E_INVALIDARG;
    *out = *in;
    out->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

HRESULT TDataObjectBase::SetData(const FORMATETC*, STGMEDIUM* medium, BOOL release)
{
    if (release && medium)
        ReleaseStgMedium(medium);
    return E_NOTIMPL;
}

HRESULT TDataObjectBase::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (direction != DATADIR_GET)
        return E_NOTIMPL;
    try {
        *out = NewFormatEnumerator();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    (*out)->AddRef();
    return S_OK;
}

HRESULT TDataObjectBase::DAdvise(const FORMATETC*, DWORD, IAdviseSink*, DWORD*) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT TDataObjectBase::DUnadvise(DWORD) { return OLE_E_ADVISENOTSUPPORTED; }

HRESULT TDataObjectBase::EnumDAdvise(IEnumSTATDATA** out)
{
    if (out)
        *out = nullptr;
    return OLE_E_ADVISENOTSUPPORTED;
}
