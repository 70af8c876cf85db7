// Clipboard formats: the registered names, the table of formats and the
// MIME types they travel as, rendering a format from another program's
// data and back, dropped-file blocks, media and the format enumerator.
#include "ole/ole_p.h"

#include "rtl/unicode.h"
#include "shell/shlclip.h"
#include "win/memadvise.h"

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

HGLOBAL DropFilesBlock(const std::vector<std::string>& files)
{
    std::size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& f : files)
        size += f.size() + 1;
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block)
        return nullptr;
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, FALSE};
    std::memcpy(p, &header, sizeof header);
    std::size_t at = sizeof(DROPFILES);
    for (const std::string& f : files) {
        std::memcpy(p + at, f.data(), f.size());
        at += f.size() + 1;
    }
    GlobalUnlock(block);
    return block;
}

std::vector<std::string> NamesOfDropFiles(const std::uint8_t* block, std::size_t size)
{
    std::vector<std::string> names;
    if (!block || size < sizeof(DROPFILES))
        return names;
    DROPFILES header;
    std::memcpy(&header, block, sizeof header);
    if (header.fWide || header.pFiles < sizeof(DROPFILES) || header.pFiles >= size)
        return names;
    for (std::size_t at = header.pFiles; at < size && block[at] != 0;) {
        const auto* end = static_cast<const std::uint8_t*>(std::memchr(block + at, 0, size - at));
        if (!end)
            break;
        names.emplace_back(reinterpret_cast<const char*>(block + at), end - (block + at));
        at = static_cast<std::size_t>(end - block) + 1;
    }
    return names;
}

namespace {

QByteArray UriListOfFiles(const std::vector<std::string>& files)
{
    QByteArray list;
    for (const std::string& f : files)
        list += "file://" + QByteArray::fromStdString(f).toPercentEncoding("/") + "\r\n";
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
        std::memcpy(GlobalLock(block), bytes, size);
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
        return UriListOfFiles(NamesOfDropFiles(block, size));
    if (row && row->kind == Kind::Text)
        if (const auto* end = static_cast<const std::uint8_t*>(std::memchr(block, 0, size)))
            size = static_cast<std::size_t>(end - block);
    QByteArray bytes(static_cast<qsizetype>(size), Qt::Uninitialized);
    AdviseHugePages(bytes.data(), size);
    if (size)
        std::memcpy(bytes.data(), block, size);
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
