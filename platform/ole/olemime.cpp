// The adapters between data objects and QMimeData: a data object of ours
// offered to Qt, and another program's QMimeData read as a data object.
#include "ole/ole_p.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The bytes of a medium's global block; empty for any other medium.
QByteArray BytesOfMedium(CLIPFORMAT format, STGMEDIUM& medium)
{
    QByteArray bytes;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) {
        bytes = MimeBytesOfBlock(format, static_cast<const std::uint8_t*>(GlobalLock(medium.hGlobal)),
                                 GlobalSize(medium.hGlobal));
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    return bytes;
}

// A file name that stays inside its folder: no '/', not "." or "..".
std::string SafeFileName(std::string name)
{
    for (char& c : name)
        if (c == '/')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        name = "Dump.bin";
    return name;
}

// The file name of item 0 of an ANSI FILEGROUPDESCRIPTOR: 260 bytes at
// offset 76, read within the block.
constexpr std::size_t kDescriptorNameOffset = 76;
constexpr std::size_t kDescriptorNameSize = 260;

std::string DescriptorFileName(const QByteArray& descriptor)
{
    if (static_cast<std::size_t>(descriptor.size()) <= kDescriptorNameOffset)
        return {};
    const char* name = descriptor.constData() + kDescriptorNameOffset;
    const std::size_t room =
        std::min(kDescriptorNameSize, static_cast<std::size_t>(descriptor.size()) - kDescriptorNameOffset);
    return std::string(name, strnlen(name, room));
}

} // namespace

std::string ProgramCacheFolder()
{
    std::string base;
    if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x == '/')
        base = x;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.cache";
    else
        base = "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/vistrel";
    QDir().mkpath(QString::fromStdString(folder));
    return folder;
}

// ====================================================================== our object for Qt

TDataObjectMime::TDataObjectMime(IDataObject* object) : m_object(object)
{
    TComPtr<IEnumFORMATETC> formats;
    if (FAILED(object->EnumFormatEtc(DATADIR_GET, formats.Out())) || !formats)
        return;
    const CLIPFORMAT descriptor = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileGroupDescriptor"));
    const CLIPFORMAT contents = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileContents"));
    bool hasDescriptor = false, hasContents = false, hasFiles = false;
    FORMATETC entry;
    while (formats->Next(1, &entry, nullptr) == S_OK) {
        if (!(entry.tymed & TYMED_HGLOBAL))
            continue;
        hasDescriptor |= entry.cfFormat == descriptor;
        hasContents |= entry.cfFormat == contents;
        hasFiles |= entry.cfFormat == CF_HDROP;
        const QString type = MimeTypeOfFormat(entry.cfFormat);
        if (!type.isEmpty())
            m_types.emplace_back(type, entry.cfFormat);
    }
    // File managers know no virtual files: they get the file itself.
    m_virtualFile = hasDescriptor && hasContents && !hasFiles;
}

TDataObjectMime::~TDataObjectMime()
{
    if (!m_dumpFile.empty())
        ::unlink(m_dumpFile.c_str());
    if (!m_dumpFolder.empty())
        ::rmdir(m_dumpFolder.c_str());
}

QStringList TDataObjectMime::formats() const
{
    QStringList list;
    for (const auto& t : m_types)
        list << t.first;
    if (m_virtualFile)
        list << QStringLiteral("text/uri-list");
    return list;
}

bool TDataObjectMime::hasFormat(const QString& mime) const { return formats().contains(mime); }

QByteArray TDataObjectMime::FormatBytes(CLIPFORMAT format) const
{
    FORMATETC request = ContentFormat(format);
    STGMEDIUM medium{};
    if (FAILED(m_object->GetData(&request, &medium)))
        return {};
    return BytesOfMedium(format, medium);
}

QByteArray TDataObjectMime::VirtualFileUri() const
{
    if (m_dumpFile.empty()) {
        const std::string name = SafeFileName(DescriptorFileName(
            FormatBytes(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileGroupDescriptor")))));
        std::string folder = ProgramCacheFolder() + "/drop-XXXXXX";
        if (!::mkdtemp(folder.data()))
            return {};
        const std::string path = folder + "/" + name;
        QFile file(QString::fromStdString(path));
        const QByteArray contents = FormatBytes(static_cast<CLIPFORMAT>(RegisterClipboardFormatA("FileContents")));
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            file.remove();
            ::rmdir(folder.c_str());
            return {};
        }
        m_dumpFolder = folder;
        m_dumpFile = path;
    }
    return "file://" + QByteArray::fromStdString(m_dumpFile).toPercentEncoding("/") + "\r\n";
}

QVariant TDataObjectMime::retrieveData(const QString& mime, QMetaType) const
{
    // Qt calls this from its event handling, where no exception may pass.
    try {
        if (m_virtualFile && mime == QLatin1String("text/uri-list"))
            return VirtualFileUri();
        const CLIPFORMAT format = FormatOfMimeType(mime);
        for (const auto& t : m_types)
            if (t.second == format)
                return FormatBytes(format);
    } catch (...) {
    }
    return {};
}

QMimeData* TDataObjectMime::RenderedCopy() const
{
    auto* copy = new QMimeData();
    for (const auto& t : m_types)
        copy->setData(t.first, FormatBytes(t.second));
    return copy;
}

// ====================================================================== another program's data

TMimeDataObject::TMimeDataObject(const QMimeData* mime) : m_mime(mime)
{
    if (mime)
        m_formats = FormatsOfMimeData(*mime);
}

HRESULT TMimeDataObject::QueryGetData(const FORMATETC* format)
{
    if (const HRESULT request = CheckContentRequest(format); FAILED(request))
        return request;
    if (std::find(m_formats.begin(), m_formats.end(), format->cfFormat) == m_formats.end())
        return DV_E_FORMATETC;
    return S_OK;
}

HRESULT TMimeDataObject::GetData(const FORMATETC* format, STGMEDIUM* medium)
{
    const HRESULT supported = StartGetData(format, medium);
    if (FAILED(supported))
        return supported;
    if (!m_mime)
        return E_FAIL;
    try {
        HGLOBAL block = RenderFromMimeData(*m_mime, format->cfFormat);
        if (!block)
            return E_OUTOFMEMORY;
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

IEnumFORMATETC* TMimeDataObject::NewFormatEnumerator()
{
    std::vector<FORMATETC> entries;
    for (CLIPFORMAT f : m_formats)
        entries.push_back(ContentFormat(f));
    return new TEnumFormatEtc(std::move(entries));
}

TComPtr<IDataObject> DataObjectOfMime(const QMimeData* mime)
{
    if (const auto* ours = dynamic_cast<const TDataObjectMime*>(mime))
        return TComPtr<IDataObject>(ours->Object());
    return TComPtr<IDataObject>(new TMimeDataObject(mime));
}
