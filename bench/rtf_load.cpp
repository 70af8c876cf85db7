// Loading a 10 MB RTF document into the rich-text view (read, parse, fill
// the view and lay out what shows) against "unrtf --text" on the same file,
// in alternating pairs. bench/rtf_load.sh makes the two documents: plain
// paragraphs (printed above), and the same with one group in a Cyrillic font
// per paragraph, whose code page 1251 the reader converts (the last line).
//
// Usage: bench_rtf_load PLAIN.rtf CODEPAGES.rtf
// The last line is "ratio <ours / unrtf> goal <= 0.2".
#include "bench_support.h"

#include "vcl/forms.h"
#include "vcl/richedit.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bench::PairTimes Compare(TRichEdit& view, const std::string& file)
{
    const auto ours = bench::Timed([&] {
        view.LoadFromFile(file);
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(view.LineCount());
    });
    return bench::Alternate(ours, bench::Command("unrtf --text '" + file + "' > /dev/null 2>&1"), 5);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_rtf_load PLAIN.rtf CODEPAGES.rtf (see bench/rtf_load.sh)\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    EnsureQtApplication(&argc, argv);
    TRichEdit view(nullptr);
    view.SetBounds(0, 0, 800, 600);
    view.Show();
    QCoreApplication::processEvents();

    const bench::PairTimes plain = Compare(view, argv[1]);
    bench::PrintPair("rtf_load 10 MB plain", "unrtf --text", plain);
    const bench::PairTimes codePages = Compare(view, argv[2]);
    bench::PrintPair("rtf_load 10 MB, a code-page group per paragraph", "unrtf --text", codePages);
    bench::PrintRatioLine(codePages.ratio, 0.2);
    return 0;
}
