// The PDF viewer against poppler-utils' pdftoppm.
//
// Has the fixture script make a PDF of 300 pages, then times, in alternating
// pairs, our control opening it and rendering pages 1 to 20 at 100 % as the
// preview panel shows them offscreen (each page brought to the top of a
// 1000 x 800 panel and painted), against `pdftoppm -r 96 -f 1 -l 20` on the
// same file. Prints above it the time the web browser control takes to show
// a 5 MB HTML page. Last line: the ratio (goal: at most 1.1).
#include "bench_support.h"

#include "pdf/pdfviewer.h"
#include "web/webbrowser.h"

#include "vcl/forms.h"

#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {
using bench::Quoted;

constexpr int kPages = 300;
constexpr int kRendered = 20;
constexpr double kGoal = 1.1;


// A page of about 5 MB: headings, paragraphs and a table now and then.
void WriteLargePage(const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    out << "<html><head><title>Large page</title></head><body>\n";
    size_t written = 0;
    for (int section = 0; written < 5u * 1024 * 1024; ++section) {
        std::string block = "<h2>Section " + std::to_string(section) + "</h2>\n";
        for (int p = 0; p < 8; ++p)
            block += "<p>Paragraph " + std::to_string(p) + " of section " + std::to_string(section)
                + ": the quick brown fox jumps over the lazy dog, <b>again</b> and <i>again</i>.</p>\n";
        if (section % 10 == 0) {
            block += "<table border=\"1\">";
            for (int r = 0; r < 5; ++r)
                block += "<tr><td>row " + std::to_string(r) + "</td><td>value</td><td>" + std::to_string(r * section)
                    + "</td></tr>";
            block += "</table>\n";
        }
        out << block;
        written += block.size();
    }
    out << "</body></html>\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EnsureQtApplication(&argc, argv);
    new TApplication();

    const std::string dir = bench::DataDir() + "/pdf_view_";
    const std::string pdf = dir + "300.pdf";
    const std::string html = dir + "large.html";
    if (!std::filesystem::exists(pdf)
        && !bench::Run(Quoted(std::string(VISTREL_SOURCE_DIR) + "/scripts/make-media-fixtures.sh") + " pdf "
            + std::to_string(kPages) + " " + Quoted(pdf)))
        return 1;
    WriteLargePage(html);

    TForm form(nullptr);
    form.SetBounds(0, 0, 1000, 800);
    auto* browser = new TCppWebBrowser(&form);
    browser->SetAlign(alClient);
    browser->SetParent(&form);
    auto* viewer = new TPdfViewerOcx(&form);
    viewer->SetAlign(alClient);
    viewer->SetParent(&form);
    form.Show();

    // The web page: navigate, then lay out and paint what shows.
    viewer->Hide();
    const double htmlSeconds = bench::TimeCall([&] {
        browser->Navigate("File://" + html);
        (void)browser->Widget()->grab();
    });
    std::printf("pdf_view: a 5 MB HTML page shows in %.1f ms\n", htmlSeconds * 1e3);
    browser->Hide();
    viewer->Show();

    bool failed = false;
    const bench::Side ours = bench::Timed([&] {
        if (viewer->Open(pdf, "", "") != TPdfViewerOcx::kOpened || viewer->PageCount() != kPages)
            failed = true;
        for (int page = 1; page <= kRendered; ++page) {
            viewer->Goto(page);
            (void)viewer->Widget()->grab();
        }
    });
    const bench::Side peer = bench::Command("pdftoppm -r 96 -f 1 -l " + std::to_string(kRendered) + " " + Quoted(pdf)
        + " " + Quoted(dir + "page"));
    const bench::PairTimes t = bench::Alternate(ours, peer);
    for (const auto& e : std::filesystem::directory_iterator(bench::DataDir()))
        if (e.path().filename().string().rfind("pdf_view_page-", 0) == 0)
            std::filesystem::remove(e.path());
    if (failed) {
        std::fprintf(stderr, "the PDF did not open with its %d pages\n", kPages);
        return 1;
    }
    bench::PrintPair("pdf_view 300 pages, pages 1 to 20 at 100 %", "pdftoppm -r 96", t);
    bench::PrintRatioLine(t.ratio, kGoal);
    return 0;
}
