#include "hexedit/zazoffset.h"
#include "hexedit/zazerrors.h"

#include <gtest/gtest.h>

namespace {

// Offsets of rows 0, 1 and 2 (B = 16) and of position 4096, for a 1000-byte
// file whose last row starts at 992, as the gutter computes them.
struct Example {
    const char* format;
    const char* row0;
    const char* row1;
    const char* row2;
    const char* at4096;
};

TEST(OffsetFormat, WorkedExamples)
{
    const Example examples[] = {
        {"-!10:0x|", "0x000", "0x010", "0x020", "0x1000"},
        {"8!10:|", "00000000", "00000010", "00000020", "00001000"},
        {"-!A:|", "000", "016", "032", "4096"},
        {"2%4!10:|", "0000", "0008", "0010", "0800"},
        {"0!10:|", "", "10", "20", "1000"},
        {"%-!8:[|]", "[0000]", "[0020]", "[0040]", "[10000]"},
        {"-!a:|", "000", "016", "032", "4096"},  // not case-sensitive
    };
    for (const auto& e : examples) {
        TZAZOffsetFormat f;
        f.Parse(e.format, 16, 1, 1);
        if (f.Flags & offCalcWidth)
            f.CalcWidth(992);
        EXPECT_EQ(f.OffsetString(0, false), e.row0) << e.format;
        EXPECT_EQ(f.OffsetString(16, false), e.row1) << e.format;
        EXPECT_EQ(f.OffsetString(32, false), e.row2) << e.format;
        EXPECT_EQ(f.OffsetString(4096, false), e.at4096) << e.format;
        EXPECT_EQ(f.Format, e.format);
    }
}

TEST(OffsetFormat, FlagsFollowTheControlSettings)
{
    TZAZOffsetFormat f;
    f.Parse("R%-!10:|", 8, 1, 1);
    EXPECT_EQ(f.Flags, unsigned(offCalcRow | offCalcWidth));
    EXPECT_EQ(f.BytesPerUnit, 8);
    EXPECT_EQ(f.OffsetString(16, false), "2");
    f.Parse("C%4!10:|", 16, 4, 1);
    EXPECT_EQ(f.Flags, unsigned(offCalcColumn));
    EXPECT_EQ(f.OffsetString(16, false), "0004");
    f.Parse("!10:|", 16, 1, 2);
    EXPECT_EQ(f.Flags, unsigned(offBytesPerUnit));
    EXPECT_EQ(f.BytesPerUnit, 2);
    EXPECT_EQ(f.MinWidth, 1);
    f.Parse("8!10:|", 16, 1, 1);
    EXPECT_EQ(f.OffsetString(0xABCDEF, true), "00abcdef");
}

TEST(OffsetFormat, ErrorsKeepThePreviousFormat)
{
    struct Bad {
        const char* format;
        const char* message;
    };
    const Bad bad[] = {
        {"-!10:0x", "Missing char in offset format: |"},
        {"-!:|", "Missing char in offset format: number radix"},
        {"-!10|", "Missing char in offset format: :"},
        {"-!11:|", "Invalid radix in offset format (11h), allowed: 02h..10h"},
        {"-!1:|", "Invalid radix in offset format (1h), allowed: 02h..10h"},
        {"R%-!10:|", "Invalid bytes per unit value 16, allowed: 1,2,4,8"},
        {"3%8!10:|", "Invalid bytes per unit value 3, allowed: 1,2,4,8"},
        // A width no offset text can be written with is refused up front.
        {"100!10:|", "Invalid width in offset format (100h), allowed: 00h..FFh"},
    };
    for (const auto& b : bad) {
        TZAZOffsetFormat f;
        f.Parse("8!10:|", 16, 1, 1);
        try {
            f.Parse(b.format, 16, 1, 1);
            ADD_FAILURE() << b.format;
        } catch (const EZURadUvudod& e) {
            EXPECT_EQ(e.Message(), b.message) << b.format;
        }
        EXPECT_EQ(f.Format, "8!10:|");
        EXPECT_EQ(f.OffsetString(16, false), "00000010");
    }
    TZAZOffsetFormat f;
    f.Parse("FF!10:|", 16, 1, 1);
    EXPECT_EQ(f.OffsetString(1, false).size(), 255u);
}

TEST(OffsetFormat, EmptyTextWritesNothing)
{
    TZAZOffsetFormat f;
    f.Parse("8!10:|", 16, 1, 1);
    f.Parse("", 16, 1, 1);
    EXPECT_EQ(f.Flags, 0u);
    EXPECT_EQ(f.OffsetString(16, false), "");
}

}  // namespace
