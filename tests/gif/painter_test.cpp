// The animation painter stepped on a manual clock: delays, speeds, loops,
// events that move the frame, stopping and restarting, and the disposal
// methods composed as ImageMagick composes them.
#include "gif_bytes.h"
#include "gif_load.h"
#include "imaging/gif/gifextensions.h"
#include "imaging/gif/gifpainter.h"
#include "rtl/clock.h"
#include "test_support/pnm.h"
#include "vcl/forms.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

using namespace gifbytes;

namespace {

using namespace std::chrono_literals;

const std::vector<Rgb> kColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

struct FrameSpec {
    int delay = -1;  // -1: no graphic control extension
    int disposal = 0;
};

// frames.size() solid 2 x 2 frames of colours 0, 1, 2, ...; a looping
// extension with the count when loops >= 0.
std::string Animation(const std::vector<FrameSpec>& frames, int loops = -1)
{
    Builder b;
    b.Header(2, 2, kColours);
    if (loops >= 0)
        b.App("NETSCAPE2.0", {3, 1, static_cast<std::uint8_t>(loops & 0xFF), static_cast<std::uint8_t>(loops >> 8)});
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].delay >= 0)
            b.Gce(frames[i].disposal, frames[i].delay);
        b.Frame(0, 0, 2, 2, std::vector<std::uint8_t>(4, static_cast<std::uint8_t>(i % 4)), {}, false, 255, 2);
    }
    return b.Trailer().Str();
}

// Runs the Qt event loop (and the queued painter calls) until done() or
// five real seconds.
template <class Done>
bool PumpUntil(Done done)
{
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        CheckSynchronize();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
}

void PumpFor(std::chrono::milliseconds span)
{
    const auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
        CheckSynchronize();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

struct Drawn {
    std::uint64_t at;
    int frame;
};

// An image, a target bitmap and a record of the painter's events.
class PainterRig {
public:
    explicit PainterRig(const std::string& bytes) : gif(LoadGif(bytes))
    {
        EXPECT_EQ(gif.error, "");
        target.SetSize(gif.image->Width(), gif.image->Height());
        TGIFImage& image = *gif.image;
        image.OnAfterFrame = [this](TObject* sender) {
            auto* p = static_cast<TGIFPainter*>(sender);
            drawn.push_back({CurrentClock().NowMs(), p->ActiveImage()});
            ++drawnCount;
            if (afterFrame)
                afterFrame(*p);
        };
        image.OnLoopPass = [this](TObject*) { ++loopPasses; };
        image.OnPaintStart = [this](TObject*) { ++paintStarts; };
        image.OnPaintEnd = [this](TObject*) { ++paintEnds; };
    }
    ~PainterRig()
    {
        if (gif.image)
            gif.image->PaintStop();
        // The painters are deleted through the event loop once they ended.
        PumpFor(20ms);
    }

    TGIFPainter* Start(TGIFDrawOptions options = GIFImageDefaultDrawOptions)
    {
        painter = gif.image->Paint(target.Canvas(), Rect(0, 0, target.Width(), target.Height()), options);
        return painter;
    }
    bool Running() const
    {
        const bool running = gif.image->Painters().LockList()->Count() > 0;
        gif.image->Painters().UnlockList();
        return running;
    }
    // Waits until the painter sleeps, then moves the clock.
    void Advance(std::uint64_t ms)
    {
        ASSERT_TRUE(AwaitClockSleepers(1));
        clock.clock.Advance(ms);
    }
    // The clock moves ms - 1 without a frame, then 1 more, and the next
    // frame is drawn: the wait was exactly ms.
    void ExpectWait(std::uint64_t ms)
    {
        const std::size_t before = drawn.size();
        Advance(ms - 1);
        PumpFor(15ms);
        EXPECT_EQ(drawn.size(), before) << "a frame came before " << ms << " ms";
        clock.clock.Advance(1);
        EXPECT_TRUE(PumpUntil([&] { return drawn.size() > before; })) << "no frame after " << ms << " ms";
    }

    ScopedManualClock clock;
    LoadedGif gif;
    TBitmap target;
    TGIFPainter* painter = nullptr;
    std::vector<Drawn> drawn;
    std::atomic<std::size_t> drawnCount{0};  // for other threads than the user interface
    std::function<void(TGIFPainter&)> afterFrame;
    int loopPasses = 0, paintStarts = 0, paintEnds = 0;
};

class Painter : public ::testing::Test {
protected:
    void SetUp() override { EnsureQtApplication(); }
};

TEST_F(Painter, WaitsEachFramesDelayAtItsSpeed)
{
    // Delay units are 12 ms at speed 100; 0 or no control extension means
    // the default of 10 units, delays under 3 units wait 3.
    struct Case {
        int delay;
        int speed;
        std::uint64_t waitMs;
    };
    const Case cases[] = {
        {0, 100, 120}, {-1, 100, 120}, {1, 100, 36}, {2, 100, 36}, {3, 100, 36},
        {50, 100, 600}, {50, 200, 300}, {50, 50, 1200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "delay " << c.delay << " speed " << c.speed);
        PainterRig rig(Animation({{c.delay}, {c.delay}}));
        rig.gif.image->SetAnimationSpeed(c.speed);
        rig.Start();
        // The first frame comes at once.
        ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
        EXPECT_EQ(rig.drawn[0].frame, 0);
        rig.ExpectWait(c.waitMs);
        EXPECT_EQ(rig.drawn[1].frame, 1);
    }
}

TEST_F(Painter, AtSpeedZeroWaitsUntilTheSpeedChanges)
{
    PainterRig rig(Animation({{10}, {10}, {10}}));
    rig.gif.image->SetAnimationSpeed(0);
    TGIFPainter* painter = rig.Start();
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
    rig.Advance(1000000);
    PumpFor(30ms);
    EXPECT_EQ(rig.drawn.size(), 1u);
    // A new speed ends the wait at once, and the timing starts again then.
    painter->SetAnimationSpeed(200);
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 2; }));
    rig.ExpectWait(60);
}

TEST_F(Painter, ASpeedChangeCutsTheCurrentWaitShort)
{
    PainterRig rig(Animation({{100}, {100}, {100}}));
    TGIFPainter* painter = rig.Start();
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
    rig.Advance(500);  // of 1200
    painter->SetAnimationSpeed(200);
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 2; }));
    EXPECT_EQ(rig.drawn[1].at - rig.drawn[0].at, 500u);
    rig.ExpectWait(600);
}

TEST_F(Painter, LoopsAsTheLoopExtensionAndTheOptionsSay)
{
    struct Case {
        int loops;
        TGIFDrawOptions options;
        int passes;  // -1: still looping after five passes
    };
    const Case cases[] = {
        {3, GIFImageDefaultDrawOptions, 3},
        {1, GIFImageDefaultDrawOptions, 1},
        {0, GIFImageDefaultDrawOptions, -1},
        {3, static_cast<TGIFDrawOptions>(GIFImageDefaultDrawOptions & ~goLoop), 1},
        {-1, GIFImageDefaultDrawOptions, 1},  // no looping extension: one pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loops " << c.loops);
        PainterRig rig(Animation({{3}, {3}}, c.loops));
        rig.Start(c.options);
        ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
        const int shown = c.passes < 0 ? 5 : c.passes;
        for (int i = 1; i < shown * 2; ++i) {
            rig.Advance(36);
            ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == static_cast<std::size_t>(i + 1); }));
        }
        if (c.passes < 0) {
            EXPECT_TRUE(rig.Running());
            EXPECT_GE(rig.loopPasses, 4);
            continue;
        }
        // After the last frame the painter ends on its own.
        ASSERT_TRUE(PumpUntil([&] { return !rig.Running(); }));
        EXPECT_EQ(rig.drawn.size(), static_cast<std::size_t>(c.passes * 2));
        EXPECT_EQ(rig.loopPasses, c.passes - 1);
        EXPECT_EQ(rig.paintStarts, 1);
        EXPECT_EQ(rig.paintEnds, 1);
    }
}

TEST_F(Painter, AnAfterFrameHandlerThatMovesTheFrameIsFollowed)
{
    PainterRig rig(Animation({{3}, {3}, {3}, {3}}));
    rig.afterFrame = [](TGIFPainter& p) {
        if (p.ActiveImage() == 0)
            p.SetActiveImage(2);
        // Outside the frames: ignored.
        p.SetActiveImage(-1);
        p.SetActiveImage(4);
    };
    rig.Start();
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
    rig.ExpectWait(36);
    rig.ExpectWait(36);
    ASSERT_EQ(rig.drawn.size(), 3u);
    EXPECT_EQ(rig.drawn[1].frame, 2);
    EXPECT_EQ(rig.drawn[2].frame, 3);
}

TEST_F(Painter, StoppingASuspendedPainterLetsItEndWithoutDrawing)
{
    PainterRig rig(Animation({{3}, {3}}));
    TGIFPainter* painter = rig.gif.image->InternalPaint(nullptr, rig.target.Canvas(), Rect(0, 0, 2, 2),
                                                         GIFImageDefaultDrawOptions);
    ASSERT_NE(painter, nullptr);
    EXPECT_TRUE(painter->Suspended());
    painter->Stop();
    EXPECT_TRUE(PumpUntil([&] { return !rig.Running(); }));
    EXPECT_TRUE(rig.drawn.empty());
}

TEST_F(Painter, ASynchronousPainterRunsInsideTheCallAndWaitsInSlices)
{
    PainterRig rig(Animation({{3}, {3}}));
    // Each slice of the wait is stepped from the clock's own timer, which
    // the painter's event processing does not need.
    std::thread stepper([&] {
        for (int i = 0; i < 200 && rig.drawnCount < 2; ++i)
            if (AwaitClockSleepers(1, 200))
                rig.clock.clock.Advance(12);
    });
    EXPECT_EQ(rig.gif.image->Paint(rig.target.Canvas(), Rect(0, 0, 2, 2),
                                   static_cast<TGIFDrawOptions>(GIFImageDefaultDrawOptions & ~goAsync)),
              nullptr);
    stepper.join();
    ASSERT_EQ(rig.drawn.size(), 2u);
    // The first frame waits one delay unit, the second the 3 units of the
    // first frame's delay.
    EXPECT_EQ(rig.drawn[1].at - rig.drawn[0].at, 36u);
    EXPECT_FALSE(rig.Running());
}

TEST_F(Painter, DisposalMethodsComposeAsImageMagickDoes)
{
    // gifsicle's animations and ImageMagick's frames of them
    // (scripts/make-gif-painter-fixtures.sh).
    const struct {
        const char* name;
        std::size_t frames;
    } cases[] = {
        // A frame that stays, one restored to the background, one restored
        // to the picture before it, then one more that stays.
        {"painter_disposal", 4},
        // A first frame restored to the empty screen, then frames whose
        // disposal field says 6 and 7: they stay, as frames without a
        // method do.
        {"painter_disposal_first_previous", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = std::string(VISTREL_TEST_DATA) + "/fixtures/" + c.name;
        std::ifstream in(base + ".gif", std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        PainterRig rig(bytes);
        auto matches = [&](int frame) {
            const PnmPicture ref = ReadPnmFile(base + "_" + std::to_string(frame) + ".ref.ppm");
            for (int y = 0; y < ref.height; ++y)
                for (int x = 0; x < ref.width; ++x) {
                    const std::uint32_t want = ref.At(x, y);
                    const TColor c = rig.target.Canvas().Pixel(x, y);
                    const std::uint32_t got = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
                    if (got != want)
                        return testing::AssertionFailure() << "frame " << frame << " at " << x << "," << y << ": "
                                                           << std::hex << got << " instead of " << want;
                }
            return testing::AssertionSuccess();
        };
        rig.afterFrame = [&](TGIFPainter& p) { EXPECT_TRUE(matches(p.ActiveImage())); };
        rig.Start();
        ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
        for (std::size_t i = 1; i < c.frames; ++i) {
            rig.Advance(60);
            ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == i + 1; }));
        }
    }
}

}  // namespace

namespace {

TEST_F(Painter, AnErrorEndsASynchronousPainterAndReachesTheCallerAfterIt)
{
    PainterRig rig(Animation({{3}, {3}}));
    rig.gif.image->OnBeforeFrame = [](TObject*) { throw EInvalidGraphic("frame failed"); };
    // The synchronous painter sleeps on the manual clock, which this thread
    // moves along.
    std::atomic<bool> done{false};
    std::thread stepper([&] {
        while (!done)
            if (AwaitClockSleepers(1, 20))
                rig.clock.clock.Advance(12);
    });
    const std::string error = ErrorOf([&] {
        rig.gif.image->Paint(rig.target.Canvas(), Rect(0, 0, 2, 2),
                             static_cast<TGIFDrawOptions>(GIFImageDefaultDrawOptions & ~goAsync));
    });
    done = true;
    stepper.join();
    EXPECT_EQ(error, "frame failed");
    EXPECT_FALSE(rig.Running());
}

TEST_F(Painter, DrawStartsOneAnimationAndFreeingTheImageEndsIt)
{
    PainterRig rig(Animation({{3}, {3}}, 0));  // looping for ever
    TGIFImage& image = *rig.gif.image;
    TBitmap screen;
    screen.SetSize(2, 2);
    image.Draw(screen.Canvas(), Rect(0, 0, 2, 2));
    // The first frame is drawn by the time Draw returns.
    ASSERT_NE(image.DrawPainter(), nullptr);
    EXPECT_EQ(screen.Canvas().Pixel(1, 1), static_cast<TColor>(0x0000FF));
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 1; }));
    TGIFPainter* first = image.DrawPainter();
    image.Draw(screen.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(image.DrawPainter(), first);
    rig.Advance(36);
    ASSERT_TRUE(PumpUntil([&] { return rig.drawn.size() == 2; }));
    image.Draw(screen.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(screen.Canvas().Pixel(1, 1), static_cast<TColor>(0x00FF00));
    // Another file shown: the image goes, and its painter with it at once:
    // no thread waits for a next frame any more.
    ASSERT_TRUE(AwaitClockSleepers(1, 1000)) << "the painter waits to draw frame 0 again";
    rig.gif.image.reset();
    EXPECT_FALSE(AwaitClockSleepers(1, 100)) << "the painter still waits for its next frame";
}

TEST_F(Painter, ADrawingCallQueuedBeforeStopDoesNotDraw)
{
    PainterRig rig(Animation({{3}, {3}}));
    TGIFPainter* painter = rig.Start();
    // The painter's first call (the start event) is queued for the
    // user-interface thread meanwhile; Stop comes before the queue runs.
    std::this_thread::sleep_for(50ms);
    painter->Stop();
    EXPECT_TRUE(PumpUntil([&] { return !rig.Running(); }));
    EXPECT_EQ(rig.paintStarts, 0);
    EXPECT_TRUE(rig.drawn.empty());
    EXPECT_EQ(rig.target.Canvas().Pixel(0, 0), clWhite);
}

}  // namespace
