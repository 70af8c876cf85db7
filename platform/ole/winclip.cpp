// The handle clipboard over QClipboard. Handles set while the clipboard is
// open are kept here (the in-process reader gets them back as they are)
// and published as one QMimeData when it is closed; handles made from
// another program's data live until the clipboard is closed.
#include "ole/winclip.h"

#include "gdi/gdiqt.h"
#include "ole/ole_p.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPointer>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

struct ClipboardState {
    bool open = false;
    bool owned = false;                // emptied by us since it was opened
    bool changed = false;              // something was set since then
    std::map<UINT, HANDLE> ownData;    // what we set, until the next empty
    std::map<UINT, HANDLE> rendered;   // made from another program's data, until close
    QPointer<QMimeData> published;     // what we put on QClipboard last
};

ClipboardState& State()
{
    static ClipboardState state;
    return state;
}

void FreeHandle(UINT format, HANDLE handle)
{
    if (format == CF_BITMAP || format == CF_PALETTE)
        DeleteObject(handle);
    else
        GlobalFree(handle);
}

void FreeAll(std::map<UINT, HANDLE>& handles)
{
    for (const auto& [format, handle] : handles)
        FreeHandle(format, handle);
    handles.clear();
}

QClipboard* SystemClipboard() { return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr; }

// Our handles stand for the clipboard only while our data is on it; once
// another program (or the OLE clipboard) replaced it, they are dropped.
bool OwnDataCurrent()
{
    ClipboardState& s = State();
    QClipboard* clipboard = SystemClipboard();
    const bool current = clipboard && s.published && clipboard->mimeData() == s.published.data();
    if (!current && !s.changed && !s.ownData.empty())
        FreeAll(s.ownData);
    return current || s.changed;
}

HBITMAP BitmapOfImage(const QImage& picture)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = image.width();
    info.bmiHeader.biHeight = -image.height();  // top row first, as the QImage
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap)
        return nullptr;
    const std::size_t row = static_cast<std::size_t>(image.width()) * 4;
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(static_cast<std::uint8_t*>(bits) + row * static_cast<std::size_t>(y), image.constScanLine(y), row);
    return bitmap;
}

QMimeData* MimeOfOwnData(const std::map<UINT, HANDLE>& data)
{
    auto* mime = new QMimeData;
    for (const auto& [format, handle] : data) {
        if (format == CF_BITMAP) {
            mime->setImageData(QImageFromBitmap(static_cast<HBITMAP>(handle)));
            continue;
        }
        const QString type = MimeTypeOfFormat(static_cast<CLIPFORMAT>(format));
        if (type.isEmpty() || format == CF_PALETTE)
            continue;
        const auto* block = static_cast<const std::uint8_t*>(GlobalLock(handle));
        mime->setData(type, MimeBytesOfBlock(static_cast<CLIPFORMAT>(format), block, GlobalSize(handle)));
        GlobalUnlock(handle);
    }
    return mime;
}

}  // namespace

BOOL OpenClipboard(HANDLE)
{
    ClipboardState& s = State();
    if (s.open || !SystemClipboard()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    s.open = true;
    s.owned = s.changed = false;
    return TRUE;
}

BOOL EmptyClipboard()
{
    ClipboardState& s = State();
    if (!s.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    FreeAll(s.ownData);
    FreeAll(s.rendered);
    SystemClipboard()->clear();
    s.published = nullptr;
    s.owned = true;
    s.changed = false;
    return TRUE;
}

HANDLE SetClipboardData(UINT format, HANDLE data)
{
    ClipboardState& s = State();
    if (!s.open || !s.owned || !data) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto it = s.ownData.find(format);
    if (it != s.ownData.end() && it->second != data)
        FreeHandle(format, it->second);
    s.ownData[format] = data;
    s.changed = true;
    return data;
}

BOOL CloseClipboard()
{
    ClipboardState& s = State();
    if (!s.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    FreeAll(s.rendered);
    if (s.changed) {
        QMimeData* mime = MimeOfOwnData(s.ownData);
        SystemClipboard()->setMimeData(mime);
        s.published = mime;
    }
    s.open = s.owned = s.changed = false;
    return TRUE;
}

BOOL IsClipboardFormatAvailable(UINT format)
{
    ClipboardState& s = State();
    if (OwnDataCurrent())
        return s.ownData.count(format) ? TRUE : FALSE;
    QClipboard* clipboard = SystemClipboard();
    const QMimeData* mime = clipboard ? clipboard->mimeData() : nullptr;
    if (!mime)
        return FALSE;
    if (format == CF_BITMAP)
        return mime->hasImage() ? TRUE : FALSE;
    const std::vector<CLIPFORMAT> formats = FormatsOfMimeData(*mime);
    return std::find(formats.begin(), formats.end(), format) != formats.end() ? TRUE : FALSE;
}

HANDLE GetClipboardData(UINT format)
{
    ClipboardState& s = State();
    if (!s.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (OwnDataCurrent()) {
        auto it = s.ownData.find(format);
        return it == s.ownData.end() ? nullptr : it->second;
    }
    if (auto it = s.rendered.find(format); it != s.rendered.end())
        return it->second;
    const QMimeData* mime = SystemClipboard()->mimeData();
    if (!mime)
        return nullptr;
    HANDLE handle = nullptr;
    if (format == CF_BITMAP) {
        if (mime->hasImage())
            handle = BitmapOfImage(qvariant_cast<QImage>(mime->imageData()));
    } else {
        handle = RenderFromMimeData(*mime, static_cast<CLIPFORMAT>(format));
    }
    if (handle)
        s.rendered[format] = handle;
    return handle;
}
