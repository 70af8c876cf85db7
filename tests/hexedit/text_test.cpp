// The extended hex editor's bookmarks and public properties as text: the
// checksummed bookmark records, the property lines, their round trip onto a
// fresh control, and the texts both refuse.
#include "hex_fixture.h"
#include "test_support/error_of.h"

#include <set>

namespace {

const std::string kExample = "000007910100000000000012340003000000000000002001";

// Records behind their checksum.
std::string WithChecksum(const std::string& records)
{
    std::uint32_t sum = 0;
    for (char c : records)
        sum += static_cast<unsigned char>(c);
    return Format("%08X", sum) + records;
}

class HexTextTest : public HexExTest {
protected:
    void SetUp() override
    {
        HexExTest::SetUp();
        LoadBytes(Pattern(0x2000));
        hex->OnBookmarkChanged = [this](TObject*) { ++bookmarkNotices; };
    }
    std::vector<std::int32_t> Positions() const
    {
        std::vector<std::int32_t> out;
        for (const TZAZBookmark& b : hex->Bookmarks())
            out.push_back(b.mPosition);
        return out;
    }
    // The paint lock is released: the next BeginUpdate is the only one.
    bool Unlocked()
    {
        const bool unlocked = hex->BeginUpdate() == 1;
        hex->EndUpdate();
        return unlocked;
    }
    const std::vector<std::int32_t> kNone = std::vector<std::int32_t>(10, -1);
    int bookmarkNotices = 0;
};

// ====================================================================== bookmarks

TEST_F(HexTextTest, BookmarksTravelAsCheckedHexadecimalRecords)
{
    hex->SetBookmarkVals(1, 0x1234, false);
    hex->SetBookmarkVals(3, 0x20, true);
    EXPECT_EQ(hex->GetBookmarksAsString(), kExample);

    TZURadUvudodEx fresh(nullptr);
    fresh.Loaded();
    fresh.SetDataSize(0x2000);
    fresh.SetBookmarkVals(7, 5, false);
    int notices = 0;
    fresh.OnBookmarkChanged = [&](TObject*) { ++notices; };
    fresh.SetBookMarksAsString(kExample);
    EXPECT_EQ(notices, 1);
    EXPECT_EQ(fresh.GetBookmark(1), (TZAZBookmark{0x1234, false}));
    EXPECT_EQ(fresh.GetBookmark(3), (TZAZBookmark{0x20, true}));
    EXPECT_EQ(fresh.GetBookmark(7).mPosition, -1);
    EXPECT_EQ(fresh.GetBookmarksAsString(), kExample);
    EXPECT_EQ(fresh.BeginUpdate(), 1);  // the paint lock was released
}

TEST_F(HexTextTest, TheEmptyTextMeansNoBookmarks)
{
    EXPECT_EQ(hex->GetBookmarksAsString(), "");
    hex->SetBookmarkVals(0, 1, false);
    hex->SetBookmarkVals(9, 2, true);
    bookmarkNotices = 0;
    hex->SetBookMarksAsString("");
    EXPECT_EQ(Positions(), kNone);
    EXPECT_EQ(bookmarkNotices, 1);
    // A checksum over no records says the same.
    hex->SetBookmarkVals(0, 1, false);
    hex->SetBookMarksAsString("00000000");
    EXPECT_EQ(Positions(), kNone);
}

TEST_F(HexTextTest, ARecordRepeatedKeepsItsBookmark)
{
    // The bookmark setter clears a bookmark set to where it stands; a
    // second record of the same place must not undo the first.
    hex->SetBookMarksAsString(WithChecksum("01000000000000123400" "01000000000000123400"));
    EXPECT_EQ(hex->GetBookmark(1), (TZAZBookmark{0x1234, false}));
    // Lower-case digits read as well; a later record for a bookmark wins.
    hex->SetBookMarksAsString(WithChecksum("0200000000000000ab01" "02000000000000000c00"));
    EXPECT_EQ(hex->GetBookmark(2), (TZAZBookmark{0x0C, false}));
}

TEST_F(HexTextTest, AMalformedTextSetsNoneOfItsRecordsAndLeavesTheBookmarksCleared)
{
    const std::string good = "01000000000000123400";
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"checksum off by one", "00000792" + kExample.substr(8)},
        {"checksum not hexadecimal", "0000079G" + kExample.substr(8)},
        {"truncated record", WithChecksum(kExample.substr(8, 38))},
        {"shorter than a checksum", "0000"},
        {"not hexadecimal", WithChecksum(good + "03000000000000002G01")},
        {"bookmark number 10", WithChecksum(good + "0A000000000000002001")},
        {"position past 32 bits", WithChecksum(good + "03000000008000000000")},
        {"position with the top bit set", WithChecksum(good + "03FFFFFFFFFFFFFFFF00")},
    };
    for (const Case& c : cases) {
        hex->SetBookmarkVals(5, 77, false);
        bookmarkNotices = 0;
        EXPECT_EQ(ErrorOf([&] { hex->SetBookMarksAsString(c.text); }), "Invalid Bookmark Format") << c.what;
        EXPECT_EQ(Positions(), kNone) << c.what;
        EXPECT_EQ(bookmarkNotices, 1) << c.what;
        EXPECT_TRUE(Unlocked()) << c.what;
    }
    // The largest position there is reads.
    hex->SetBookMarksAsString(WithChecksum("0400000000" "7FFFFFFF" "01"));
    EXPECT_EQ(hex->GetBookmark(4), (TZAZBookmark{INT32_MAX, true}));
}

// ====================================================================== properties

TEST_F(HexTextTest, PropertiesAreLinesOfNameAndValue)
{
    const std::string text = hex->GetPropertiesAsString();
    TStringList lines;
    lines.SetText(text);
    ASSERT_GT(lines.Count(), 50);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    // The class library's control comes first: its font.
    EXPECT_EQ(lines[0], "Font.Charset=1");
    std::set<std::string> names;
    for (const std::string& line : lines) {
        const std::string name = line.substr(0, line.find('='));
        EXPECT_TRUE(hex->IsPropPublic(name)) << line;
        EXPECT_TRUE(names.insert(name).second) << "twice: " << line;
    }
    for (const char* expected : {"BytesPerRow=16", "Translation=tkAsIs", "CaretKind=ckAuto", "ShowRuler=False",
                                 "CreateBackup=True", "MaskChar=46", "OffsetFormat=-!10:0x|", "BackupExtension=.bak",
                                 "Colors.Background=-16777211", "Colors.OddColumn=16711680",
                                 "PrintOptions.Flags=pfSelectionBold,pfMonochrome", "PrintOptions.MarginTop=15",
                                 "PrintOptions.PageHeader=", "PrintFont.Name=Courier New", "PrintFont.Size=11",
                                 "Font.Style=", "UseEditorFontForPrinting=True", "RulerBytesPerUnit=-1"})
        EXPECT_NE(lines.IndexOf(expected), -1) << expected;
}

TEST_F(HexTextTest, PropertiesRoundTripOntoAFreshControl)
{
    hex->SetBytesPerRow(8);
    hex->SetBytesPerColumn(2);
    hex->SetTranslation(tkDos8);
    hex->SetOffsetFormat("8!10:|");
    hex->SetCaretKind(ckLeft);
    hex->SetMaskChar('*');
    hex->SetHexLowerCase(true);
    hex->SetShowRuler(true);
    hex->SetRulerNumberBase(10);
    hex->SetGutterWidth(50);
    hex->SetMaxUndo(1000);
    hex->SetInsertMode(true);
    hex->Colors().SetGrid(RGB(1, 2, 3));
    hex->Font().SetName("Liberation Mono");
    hex->Font().SetStyle(fsBold | fsUnderline);
    hex->SetBackupExtension(".old");
    hex->SetZoomOnWheel(false);
    TFont printFont;
    printFont.SetSize(9);
    printFont.SetStyle(fsItalic);
    hex->SetPrintFont(printFont);
    hex->PrintOptions().SetFlags(PrintFlag(pfIncludeRuler) | PrintFlag(pfCurrentViewOnly));
    hex->PrintOptions().SetMarginLeft(7);
    hex->PrintOptions().SetPageHeader("%f|%p of %P");
    const std::string text = hex->GetPropertiesAsString();
    EXPECT_NE(text.find("PrintOptions.Flags=pfCurrentViewOnly,pfIncludeRuler\r\n"), std::string::npos);
    EXPECT_NE(text.find("Font.Style=fsBold,fsUnderline\r\n"), std::string::npos);

    TZURadUvudodEx fresh(nullptr);
    fresh.Loaded();
    ASSERT_NE(fresh.GetPropertiesAsString(), text);
    fresh.SetPropertiesAsString(text);
    EXPECT_EQ(fresh.GetPropertiesAsString(), text);
    EXPECT_EQ(fresh.BytesPerRow(), 8);
    EXPECT_EQ(fresh.PrintOptions().PageHeader(), "%f|%p of %P");
    EXPECT_FALSE(fresh.UseEditorFontForPrinting());

    // Unicode mode and back.
    hex->SetTranslation(tkAsIs);
    hex->SetUnicodeChars(true);
    const std::string unicode = hex->GetPropertiesAsString();
    fresh.SetPropertiesAsString(unicode);
    EXPECT_EQ(fresh.GetPropertiesAsString(), unicode);
    EXPECT_TRUE(fresh.UnicodeChars());
}

TEST_F(HexTextTest, NamesInAnyCaseAndValueFormsAreAccepted)
{
    hex->SetPropertiesAsString("colors.grid=255\r\nBYTESPERROW=8\nprintfont.size= 14 \r\n"
                               "PrintOptions.Flags=[pfMonochrome, pfincluderuler]\r\nshowruler=true\r\n"
                               "Font.Style=\r\nPrintOptions.PageFooter= keeps = and blanks \r\n");
    EXPECT_EQ(hex->Colors().Grid(), 255);
    EXPECT_EQ(hex->BytesPerRow(), 8);
    EXPECT_EQ(hex->PrintFont().Size(), 14);
    EXPECT_EQ(hex->PrintOptions().Flags(), PrintFlag(pfMonochrome) | PrintFlag(pfIncludeRuler));
    EXPECT_TRUE(hex->ShowRuler());
    EXPECT_EQ(hex->Font().Style(), 0);
    EXPECT_EQ(hex->PrintOptions().PageFooter(), " keeps = and blanks ");
    // A name's first line gives its value.
    hex->SetPropertiesAsString("BytesPerRow=4\r\nBytesPerRow=12\r\n");
    EXPECT_EQ(hex->BytesPerRow(), 4);
}

TEST_F(HexTextTest, NamesOutsideTheTableAndVetoedNamesArePassedOver)
{
    std::vector<std::string> asked;
    hex->OnQueryPublicProperty = [&](TObject* sender, const std::string& name, bool& isPublic) {
        EXPECT_EQ(sender, hex.get());
        asked.push_back(name);
        if (SameText(name, "MaskChar"))
            isPublic = false;
    };
    EXPECT_FALSE(hex->IsPropPublic("maskchar"));
    EXPECT_TRUE(hex->IsPropPublic("Colors.Grid"));
    EXPECT_FALSE(hex->IsPropPublic("Width"));
    EXPECT_FALSE(hex->IsPropPublic("Colors"));
    EXPECT_EQ(asked, (std::vector<std::string>{"maskchar", "Colors.Grid"}));  // the table first

    EXPECT_EQ(hex->GetPropertiesAsString().find("MaskChar="), std::string::npos);
    hex->SetPropertiesAsString("MaskChar=42\r\nWidth=3\r\nName=other\r\nColors=5\r\nno equals sign\r\n=7\r\n"
                               "Font.Height=-40\r\nColors.Grid.Red=1\r\nBytesPerRow=12\r\n");
    EXPECT_EQ(hex->MaskChar(), '.');
    EXPECT_EQ(hex->Width(), 900);
    EXPECT_EQ(hex->BytesPerRow(), 12);
}

TEST_F(HexTextTest, ValuesOutsideTheirTypeAreRefusedAndTheLockIsReleased)
{
    struct Case {
        const char* line;
        std::function<std::string()> value;
    };
    const Case cases[] = {
        {"MaskChar=300", [&] { return IntToStr(static_cast<unsigned char>(hex->MaskChar())); }},
        {"MaskChar=-1", [&] { return IntToStr(static_cast<unsigned char>(hex->MaskChar())); }},
        {"BytesPerRow=-3", [&] { return IntToStr(hex->BytesPerRow()); }},
        {"BytesPerRow=99999999999", [&] { return IntToStr(hex->BytesPerRow()); }},
        {"BytesPerRow=8x", [&] { return IntToStr(hex->BytesPerRow()); }},
        {"BytesPerRow=", [&] { return IntToStr(hex->BytesPerRow()); }},
        {"Colors.Grid=4294967295", [&] { return IntToStr(hex->Colors().Grid()); }},
        {"Font.Charset=256", [&] { return IntToStr(hex->Font().Charset()); }},
        {"Translation=tkKlingon", [&] { return IntToStr(hex->Translation()); }},
        {"CaretKind=1", [&] { return IntToStr(hex->CaretKind()); }},
        {"ShowRuler=Yes", [&] { return IntToStr(hex->ShowRuler()); }},
        {"PrintOptions.Flags=pfSelectionBold,pfBogus", [&] { return IntToStr(hex->PrintOptions().Flags()); }},
        {"Font.Style=fsBold,", [&] { return IntToStr(hex->Font().Style()); }},
        {"BackupExtension=/../../etc", [&] { return hex->BackupExtension(); }},
    };
    for (const Case& c : cases) {
        const std::string before = c.value();
        EXPECT_NE(ErrorOf([&] { hex->SetPropertiesAsString(c.line); }), "") << c.line;
        EXPECT_EQ(c.value(), before) << c.line;
        EXPECT_TRUE(Unlocked()) << c.line;
    }
    EXPECT_EQ(ErrorOf([&] { hex->SetPropertiesAsString("BackupExtension=a/b"); }), "Invalid backup extension");
    EXPECT_EQ(ErrorOf([&] { hex->SetPropertiesAsString("MaskChar=300"); }), "'300' is not a valid value of MaskChar");
}

}  // namespace
