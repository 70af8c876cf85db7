// Copying 64 MB in the hex editor as hex text (the main window's setting)
// and pasting the text back through the clipboard, as a person does through
// a text editor: another program reads the hex digits and offers them back,
// and the second control takes them as bytes (the format dialog answered
// with "Text" and "Hex Text"). Against "xxd -p f | xxd -r -p > /dev/null" on
// the same bytes, in alternating pairs. Printed above: the own format's copy
// and paste of the same 64 MB, and the memory the transfer takes beyond the
// two controls' data.
//
// The last line is "ratio <ours / xxd> goal <= 0.25".
#include "bench_support.h"

#include "hexedit/zuradhexex.h"
#include "vcl/forms.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr size_t kDataSize = 64u << 20;

std::string MakeData(const std::string& dir) { return bench::PseudoRandomFile(dir + "/hex_clipboard.bin", kDataSize); }

// Presses OK in the format dialog whenever it comes up.
void AnswerFormatDialogs()
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            for (QPushButton* b : modal->findChildren<QPushButton*>())
                if (b->text() == "OK" && b->isEnabled())
                    b->click();
    });
    timer->start(1);
}

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "failed: %s\n", what);
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    TApplication app;
    AnswerFormatDialogs();
    const std::string dir = bench::DataDir();
    const std::string data = MakeData(dir);

    TZURadUvudodEx source(nullptr);
    source.Loaded();
    source.LoadFromFile(data);
    source.SelectAll();
    TZURadUvudodEx target(nullptr);
    target.Loaded();
    QClipboard* clipboard = QGuiApplication::clipboard();

    // Copy as hex text; another program reads the digits and offers them
    // back; the second control pastes them as bytes.
    auto hexRoundTrip = [&] {
        target.CreateEmptyFile("pasted");
        target.SetClipboardAsHexText(true);
        source.SetClipboardAsHexText(true);
        Check(source.CBCopy(), "copy");
        {
            QByteArray text = clipboard->mimeData()->data("text/plain");
            auto* back = new QMimeData();
            back->setData("text/plain", text);
            clipboard->setMimeData(back);
        }
        Check(target.CBPaste(), "paste");
        Check(target.GetDataSize() == static_cast<std::int32_t>(kDataSize), "pasted size");
    };
    auto ownRoundTrip = [&] {
        target.CreateEmptyFile("pasted");
        source.SetClipboardAsHexText(false);
        Check(source.CBCopy(), "copy");
        Check(target.CBPaste(), "paste");
        Check(target.GetDataSize() == static_cast<std::int32_t>(kDataSize), "pasted size");
    };

    hexRoundTrip();
    Check(std::memcmp(source.GetFastPointer(), target.GetFastPointer(), kDataSize) == 0, "pasted bytes");
    target.CreateEmptyFile("pasted");
    clipboard->clear();

    // The transfer's own memory: the peak above what the program held,
    // less the 64 MB the pasted data itself takes in the second control.
    const double before = bench::StatusMb("VmRSS");
    bench::ResetPeakMemory();
    hexRoundTrip();
    const double peakMb = bench::StatusMb("VmHWM") - before - static_cast<double>(kDataSize) / (1 << 20);
    target.CreateEmptyFile("pasted");
    clipboard->clear();

    std::vector<double> own;
    for (int i = 0; i < 6; ++i)
        own.push_back(bench::TimeCall(ownRoundTrip));
    own.erase(own.begin());

    const bench::PairTimes t = bench::Alternate(bench::Timed(hexRoundTrip),
                                                bench::Command("xxd -p '" + data + "' | xxd -r -p > /dev/null"));
    const double dataMb = static_cast<double>(kDataSize) / (1 << 20);
    std::printf("hex_clipboard own format copy and paste 64 MB: %.3f s (median of 5)\n", bench::Median(own));
    std::printf("hex_clipboard memory beyond the data: %.1f MB = %.2f x the copied %.0f MB (goal < 6 x)\n", peakMb,
                peakMb / dataMb, dataMb);
    bench::PrintPair("hex_clipboard 64 MB as hex text", "xxd -p | xxd -r -p", t);
    bench::PrintRatioLine(t.ratio, 0.25);
    return 0;
}
