// The text view of a 1 GB file: the time from choosing it to its first
// painted screen, and the peak memory of holding it whole.
//
// Makes a 1 GB log of short lines once (kept in the benchmark folder). Each
// run empties the view, then loads the file into the large text view of a
// 1000 x 700 window offscreen and times until the first screen is painted
// with text; the reading goes on in the background. Then, in alternating
// pairs, the time until the whole file is held against `cat` reading it,
// and the peak memory (VmHWM, started afresh before the first load) of it
// all, scrolled to the end and back.
//
// Prints the figures with their goals (first screen within 1 s, peak memory
// at most 2.5 times the file), then "ratio <first screen / 1 s> goal <= 1".
#include "bench_support.h"

#include "vcl/forms.h"
#include "vcl/textview.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

constexpr std::int64_t kFileSize = std::int64_t(1) << 30;
constexpr double kFirstScreenGoal = 1.0;
constexpr double kMemoryGoal = 2.5;

std::string MakeFile(const std::string& dir)
{
    const std::string name = dir + "/text_view_large.log";
    if (std::filesystem::exists(name) && static_cast<std::int64_t>(std::filesystem::file_size(name)) == kFileSize)
        return name;
    std::ofstream out(name, std::ios::binary);
    std::string block;
    std::int64_t written = 0;
    for (std::int64_t i = 0; written < kFileSize; ++i) {
        block += "2024-05-" + std::to_string(i % 28 + 10) + " 12:00:" + std::to_string(i % 50 + 10) + " worker-"
            + std::to_string(i % 16) + " request " + std::to_string(i) + " status " + (i % 13 ? "OK" : "FAIL")
            + " in " + std::to_string(i % 997) + " ms\n";
        if (block.size() >= (1u << 20) || written + static_cast<std::int64_t>(block.size()) >= kFileSize) {
            const std::int64_t put = std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), kFileSize - written);
            out.write(block.data(), put);
            written += put;
            block.clear();
        }
    }
    return name;
}

// Whether a painted screen shows anything on its background.
bool ShowsText(const QImage& shot)
{
    const QRgb background = shot.pixel(shot.width() - 1, shot.height() - 1);
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (shot.pixel(x, y) != background)
                return true;
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string file = MakeFile(bench::DataDir());
    TApplication app;
    (void)argc;
    (void)argv;
    TForm form(nullptr);
    form.SetBounds(0, 0, 1000, 700);
    auto* view = new TTextFileView(&form);
    view->SetAlign(alClient);
    view->SetParent(&form);
    view->Font().SetName("Courier New");
    view->Font().SetSize(10);
    form.Show();
    QApplication::processEvents();
    auto* area = static_cast<QAbstractScrollArea*>(view->Widget());

    bench::ResetPeakMemory();
    const double baseMb = bench::StatusMb("VmRSS");
    std::vector<double> firstScreens;
    bool painted = true;
    const auto firstScreen = [&] {
        view->Clear();
        const auto t0 = std::chrono::steady_clock::now();
        if (!view->LoadFromFile(file, true)) {
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
            std::exit(1);
        }
        while (view->Document().Size() == 0)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        const QImage shot = area->viewport()->grab().toImage();
        const double s = bench::Seconds(std::chrono::steady_clock::now() - t0);
        painted = painted && ShowsText(shot);
        return s;
    };
    for (int i = 0; i < 7; ++i)
        firstScreens.push_back(firstScreen());
    view->WaitLoaded();

    // The whole file held, against cat reading it.
    std::int64_t held = 0;
    const bench::PairTimes whole = bench::Alternate(
        [&] {
            view->Clear();
            return bench::TimeCall([&] {
                view->LoadFromFile(file, true);
                view->WaitLoaded();
                held = view->Document().Size();
            });
        },
        bench::Command("cat " + bench::Quoted(file) + " > /dev/null"), 5);

    // Scrolled to the end and back, as a reader of the file does.
    area->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    const bool endShown = ShowsText(area->viewport()->grab().toImage());
    area->verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    area->viewport()->grab();
    const double peakMb = bench::StatusMb("VmHWM") - baseMb;
    const double fileMb = static_cast<double>(kFileSize) / (1 << 20);

    if (!painted || !endShown || held != kFileSize) {
        std::fprintf(stderr, "the view did not show the file (painted %d, end %d, held %lld bytes)\n", painted,
            endShown, static_cast<long long>(held));
        return 1;
    }
    const double first = bench::Median(firstScreens);
    std::printf("text_view_large: %.0f MB file of short lines\n", fileMb);
    std::printf("first screen: median %.1f ms of %zu runs (%.1f to %.1f ms), goal <= %.0f ms\n", first * 1e3,
        firstScreens.size(), *std::min_element(firstScreens.begin(), firstScreens.end()) * 1e3,
        *std::max_element(firstScreens.begin(), firstScreens.end()) * 1e3, kFirstScreenGoal * 1e3);
    bench::PrintPair("whole file held", "cat", whole);
    std::printf("peak memory %.0f MB = %.2f x the file, goal <= %.1f x\n", peakMb, peakMb / fileMb, kMemoryGoal);
    bench::PrintRatioLine(first / kFirstScreenGoal, 1);
    return peakMb / fileMb <= kMemoryGoal ? 0 : 1;
}
