// Inside the OLE layer: the format table, and the two adapters between data
// objects and Qt's QMimeData.
#pragma once

#include "ole/ole2.h"
#include "ole/oleobj.h"

#include <QMimeData>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// The per-user cache folder of the program ($XDG_CACHE_HOME/vistrel), made
// on demand.
std::string ProgramCacheFolder();

// The MIME type a format travels as between programs; empty for a format
// that no Linux program offers or reads (CF_BITMAP, CF_UNICODETEXT, ...).
QString MimeTypeOfFormat(CLIPFORMAT format);
// The format of a MIME type (a foreign one registered under its own name).
CLIPFORMAT FormatOfMimeType(const QString& mime);

// The formats a QMimeData of another program offers, in the order of its
// types, with the text formats Windows would make of its text and CF_DIB
// for a picture Qt can decode.
std::vector<CLIPFORMAT> FormatsOfMimeData(const QMimeData& mime);
// A new global block with the format rendered from the QMimeData; null
// when it does not hold the format (or memory is short).
HGLOBAL RenderFromMimeData(const QMimeData& mime, CLIPFORMAT format);
// The bytes another program reads for a block of the format.
QByteArray MimeBytesOfBlock(CLIPFORMAT format, const std::uint8_t* block, std::size_t size);
// A new global block holding the bytes, with extra zero bytes after them.
HGLOBAL BlockOfBytes(const char* bytes, std::size_t size, std::size_t zeros = 0);

// A data object of ours offered to Qt: each format is asked of the object
// only when it is read. An object that offers a virtual file
// ("FileGroupDescriptor" with "FileContents") is also offered as a list of
// one local file, written into the program's cache folder on first request
// and deleted with this adapter.
class TDataObjectMime : public QMimeData {
public:
    explicit TDataObjectMime(IDataObject* object);
    ~TDataObjectMime() override;
    IDataObject* Object() const { return m_object.Get(); }
    QStringList formats() const override;
    bool hasFormat(const QString& mime) const override;
    // Every format rendered now, for data that must outlive the object.
    QMimeData* RenderedCopy() const;

protected:
    QVariant retrieveData(const QString& mime, QMetaType type) const override;

private:
    QByteArray FormatBytes(CLIPFORMAT format) const;
    QByteArray VirtualFileUri() const;
    TComPtr<IDataObject> m_object;
    std::vector<std::pair<QString, CLIPFORMAT>> m_types;
    bool m_virtualFile = false;
    mutable std::string m_dumpFolder;
    mutable std::string m_dumpFile;
};

// A data object over a QMimeData of another program (the clipboard's or a
// drop's); it fails every request once that QMimeData is gone.
class TMimeDataObject : public TDataObjectBase {
public:
    explicit TMimeDataObject(const QMimeData* mime);
    HRESULT GetData(const FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT QueryGetData(const FORMATETC* format) override;

protected:
    IEnumFORMATETC* NewFormatEnumerator() override;

private:
    QPointer<const QMimeData> m_mime;
    std::vector<CLIPFORMAT> m_formats;
};

// The data object a drop or a paste reads: ours when the QMimeData is one
// of our adapters, else a new one over it.
TComPtr<IDataObject> DataObjectOfMime(const QMimeData* mime);
