// The OLE layer over Qt: registered format names, other programs' data read
// as formats, our data objects offered on the clipboard as MIME types, and
// Qt's drag events turned into drop-target calls.
#include "ole/ole2.h"

#include "test_support/scripted_drag.h"
#include "test_support/temp_dir.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QWidget>

#include <filesystem>
#include <fstream>

namespace {

TApplication& App()
{
    static TApplication* app = new TApplication();
    return *app;
}

CLIPFORMAT Reg(const char* name) { return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name)); }

std::vector<CLIPFORMAT> FormatsOf(IDataObject* data)
{
    std::vector<CLIPFORMAT> out;
    TComPtr<IEnumFORMATETC> e;
    if (FAILED(data->EnumFormatEtc(DATADIR_GET, e.Out())))
        return out;
    FORMATETC f;
    while (e->Next(1, &f, nullptr) == S_OK)
        out.push_back(f.cfFormat);
    return out;
}

std::string Get(IDataObject* data, CLIPFORMAT format)
{
    FORMATETC request = ContentFormat(format);
    STGMEDIUM medium{};
    return SUCCEEDED(data->GetData(&request, &medium)) ? TakeBlock(medium) : std::string("<failed>");
}

// The clipboard as another program leaves it.
TComPtr<IDataObject> Foreign(QMimeData* mime)
{
    QGuiApplication::clipboard()->setMimeData(mime);
    TComPtr<IDataObject> data;
    EXPECT_EQ(OleGetClipboard(data.Out()), S_OK);
    return data;
}

class OleTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override
    {
        OleSetClipboard(nullptr);
        QGuiApplication::clipboard()->clear();
    }
};

TEST_F(OleTest, RegistersFormatNamesFromC000)
{
    const UINT a = RegisterClipboardFormatA("Vistrel test format A");
    EXPECT_GE(a, 0xC000u);
    EXPECT_EQ(RegisterClipboardFormatA("Vistrel test format A"), a);
    EXPECT_NE(RegisterClipboardFormatA("Vistrel test format B"), a);
    EXPECT_EQ(RegisterClipboardFormatA(""), 0u);
    char name[8];
    EXPECT_EQ(GetClipboardFormatNameA(a, name, sizeof name), 7);
    EXPECT_STREQ(name, "Vistrel");
    EXPECT_EQ(GetClipboardFormatNameA(CF_TEXT, name, sizeof name), 0);
}

TEST_F(OleTest, ReadsAnotherProgramsTextAsWindowsWouldOfferIt)
{
    auto* mime = new QMimeData();
    mime->setText(QString::fromUtf8("caf\xC3\xA9"));
    TComPtr<IDataObject> data = Foreign(mime);
    EXPECT_EQ(FormatsOf(data.Get()), (std::vector<CLIPFORMAT>{CF_TEXT, CF_UNICODETEXT, CF_OEMTEXT}));
    EXPECT_EQ(Get(data.Get(), CF_TEXT), std::string("caf\xC3\xA9") + '\0');
    EXPECT_EQ(Get(data.Get(), CF_UNICODETEXT), std::string("c\0a\0f\0\xE9\0\0\0", 10));
    EXPECT_EQ(Get(data.Get(), CF_OEMTEXT), std::string("caf\x82") + '\0');
    FORMATETC picture = ContentFormat(CF_DIB);
    EXPECT_EQ(data->QueryGetData(&picture), DV_E_FORMATETC);
}

TEST_F(OleTest, ReadsFilesRichTextAndPicturesOfAnotherProgram)
{
    TempDir dir;
    dir.Write("a b.txt", "x");
    auto* mime = new QMimeData();
    mime->setData("text/uri-list", "file://" + QByteArray::fromStdString(dir.Path("a b.txt")).replace(" ", "%20") +
                                       "\r\nhttp://example.org/x\r\n");
    mime->setData("text/rtf", "{\\rtf1 x}");
    mime->setData("application/x-other-thing", "other");
    mime->setImageData(QImage(3, 2, QImage::Format_RGB32));
    TComPtr<IDataObject> data = Foreign(mime);
    const std::vector<CLIPFORMAT> formats = FormatsOf(data.Get());
    for (CLIPFORMAT f : {CF_HDROP, Reg("Rich Text Format"), Reg("application/x-other-thing"), CF_DIB})
        EXPECT_NE(std::find(formats.begin(), formats.end(), f), formats.end()) << f;

    FORMATETC request = ContentFormat(CF_HDROP);
    STGMEDIUM medium{};
    ASSERT_EQ(data->GetData(&request, &medium), S_OK);
    ASSERT_EQ(DragQueryFileA(medium.hGlobal, 0xFFFFFFFFu, nullptr, 0), 1u);  // the web address is no file
    std::string name(DragQueryFileA(medium.hGlobal, 0, nullptr, 0), '\0');
    DragQueryFileA(medium.hGlobal, 0, name.data(), static_cast<UINT>(name.size() + 1));
    EXPECT_EQ(name, dir.Path("a b.txt"));
    char shortName[4];
    EXPECT_EQ(DragQueryFileA(medium.hGlobal, 0, shortName, sizeof shortName), 3u);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(medium.hGlobal, nullptr);

    EXPECT_EQ(Get(data.Get(), Reg("Rich Text Format")), "{\\rtf1 x}");
    EXPECT_EQ(Get(data.Get(), Reg("application/x-other-thing")), "other");
    const std::string dib = Get(data.Get(), CF_DIB);
    ASSERT_EQ(dib.size(), 40u + 3 * 2 * 4);
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), sizeof h);
    EXPECT_EQ(h.biWidth, 3);
    EXPECT_EQ(h.biHeight, 2);
    EXPECT_EQ(h.biBitCount, 32);
}

TEST_F(OleTest, DragQueryFileReadsNothingPastADamagedBlock)
{
    DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, FALSE};
    std::string block(reinterpret_cast<const char*>(&header), sizeof header);
    block += "/a";  // no zero byte after the name
    HGLOBAL h = GlobalBlock(block);
    EXPECT_EQ(DragQueryFileA(h, 0xFFFFFFFFu, nullptr, 0), 0u);
    GlobalFree(h);
    header.pFiles = 4000;
    h = GlobalBlock(std::string(reinterpret_cast<const char*>(&header), sizeof header) + std::string("/a\0\0", 4));
    EXPECT_EQ(DragQueryFileA(h, 0xFFFFFFFFu, nullptr, 0), 0u);
    GlobalFree(h);
}

TEST_F(OleTest, OffersOurObjectAndRendersAFormatOnlyWhenRead)
{
    auto* object = new FixedDataObject();
    TComPtr<IDataObject> hold(object);
    object->AddBlock(CF_TEXT, std::string("hello") + '\0' + "rest");
    object->AddBlock(Reg("Vistrel test own"), "own");
    object->AddBlock(CF_UNICODETEXT, std::string("h\0\0\0", 4));  // no Linux program reads this
    ASSERT_EQ(OleSetClipboard(object), S_OK);
    EXPECT_EQ(OleIsCurrentClipboard(object), S_OK);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(mime->formats(), (QStringList{"text/plain", "application/x-vistrel-Vistrel test own"}));
    EXPECT_EQ(object->gets, 0);
    EXPECT_EQ(mime->text().toStdString(), "hello");
    EXPECT_EQ(mime->data("application/x-vistrel-Vistrel test own").toStdString(), "own");
    EXPECT_GE(object->gets, 2);

    TComPtr<IDataObject> back;
    ASSERT_EQ(OleGetClipboard(back.Out()), S_OK);
    EXPECT_EQ(back.Get(), object);  // our own object while it is current

    ASSERT_EQ(OleFlushClipboard(), S_OK);
    EXPECT_EQ(OleIsCurrentClipboard(object), S_FALSE);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "hello");

    auto* other = new QMimeData();
    other->setText("theirs");
    ASSERT_EQ(OleSetClipboard(object), S_OK);
    QGuiApplication::clipboard()->setMimeData(other);
    EXPECT_EQ(OleIsCurrentClipboard(object), S_FALSE);
}

TEST_F(OleTest, OffersAVirtualFileToFileManagersAsAFileOfTheCache)
{
    TempDir cache;
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(cache.Path("")));
    std::string descriptor(336, '\0');
    descriptor[0] = 1;
    std::memcpy(descriptor.data() + 76, "../Dump of x.bin", 16);
    auto* object = new FixedDataObject();
    TComPtr<IDataObject> hold(object);
    object->AddBlock(Reg("FileGroupDescriptor"), descriptor);
    object->AddBlock(Reg("FileContents"), "bytes");
    ASSERT_EQ(OleSetClipboard(object), S_OK);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(mime->hasUrls());
    const std::string path = mime->urls().at(0).toLocalFile().toStdString();
    EXPECT_EQ(std::filesystem::path(path).filename(), ".._Dump of x.bin");  // stays in its folder
    EXPECT_EQ(path.rfind(cache.Path("vistrel/drop-"), 0), 0u);
    std::ifstream in(path);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(contents, "bytes");
    QGuiApplication::clipboard()->clear();
    EXPECT_FALSE(std::filesystem::exists(path));
    qunsetenv("XDG_CACHE_HOME");
}

TEST_F(OleTest, TurnsQtDragEventsIntoDropTargetCalls)
{
    DropWindow window;
    TPanel* panel = window.panel;
    auto* target = new RecordingDropTarget(DROPEFFECT_COPY);
    TComPtr<IDropTarget> hold(target);
    EXPECT_EQ(RegisterDragDrop(0x7FFFFFF, target), DRAGDROP_E_INVALIDHWND);
    EXPECT_EQ(RevokeDragDrop(panel->Handle()), DRAGDROP_E_NOTREGISTERED);
    ASSERT_EQ(RegisterDragDrop(panel->Handle(), target), S_OK);
    EXPECT_EQ(RegisterDragDrop(panel->Handle(), target), DRAGDROP_E_ALREADYREGISTERED);
    QWidget* w = panel->Widget();
    const QPoint inside = w->mapToGlobal(QPoint(20, 30));
    EXPECT_EQ(RegisteredDropTargetAt({inside.x(), inside.y()}), target);
    EXPECT_EQ(RegisteredDropTargetAt({inside.x() + 1000, inside.y()}), nullptr);

    QMimeData mime;
    mime.setText("dropped");
    QDragEnterEvent enter(QPoint(20, 30), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::ControlModifier);
    QCoreApplication::sendEvent(w, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    EXPECT_EQ(target->keys, MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(target->point.x, inside.x());
    EXPECT_EQ(target->point.y, inside.y());
    target->answer = DROPEFFECT_MOVE;
    QDropEvent drop(QPointF(20, 30), Qt::CopyAction | Qt::MoveAction, &mime, Qt::NoButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(w, &drop);
    EXPECT_EQ(drop.dropAction(), Qt::MoveAction);
    EXPECT_EQ(target->keys, MK_SHIFT);
    EXPECT_EQ(target->calls,
              (std::vector<std::string>{"enter " + std::to_string(DROPEFFECT_COPY | DROPEFFECT_MOVE), "drop"}));
    EXPECT_EQ(target->dropped, std::string("dropped") + '\0');

    // A drag that starts in the program hands the target the source's own
    // object, not one over its MIME data.
    auto* ours = new FixedDataObject();
    TComPtr<IDataObject> holdOurs(ours);
    ours->AddBlock(CF_TEXT, std::string("ours") + '\0');
    ASSERT_EQ(OleSetClipboard(ours), S_OK);
    const QMimeData* adapter = QGuiApplication::clipboard()->mimeData();
    target->answer = DROPEFFECT_COPY;
    QDragEnterEvent enterFromUs(QPoint(20, 30), Qt::CopyAction, adapter, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enterFromUs);
    QDropEvent fromUs(QPointF(20, 30), Qt::CopyAction, adapter, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &fromUs);
    EXPECT_EQ(target->droppedObject, ours);
    EXPECT_EQ(target->dropped, std::string("ours") + '\0');

    ASSERT_EQ(RevokeDragDrop(panel->Handle()), S_OK);
    EXPECT_EQ(RegisteredDropTargetAt({inside.x(), inside.y()}), nullptr);
}

TEST_F(OleTest, ReleasesEveryKindOfMedium)
{
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GHND, 16);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(medium.tymed, TYMED_NULL);
    const std::string wmf(18, '\x01');
    METAFILEPICT picture{MM_TEXT, 1, 1, SetMetaFileBitsEx(18, reinterpret_cast<const BYTE*>(wmf.data()))};
    medium.tymed = TYMED_MFPICT;
    medium.hMetaFilePict = GlobalBlock(std::string(reinterpret_cast<const char*>(&picture), sizeof picture));
    ReleaseStgMedium(&medium);  // the metafile goes with its record (the leak checker watches)
    EXPECT_EQ(medium.hMetaFilePict, nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, SIZE_MAX - 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

} // namespace
