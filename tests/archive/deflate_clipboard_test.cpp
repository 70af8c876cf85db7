// The compressed record on the real clipboard (Qt's, offscreen).
#include "archive/zadclipboard.h"
#include "archive/zaddeflate.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {

TApplication& App()
{
    static TApplication* app = new TApplication();
    return *app;
}

std::string MemText(TMemoryStream32& m)
{
    return std::string(static_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size()));
}

class DeflateClipboard : public ::testing::Test {
protected:
    void SetUp() override { App(); }
    void TearDown() override { QGuiApplication::clipboard()->clear(); }
};

}  // namespace

TEST_F(DeflateClipboard, RecordRoundTripsThroughTheClipboard)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + "\n";
    for (TDeflateType type : {dtDeflateS, dtDeflateX}) {
        TMemoryStream32 src;
        src.WriteBuffer(text.data(), text.size());
        src.SetPosition(0);
        std::int64_t packed = 0;
        const std::uint32_t crc = zadCompress_StreamToClipboard(&src, text.size(), packed, type);
        EXPECT_NE(crc, 0u);
        EXPECT_NE(crc, 0xFFFFFFFFu);
        EXPECT_EQ(packed < static_cast<std::int64_t>(text.size()), type != dtDeflateS);
        // Another program sees the record under its format name.
        const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(mime, nullptr);
        EXPECT_EQ(mime->data("application/x-vistrel-VirOV_CompressedData").size(), 13 + packed + 1);

        TMemoryStream32 back;
        EXPECT_EQ(zadDecompress_StreamFromClipboard(&back), crc);
        EXPECT_EQ(MemText(back), text);
    }
    TMemoryStream32 empty;
    std::int64_t packed = 0;
    EXPECT_EQ(zadCompress_StreamToClipboard(&empty, 0, packed, dtDeflateN), 0xFFFFFFFFu);
}

TEST_F(DeflateClipboard, ForeignOrMissingDataLeavesTheDestinationAlone)
{
    auto* mime = new QMimeData();
    mime->setData("application/x-vistrel-VirOV_CompressedData", QByteArray("NOT A RECORD AT ALL"));
    QGuiApplication::clipboard()->setMimeData(mime);
    TMemoryStream32 dest;
    dest.WriteBuffer("x", 1);
    EXPECT_EQ(zadDecompress_StreamFromClipboard(&dest), 0xFFFFFFFFu);
    EXPECT_EQ(MemText(dest), "x");

    QGuiApplication::clipboard()->setText("plain text only");
    EXPECT_EQ(zadDecompress_StreamFromClipboard(&dest), 0xFFFFFFFFu);
    EXPECT_EQ(MemText(dest), "x");
}
