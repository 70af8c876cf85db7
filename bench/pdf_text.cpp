// The PDF text window against poppler-utils' pdftotext.
//
// Has the fixture script make a PDF of 500 pages, each with forty lines of
// text and a JPEG picture, then times, in alternating pairs on the same warm
// file, a click on "Extract" in the PDF text window (offscreen) against
// `pdftotext` writing the text of the same file. Last line: the ratio
// (goal: at most 0.25).
#include "bench_prompts.h"
#include "bench_support.h"

#include "app/tools/extractpdf.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {
using bench::Quoted;
constexpr double kGoal = 0.25;
} // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    new TApplication();
    bench::CountingPrompts& prompts = bench::InstallCountingPrompts();

    const std::string dir = bench::DataDir() + "/pdf_text_";
    const std::string pdf = dir + "500.pdf";
    if (!bench::EnsureConvertFixture("pdf500", pdf))
        return 1;
    const std::string ourText = dir + "ours.txt";
    const std::string peerText = dir + "peer.txt";

    TfrmPDF form(nullptr);
    form.Show();
    form.Edit1->SetText(pdf);
    form.Edit2->SetText(ourText);
    const bench::Side ours = bench::Timed([&] { form.Button1Click(form.Button1); });
    const bench::Side peer = bench::Command("pdftotext " + Quoted(pdf) + " " + Quoted(peerText));
    const bench::PairTimes t = bench::Alternate(ours, peer);
    if (prompts.last != "Extract OK!") {
        std::fprintf(stderr, "the window said: %s\n", prompts.last.c_str());
        return 1;
    }
    // Every page's heading is in our text.
    if (!bench::Run("grep -q 'Page 500 of the long document' " + Quoted(ourText))) {
        std::fprintf(stderr, "our text lacks the last page\n");
        return 1;
    }
    std::filesystem::remove(ourText);
    std::filesystem::remove(peerText);
    bench::PrintPair("pdf_text 500 pages of text and pictures", "pdftotext", t);
    bench::PrintRatioLine(t.ratio, kGoal);
    return 0;
}
