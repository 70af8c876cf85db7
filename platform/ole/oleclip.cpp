// The OLE clipboard over Qt's. Our object goes on the clipboard inside an
// adapter that renders a format when a program reads it; a Linux clipboard
// lives in the program that owns it, so flushing renders every format into
// plain data, which a clipboard manager can keep after the program ends.
#include "ole/ole_p.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

struct ClipboardState {
    TComPtr<IDataObject> object;
    QPointer<TDataObjectMime> adapter;
};

ClipboardState& State()
{
    static ClipboardState state;
    return state;
}

QClipboard* Clipboard()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

// Our adapter while the clipboard still shows it; Qt frees it when another
// program takes the clipboard.
TDataObjectMime* CurrentAdapter(QClipboard* clipboard)
{
    ClipboardState& s = State();
    if (!s.adapter || clipboard->mimeData() != s.adapter.data()) {
        s.object.Reset();
        s.adapter = nullptr;
        return nullptr;
    }
    return s.adapter.data();
}

} // namespace

HRESULT OleSetClipboard(IDataObject* data)
{
    QClipboard* clipboard = Clipboard();
    if (!clipboard)
        return CLIPBRD_E_CANT_OPEN;
    ClipboardState& s = State();
    try {
        if (!data) {
            s.adapter = nullptr;
            s.object.Reset();
            clipboard->clear();
            return S_OK;
        }
        auto* adapter = new TDataObjectMime(data);
        s.object = TComPtr<IDataObject>(data);
        s.adapter = adapter;
        clipboard->setMimeData(adapter);
        return S_OK;
    } catch (...) {
        s.adapter = nullptr;
        s.object.Reset();
        return CLIPBRD_E_CANT_SET;
    }
}

HRESULT OleGetClipboard(IDataObject** data)
{
    if (!data)
        return E_INVALIDARG;
    *data = nullptr;
    QClipboard* clipboard = Clipboard();
    if (!clipboard)
        return CLIPBRD_E_CANT_OPEN;
    try {
        TComPtr<IDataObject> object;
        if (TDataObjectMime* ours = CurrentAdapter(clipboard))
            object = TComPtr<IDataObject>(ours->Object());
        else
            object = DataObjectOfMime(clipboard->mimeData());
        *data = object.Get();
        (*data)->AddRef();
        return S_OK;
    } catch (...) {
        return CLIPBRD_E_CANT_OPEN;
    }
}

HRESULT OleIsCurrentClipboard(IDataObject* data)
{
    QClipboard* clipboard = Clipboard();
    if (!clipboard || !data)
        return S_FALSE;
    return CurrentAdapter(clipboard) && State().object.Get() == data ? S_OK : S_FALSE;
}

HRESULT OleFlushClipboard()
{
    QClipboard* clipboard = Clipboard();
    if (!clipboard)
        return CLIPBRD_E_CANT_OPEN;
    TDataObjectMime* ours = CurrentAdapter(clipboard);
    if (!ours)
        return S_OK;
    try {
        QMimeData* copy = ours->RenderedCopy();
        State().adapter = nullptr;
        State().object.Reset();
        clipboard->setMimeData(copy);
        return S_OK;
    } catch (...) {
        return CLIPBRD_E_CANT_SET;
    }
}
