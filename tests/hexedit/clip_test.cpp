// The hex editor's clipboard: its data object byte for byte, the real
// (offscreen) clipboard between two controls and with another program's
// text, where pasted and dropped bytes go, and reading dropped files.
#include "hex_fixture.h"

#include "hexedit/zazdataobj.h"
#include "fuzz/ole_medium_fuzz_one.h"
#include "hexedit/zazolepaste.h"
#include "test_support/fuzz_corpus.h"
#include "test_support/modal_driver.h"
#include "test_support/scripted_drag.h"
#include "test_support/temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

std::string Get(IDataObject* data, CLIPFORMAT format, LONG index = -1, HRESULT* result = nullptr)
{
    FORMATETC request = ContentFormat(format);
    request.lindex = index;
    STGMEDIUM medium{};
    const HRESULT hr = data->GetData(&request, &medium);
    if (result)
        *result = hr;
    return SUCCEEDED(hr) ? TakeBlock(medium) : std::string();
}

TComPtr<TZAZDataObject> Object(const std::string& bytes, bool hex = false, bool swap = false,
                               const std::string& file = "/data/report.txt")
{
    return TComPtr<TZAZDataObject>(new TZAZDataObject(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                      static_cast<std::int32_t>(bytes.size()), file, hex, swap));
}

std::uint32_t U32(const std::string& s, size_t at)
{
    std::uint32_t v;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

// The own format's block of the bytes.
std::string OwnBlock(const std::string& bytes)
{
    std::string block = "RADE" + Bytes({1, 0, 1, 0});
    const auto n = static_cast<std::uint32_t>(bytes.size());
    block.append(reinterpret_cast<const char*>(&n), 4);
    return block + bytes;
}

// Our clipboard emptied, as a fresh session has it.
void ClearClipboard()
{
    OleSetClipboard(nullptr);
    QGuiApplication::clipboard()->clear();
}

// Any modal window that comes up is noted and closed (a test that expects
// none fails then, instead of hanging).
class DialogWatch {
public:
    DialogWatch()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                seen = true;
                modal->close();
            }
        });
        m_timer.start(10);
    }
    bool seen = false;

private:
    QTimer m_timer;
};

// ====================================================================== the data object

TEST(ZAZDataObject, RendersEachFormatExactly)
{
    TestApplication();
    const TZAZClipFormats& f = ZAZClipFormats();
    struct Case {
        const char* what;
        std::string bytes;
        bool hex, swap;
        CLIPFORMAT format;
        LONG index;
        std::string expected;
    } cases[] = {
        {"own format", Bytes({1, 2}), false, false, f.Own, -1, Bytes({0x52, 0x41, 0x44, 0x45, 1, 0, 1, 0, 2, 0, 0, 0, 1, 2})},
        {"text stops at a zero byte", Bytes({0x41, 0, 0x42}), false, false, CF_TEXT, -1, Bytes({0x41, 0})},
        {"text without a zero byte", "AB", false, false, CF_TEXT, 0, Bytes({0x41, 0x42, 0})},
        {"hex text of every byte", Bytes({0x41, 0, 0x42}), true, false, CF_TEXT, -1, std::string("410042") + '\0'},
        {"hex text with swapped nibbles", Bytes({0x1F}), true, true, CF_TEXT, -1, std::string("F1") + '\0'},
        {"file contents, any index", Bytes({7, 0, 9}), false, false, f.FileContents, 5, Bytes({7, 0, 9})},
        {"empty own format", "", false, false, f.Own, -1, "RADE" + Bytes({1, 0, 1, 0, 0, 0, 0, 0})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto object = Object(c.bytes, c.hex, c.swap);
        FORMATETC request = ContentFormat(c.format);
        request.lindex = c.index;
        EXPECT_EQ(object->QueryGetData(&request), S_OK);
        EXPECT_EQ(Get(object.Get(), c.format, c.index), c.expected);
    }
}

TEST(ZAZDataObject, OffersAVirtualFileNamedAfterTheCurrentFile)
{
    TestApplication();
    const auto before = std::chrono::system_clock::now();
    auto object = Object(std::string(1000, 'x'), false, false, "/home/u/report.txt");
    const std::string d = Get(object.Get(), ZAZClipFormats().FileGroupDescriptor);
    ASSERT_EQ(d.size(), 336u);
    EXPECT_EQ(U32(d, 0), 1u);
    EXPECT_EQ(U32(d, 4), 0x60u);
    EXPECT_EQ(U32(d, 68), 0u);
    EXPECT_EQ(U32(d, 72), 1000u);
    EXPECT_EQ(std::string(d.c_str() + 76), "Dump of report.bin");
    std::uint64_t time;
    std::memcpy(&time, d.data() + 60, 8);
    const auto unixSeconds = static_cast<std::int64_t>(time / 10000000 - 11644473600ull);
    EXPECT_NEAR(unixSeconds, std::chrono::system_clock::to_time_t(before), 5);
    EXPECT_EQ(d.substr(8, 52), std::string(52, '\0'));
}

TEST(ZAZDataObject, RefusesWhatItDoesNotOffer)
{
    TestApplication();
    auto object = Object("ab");
    struct Case {
        const char* what;
        FORMATETC request;
        HRESULT expected;
    } cases[] = {
        {"text as a stream", {CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM}, DV_E_TYMED},
        {"a bitmap", {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
        {"an icon", {CF_TEXT, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, DV_E_DVASPECT},
        {"text item 3", {CF_TEXT, nullptr, DVASPECT_CONTENT, 3, TYMED_HGLOBAL}, DV_E_LINDEX},
        {"file contents item 3", {ZAZClipFormats().FileContents, nullptr, DVASPECT_CONTENT, 3, TYMED_HGLOBAL}, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(object->QueryGetData(&c.request), c.expected);
        STGMEDIUM medium{};
        EXPECT_EQ(object->GetData(&c.request, &medium), c.expected);
        if (SUCCEEDED(c.expected))
            ReleaseStgMedium(&medium);
        else
            EXPECT_EQ(medium.hGlobal, nullptr);
    }
    FORMATETC text = ContentFormat(CF_TEXT);
    STGMEDIUM medium{};
    EXPECT_EQ(object->GetDataHere(&text, &medium), DV_E_FORMATETC);
    FORMATETC canonical{};
    EXPECT_EQ(object->GetCanonicalFormatEtc(&text, &canonical), DATA_S_SAMEFORMATETC);
    IEnumFORMATETC* set = reinterpret_cast<IEnumFORMATETC*>(1);
    EXPECT_EQ(object->EnumFormatEtc(DATADIR_SET, &set), E_NOTIMPL);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(object->DAdvise(&text, 0, nullptr, nullptr), OLE_E_ADVISENOTSUPPORTED);
}

TEST(ZAZDataObject, TakesThePerformedEffectOfADropTarget)
{
    TestApplication();
    auto object = Object("ab");
    auto set = [&](CLIPFORMAT format, const std::string& block) {
        FORMATETC request = ContentFormat(format);
        STGMEDIUM medium{};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = GlobalBlock(block);
        return object->SetData(&request, &medium, TRUE);
    };
    EXPECT_EQ(set(CF_TEXT, Bytes({2, 0, 0, 0})), E_NOTIMPL);
    EXPECT_EQ(set(ZAZClipFormats().PerformedDropEffect, Bytes({2, 0})), E_NOTIMPL);  // shorter than its value
    EXPECT_FALSE(object->HasPerformedEffect());
    EXPECT_EQ(set(ZAZClipFormats().LogicalPerformedEffect, Bytes({2, 0, 0, 0})), S_OK);
    EXPECT_TRUE(object->HasPerformedEffect());
    EXPECT_EQ(object->PerformedEffect(), DROPEFFECT_MOVE);
}

TEST(ZAZDataObject, EnumeratesItsFourFormats)
{
    TestApplication();
    const TZAZClipFormats& f = ZAZClipFormats();
    auto object = Object("ab");
    TComPtr<IEnumFORMATETC> e;
    ASSERT_EQ(object->EnumFormatEtc(DATADIR_GET, e.Out()), S_OK);
    FORMATETC items[10];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(10, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 4u);
    const CLIPFORMAT order[] = {f.Own, CF_TEXT, f.FileGroupDescriptor, f.FileContents};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i].cfFormat, order[i]);
        EXPECT_EQ(items[i].lindex, -1);
        EXPECT_EQ(items[i].tymed, TYMED_HGLOBAL);
        EXPECT_EQ(items[i].dwAspect, DVASPECT_CONTENT);
        EXPECT_EQ(items[i].ptd, nullptr);
    }
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(4), S_FALSE);  // not fewer than are left: the position stays
    EXPECT_EQ(e->Next(1, items, nullptr), S_OK);
    EXPECT_EQ(items[0].cfFormat, f.Own);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->Next(1, items, nullptr), S_OK);
    EXPECT_EQ(items[0].cfFormat, f.FileContents);
    TComPtr<IEnumFORMATETC> clone;
    ASSERT_EQ(e->Clone(clone.Out()), S_OK);
    EXPECT_EQ(clone->Next(1, items, nullptr), S_OK);
    EXPECT_EQ(items[0].cfFormat, f.Own);
}

TEST(ZAZDataObject, SizesItsBlocksIn64Bits)
{
    TestApplication();
    EXPECT_EQ(ZAZClipBlockSize(CF_TEXT, INT32_MAX, true, 0), 4294967295ull);
    EXPECT_EQ(ZAZClipBlockSize(ZAZClipFormats().Own, INT32_MAX, false, 0), 2147483659ull);
    EXPECT_EQ(ZAZClipBlockSize(CF_TEXT, INT32_MAX, false, 5), 6u);
}

TEST(ZAZDataObject, CutsTheDumpNameBetweenCharacters)
{
    TestApplication();
    std::string name;
    for (int i = 0; i < 200; ++i)
        name += "\xC3\xA9";  // é, two bytes
    const std::string dump = ZAZDumpName("/x/" + name + ".dat");
    EXPECT_LE(dump.size(), 255u);
    EXPECT_EQ(dump.rfind("Dump of ", 0), 0u);
    // Whole characters only: the text ends after a complete é.
    EXPECT_EQ((dump.size() - 8) % 2, 0u);
    EXPECT_EQ(CutUtf8("a\xE4\xB8\xAD", 3), "a");
    EXPECT_EQ(CutUtf8("a\xE4\xB8\xAD", 4), "a\xE4\xB8\xAD");
}

// ====================================================================== media to bytes

TEST(ZAZMediumToBytes, ReadsNothingPastTheBlock)
{
    TestApplication();
    const TZAZClipFormats& f = ZAZClipFormats();
    auto own = [](std::int32_t n, const std::string& data) {
        std::string b = "RADE" + Bytes({1, 0, 1, 0});
        b.append(reinterpret_cast<const char*>(&n), 4);
        return b + data;
    };
    struct Case {
        const char* what;
        CLIPFORMAT format;
        std::string block;
        bool bigEndian;
        std::string expected;
    } cases[] = {
        {"own format", f.Own, own(2, "xy"), false, "xy"},
        {"own count beyond the block", f.Own, own(100, "xyz"), false, "xyz"},
        {"own count negative", f.Own, own(-5, "xyz"), false, ""},
        {"own header cut short", f.Own, own(2, "xy").substr(0, 10), false, ""},
        {"a wrong signature", f.Own, "ABCD" + own(2, "xy").substr(4), false, ""},
        {"registry value", f.RegEditHexData, Bytes({2, 0, 0, 0}) + "abc", false, "ab"},
        {"registry count beyond the block", f.RegEditHexData, Bytes({50, 0, 0, 0}) + "ab", false, "ab"},
        {"registry header cut short", f.RegEditHexData, Bytes({2, 0, 0}), false, ""},
        {"text to its zero byte", CF_TEXT, std::string("ab\0cd", 5), false, "ab"},
        {"rich text as text", f.RichText, std::string("{\\rtf}\0x", 8), false, "{\\rtf}"},
        {"OEM text without a zero byte", CF_OEMTEXT, "abc", false, "abc"},
        {"Unicode text", CF_UNICODETEXT, Bytes({'A', 0, 'B', 0, 0, 0, 'C', 0}), false, Bytes({'A', 0, 'B', 0})},
        {"Unicode text big-endian", CF_UNICODETEXT, Bytes({'A', 0, 0, 0}), true, Bytes({0, 'A'})},
        {"odd-sized Unicode block", CF_UNICODETEXT, Bytes({'A', 0, 'B'}), false, Bytes({'A', 0})},
        {"locale", CF_LOCALE, Bytes({9, 4, 0, 0}), false, Bytes({9, 4})},
        {"locale cut short", CF_LOCALE, Bytes({9}), false, ""},
        {"device-independent bitmap", CF_DIB, "xyz", false, "BM" + std::string(12, '\0') + "xyz"},
        {"TIFF whole", CF_TIFF, std::string("II*\0", 4), false, std::string("II*\0", 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string block = c.block;
        TZAZByteString bytes;
        OLEMediumToBytes(reinterpret_cast<std::uint8_t*>(block.data()), nullptr, c.format, block.size(), c.bigEndian,
                         false, bytes);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()), c.expected);
    }
}

// Well-formed blocks of each kind, mutated many ways: nothing is read past
// a block (the sanitizers watch), whatever its header says.
TEST(ZAZMediumToBytes, MutatedBlocksNeverReadPastTheirEnd)
{
    TestApplication();
    DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, FALSE};
    const std::string seeds[] = {
        std::string(1, '\0') + OwnBlock("abcdef"),
        std::string(1, '\1') + Bytes({4, 0, 0, 0}) + "wxyz",
        std::string(1, '\5') + Bytes({'A', 0, 'B', 0, 0, 0}),
        std::string(1, '\3') + "41 4a-ZZ 0" + '\0',
        std::string(1, '\3') + std::string(reinterpret_cast<const char*>(&header), sizeof header) + "/a/b" + '\0' +
            "/c" + '\0' + '\0',
    };
    int seed = 0;
    for (const std::string& original : seeds)
        RunMutatedInputs("ole_medium_mutation_current.bin", original, original.size(), 3, 200, 20261211u + seed++,
                         [](const std::string& bytes) {
                             OleMediumFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
                         });
}

// The seeds and findings of the medium fuzz target read back without fault.
TEST(ZAZMediumToBytes, FuzzCorpusReplays)
{
    TestApplication();
    EXPECT_GT(ReplayFuzzCorpus("ole_medium",
                               [](const std::string& bytes) {
                                   OleMediumFuzzOne(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
                               }),
              0);
}

TEST(ZAZMediumToBytes, SavesPicturesAndPalettesOfOurOwnObjects)
{
    TestApplication();
    // A 2 x 1 bitmap: a BMP file image of 24-bit rows padded to 4 bytes.
    const std::uint32_t pixels[2] = {0x00112233, 0x00445566};
    HBITMAP bitmap = CreateBitmap(2, 1, 1, 32, pixels);
    TZAZByteString bytes;
    OLEMediumToBytes(nullptr, bitmap, CF_BITMAP, 0, false, false, bytes);
    DeleteObject(bitmap);
    const std::string bmp(reinterpret_cast<const char*>(bytes.Data()), bytes.Size());
    ASSERT_EQ(bmp.size(), 14u + 40u + 8u);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(bmp.substr(54, 6), Bytes({0x33, 0x22, 0x11, 0x66, 0x55, 0x44}));

    LOGPALETTE* palette = static_cast<LOGPALETTE*>(std::malloc(sizeof(LOGPALETTE) + sizeof(PALETTEENTRY)));
    palette->palVersion = 0x300;
    palette->palNumEntries = 2;
    palette->palPalEntry[0] = {1, 2, 3, 0};
    (&palette->palPalEntry[0])[1] = {4, 5, 6, 0};
    HPALETTE handle = CreatePalette(palette);
    std::free(palette);
    OLEMediumToBytes(nullptr, handle, CF_PALETTE, 0, false, false, bytes);
    DeleteObject(handle);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()),
              Bytes({0, 3, 2, 0, 1, 2, 3, 0, 4, 5, 6, 0}));

    // A metafile picture record whose handle holds an old-style metafile.
    const std::string wmf = Bytes({1, 0, 9, 0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0});
    METAFILEPICT picture{MM_ANISOTROPIC, 100, 100,
                         SetMetaFileBitsEx(static_cast<UINT>(wmf.size()), reinterpret_cast<const BYTE*>(wmf.data()))};
    OLEMediumToBytes(reinterpret_cast<std::uint8_t*>(&picture), nullptr, CF_METAFILEPICT, sizeof picture, false, false,
                     bytes);
    DeleteMetaFile(static_cast<HMETAFILE>(picture.hMF));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()), wmf);
    OLEMediumToBytes(reinterpret_cast<std::uint8_t*>(&picture), nullptr, CF_METAFILEPICT, sizeof picture - 1, false,
                     false, bytes);
    EXPECT_TRUE(bytes.Empty());
}

TEST(ZAZMediumToBytes, DecodesHexTextInPlaceOnlyInABlockOfItsOwn)
{
    TestApplication();
    std::string text = "41 4a-ZZ 0";
    TZAZByteString shared;
    shared.View(reinterpret_cast<std::uint8_t*>(text.data()), text.size(), false);
    shared.HexToBytes(false);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(shared.Data()), shared.Size()), "AJ");
    EXPECT_EQ(text, "41 4a-ZZ 0");  // the source's block is left as it was
    TZAZByteString own;
    own.View(reinterpret_cast<std::uint8_t*>(text.data()), text.size(), true);
    own.HexToBytes(true);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(own.Data()), own.Size()), "\x14\xA4");
    EXPECT_EQ(own.Data(), reinterpret_cast<std::uint8_t*>(text.data()));
}

// ====================================================================== the real clipboard

class HexClipTest : public HexExTest {
protected:
    void SetUp() override
    {
        HexExTest::SetUp();
        ClearClipboard();
    }
    void TearDown() override
    {
        ClearClipboard();
        ExpectNoPendingModalSteps();
        HexExTest::TearDown();
    }
    // Our own format on the clipboard, as another control's copy puts it.
    void ClipboardHolds(const std::string& bytes)
    {
        auto* object = new FixedDataObject();
        object->AddBlock(ZAZClipFormats().Own, OwnBlock(bytes));
        ASSERT_EQ(OleSetClipboard(object), S_OK);
    }
    void ClipboardHoldsText(const std::string& text)
    {
        auto* mime = new QMimeData();
        mime->setText(QString::fromStdString(text));
        QGuiApplication::clipboard()->setMimeData(mime);
    }
};

TEST_F(HexClipTest, CopiesInOneControlAndPastesInAnother)
{
    LoadBytes(Bytes({0x10, 0x20, 0x00, 0x30, 0x40}));
    hex->NewSelection(1, 3);
    hex->SetClipboardAsHexText(true);
    ASSERT_TRUE(hex->CBCopy());
    EXPECT_TRUE(hex->OwnsClipBoard());
    // Another program reads the hex digits of every byte.
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("text/plain").toStdString(), "200030");

    TZURadUvudodEx other(nullptr);
    other.SetBounds(0, 0, 600, 300);
    other.Loaded();
    TMemoryStream s;
    s.WriteBuffer("AB", 2);
    other.LoadFromStream(s);
    other.SetClipboardAsHexText(true);
    other.SetInsertMode(true);
    DialogWatch watch;
    ASSERT_TRUE(other.CanPaste());
    EXPECT_EQ(other.LastPasteFormat(oleClipboard), ZAZClipFormats().Own);
    ASSERT_TRUE(other.CBPaste());  // the own format, whatever else is offered: no dialog
    EXPECT_FALSE(watch.seen);
    ASSERT_EQ(other.GetDataSize(), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(other.GetFastPointer()), 5), Bytes({0x20, 0, 0x30, 'A', 'B'}));
    EXPECT_EQ(other.GetUndoDescription(), "Paste from Clipboard");
}

TEST_F(HexClipTest, PastesForeignTextAsHexDigitsAfterTheFormatDialog)
{
    LoadBytes("xy");
    hex->SetClipboardAsHexText(true);
    ClipboardHoldsText("41 4a-ZZ 0");
    std::vector<std::string> listed;
    bool hexChecked = false;
    WhenModal([&](QWidget* dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle().toStdString(), "Select Data Format");
        auto* list = dialog->findChild<QListWidget*>();
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->count(); ++i)
            listed.push_back(list->item(i)->text().toStdString());
        auto* box = dialog->findChild<QCheckBox*>();
        hexChecked = box && box->isChecked() && box->isEnabled();
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == "OK")
                ClickWidget(b);
    });
    ASSERT_TRUE(hex->CBPaste());
    EXPECT_EQ(listed, (std::vector<std::string>{"Text", "Unicode Text", "OEM Text"}));
    EXPECT_TRUE(hexChecked);
    EXPECT_EQ(Data(), "AJ");  // overwrite mode: over the bytes at the caret
}

TEST_F(HexClipTest, TheDialogsHexTextChoiceServesThatPasteOnly)
{
    struct Case {
        const char* what;
        std::string text;
        bool untick;  // the user unticks "Hex Text"
        std::string expected;
    } cases[] = {
        {"hex digits", "41 4a", false, "AJ"},
        {"hex digits taken as text", "41 4a", true, "41 4a"},
        {"a text without a pair of hex digits goes in as it is", "Hello", false, "Hello"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoadBytes("");
        hex->SetClipboardAsHexText(true);
        ClipboardHoldsText(c.text);
        WhenModal([&](QWidget* dialog) {
            auto* box = dialog->findChild<QCheckBox*>();
            ASSERT_TRUE(box && box->isChecked());
            if (c.untick)
                ClickAt(box, QPoint(6, box->height() / 2));  // on the tick box itself
            EXPECT_EQ(box->isChecked(), !c.untick);
            PressKey(dialog, Qt::Key_Return);
        });
        ASSERT_TRUE(hex->CBPaste());
        EXPECT_EQ(Data(), c.expected);
        // The setting stays: a copy still reaches other programs as digits.
        EXPECT_TRUE(hex->ClipboardAsHexText());
        hex->NewSelection(0, 1);
        ASSERT_TRUE(hex->CBCopy());
        char digits[5];
        ConvertBinToHex(reinterpret_cast<const std::uint8_t*>(c.expected.data()), digits, 2, false);
        EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), digits);
    }
}

TEST_F(HexClipTest, PastesTextAsItsBytesOrNothingWhenTheDialogIsCancelled)
{
    LoadBytes("xy");
    ClipboardHoldsText("\xC3\xA9!");  // é!
    WhenModal([](QWidget* dialog) {
        auto* list = dialog->findChild<QListWidget*>();
        ClickRow(list, 1);  // Unicode Text
        EXPECT_FALSE(dialog->findChild<QCheckBox*>()->isEnabled());
        PressKey(dialog, Qt::Key_Return);
    });
    hex->SetInsertMode(true);
    ASSERT_TRUE(hex->CBPaste());
    EXPECT_EQ(Data(), Bytes({0xE9, 0, '!', 0}) + "xy");
    WhenModal([](QWidget* dialog) { PressKey(dialog, Qt::Key_Escape); });
    EXPECT_FALSE(hex->CBPaste());
    EXPECT_EQ(Data(), Bytes({0xE9, 0, '!', 0}) + "xy");
}

TEST_F(HexClipTest, PlacesPastedBytes)
{
    // Paste inserts in insert mode and overwrites in overwrite mode, where
    // only bytes past the end make the data grow (and a fixed size cuts
    // them); the caret then stands after the pasted bytes.
    struct Case {
        const char* what;
        std::function<void(TZURadUvudodEx&)> setUp;
        std::string clip;
        bool pasted;
        std::string expected;
        std::int32_t caret;
    } cases[] = {
        {"overwrite mode: over the bytes at the caret", [](TZURadUvudodEx& h) { h.Seek(2, 0); }, "ab", true,
         "01ab456789", 4},
        {"overwrite mode: growing only past the end", [](TZURadUvudodEx& h) { h.Seek(8, 0); }, "abcd", true,
         "01234567abcd", 11},
        {"insert mode: at the caret", [](TZURadUvudodEx& h) { h.SetInsertMode(true); h.Seek(2, 0); }, "ab", true,
         "01ab23456789", 4},
        {"insert mode: at the end", [](TZURadUvudodEx& h) { h.SetInsertMode(true); h.SeekToEOF(); }, "ab", true,
         "0123456789ab", 12},
        {"over the selection", [](TZURadUvudodEx& h) { h.NewSelection(1, 8); }, "ab", true, "0ab9", 3},
        {"over the selection in insert mode", [](TZURadUvudodEx& h) { h.SetInsertMode(true); h.NewSelection(1, 8); },
         "ab", true, "0ab9", 3},
        {"whole units only", [](TZURadUvudodEx& h) { h.SetBytesPerUnit(2); h.Seek(3, 0); }, "abc", true,
         "01ab456789", 4},
        {"less than a unit", [](TZURadUvudodEx& h) { h.SetBytesPerUnit(2); }, "a", false, "0123456789", 0},
        {"fixed size overwrites up to the end", [](TZURadUvudodEx& h) { h.SetFixedFileSize(true); h.Seek(6, 0); },
         "abcdefghij", true, "012345abcd", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoadBytes("0123456789");
        c.setUp(*hex);
        ClipboardHolds(c.clip);
        EXPECT_EQ(hex->CBPaste(), c.pasted);
        EXPECT_EQ(Data(), c.expected);
        EXPECT_EQ(hex->GetPositionAtCursor(hex->Col(), hex->Row()), c.caret);
        EXPECT_EQ(hex->GetSelCount(), 0);
        hex->SetFixedFileSize(false);
        hex->SetBytesPerUnit(1);
        hex->SetInsertMode(false);
    }
}

TEST_F(HexClipTest, RefusesToPasteWhereItMayNot)
{
    LoadBytes("0123");
    ClipboardHolds("ab");
    hex->SetReadOnlyView(true);
    EXPECT_FALSE(hex->CanPaste());
    EXPECT_FALSE(hex->CBPaste());
    hex->SetReadOnlyView(false);
    EXPECT_TRUE(hex->CanPaste());

    ClipboardHoldsText("some text");
    EXPECT_TRUE(hex->CanPaste());
    hex->SetSupportsOtherClipFormats(false);
    EXPECT_FALSE(hex->CanPaste());
    EXPECT_EQ(Data(), "0123");
}

TEST_F(HexClipTest, CutsAndCopiesOnlyWhatItMay)
{
    LoadBytes("0123");
    ClipboardHoldsText("kept");
    EXPECT_FALSE(hex->CBCopy());  // nothing selected
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "kept");
    hex->NewSelection(1, 2);
    hex->SetFixedFileSize(true);
    EXPECT_FALSE(hex->CBCut());
    EXPECT_EQ(Data(), "0123");
    hex->SetFixedFileSize(false);
    ASSERT_TRUE(hex->CBCut());
    EXPECT_EQ(Data(), "03");
    EXPECT_EQ(hex->GetUndoDescription(), "Cut to Clipboard");
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "12");
}

TEST_F(HexClipTest, WithdrawsItsDataWhenDestroyedUnlessFlushed)
{
    LoadBytes("0123");
    hex->NewSelection(0, 1);
    ASSERT_TRUE(hex->CBCopy());
    hex.reset();
    const QMimeData* left = QGuiApplication::clipboard()->mimeData();
    EXPECT_TRUE(!left || left->formats().isEmpty());

    SetUp();
    LoadBytes("0123");
    hex->NewSelection(0, 1);
    hex->SetFlushClipboardAtShutDown(true);
    ASSERT_TRUE(hex->CBCopy());
    hex.reset();
    const QMimeData* kept = QGuiApplication::clipboard()->mimeData();
    EXPECT_EQ(kept->data("text/plain").toStdString(), "01");
    EXPECT_EQ(kept->data("application/x-vistrel-TZURaduvudodEx Clipboard Format").toStdString(), OwnBlock("01"));
    EXPECT_EQ(kept->data("application/x-vistrel-FileContents").toStdString(), "01");
    EXPECT_EQ(kept->data("application/x-vistrel-FileGroupDescriptor").size(), 336);
}

// ====================================================================== dropped files

class HexFileDropTest : public HexClipTest {
protected:
    // The files as another program drops them.
    TComPtr<IDataObject> Files(const std::vector<std::string>& names)
    {
        std::string block(sizeof(DROPFILES), '\0');
        DROPFILES header{sizeof(DROPFILES), {0, 0}, FALSE, FALSE};
        std::memcpy(block.data(), &header, sizeof header);
        for (const std::string& n : names)
            block += n + '\0';
        block += '\0';
        auto* object = new FixedDataObject();
        object->AddBlock(CF_HDROP, block);
        return TComPtr<IDataObject>(object);
    }
    HRESULT DropAtStart(IDataObject* data, DWORD effect)
    {
        const QPoint at = ByteCentre(0);
        hex->ShowDragCell(at.x(), at.y());
        DWORD e = effect;
        const TPoint screen = hex->ClientToScreen({at.x(), at.y()});
        EXPECT_EQ(hex->SupportsOLEData(data, 0, screen, e, oleDrop), S_OK);
        e = effect;
        return hex->InsertOLEData(data, 0, screen, e, oleDrop);
    }
    TempDir dir;
};

TEST_F(HexFileDropTest, DropsTheFirstFilesContentOrAllNames)
{
    LoadBytes("xy");
    dir.Write("one.bin", "ONE");
    dir.Write("two.bin", "TWO");
    // A path past the 260 characters of the Windows functions.
    std::string deep = dir.Path("");
    for (int i = 0; i < 6; ++i)
        deep += std::string(50, 'd') + "/";
    std::filesystem::create_directories(deep);
    std::ofstream(deep + "long.bin") << "LONG";
    ASSERT_GT((deep + "long.bin").size(), 260u);

    EXPECT_EQ(DropAtStart(Files({dir.Path("one.bin"), dir.Path("two.bin")}).Get(), DROPEFFECT_COPY), S_OK);
    EXPECT_EQ(Data(), "ONExy");
    EXPECT_EQ(hex->GetUndoDescription(), "Data Dropped");
    // Dropped on the bytes the last drop left selected: they are replaced.
    EXPECT_EQ(DropAtStart(Files({deep + "long.bin"}).Get(), DROPEFFECT_COPY), S_OK);
    EXPECT_EQ(Data(), "LONGxy");
    LoadBytes("xy");
    EXPECT_EQ(DropAtStart(Files({dir.Path("one.bin"), dir.Path("two.bin")}).Get(), DROPEFFECT_LINK), S_OK);
    EXPECT_EQ(Data(), dir.Path("one.bin") + '\0' + dir.Path("two.bin") + '\0' + "xy");
}

TEST_F(HexFileDropTest, ShiftLinksDroppedFilesInsteadOfMovingThem)
{
    LoadBytes("xy");
    TComPtr<IDataObject> files = Files({"/tmp/a"});
    DWORD effect = DROPEFFECT_MOVE;
    ASSERT_EQ(hex->SupportsOLEData(files.Get(), 0, {0, 0}, effect, oleDrop), S_OK);
    EXPECT_EQ(effect, DROPEFFECT_LINK);
    hex->ModifyOLEDropEffect(MK_SHIFT, {0, 0}, effect);
    EXPECT_EQ(effect, DROPEFFECT_LINK);
    hex->ModifyOLEDropEffect(0, {0, 0}, effect);
    EXPECT_EQ(effect, DROPEFFECT_COPY);
}

TEST_F(HexFileDropTest, RefusesPipesAndFilesTooLargeBeforeReading)
{
    LoadBytes("xy");
    const std::string fifo = dir.Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(DropAtStart(Files({fifo}).Get(), DROPEFFECT_COPY), std::exception);  // no wait for a writer
    const std::string huge = dir.Path("huge.bin");
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, 3ull << 30);  // sparse: nothing is written
    try {
        DropAtStart(Files({huge}).Get(), DROPEFFECT_COPY);
        ADD_FAILURE() << "a file past 2 GB was taken";
    } catch (const EZURadUvudod& e) {
        EXPECT_NE(std::string(e.what()).find("File too large"), std::string::npos);
    }
    EXPECT_EQ(Data(), "xy");
}

} // namespace
