// Two short WAVs played through Qt Multimedia (GStreamer underneath) as a
// playlist, to the wrap-around: the real device loads, plays, ends with its
// position at its length, and the next tick moves on. Offscreen and without
// a sound card, as in CI. The timer's ticks are given by the test once each
// entry has ended, so the test lasts little more than the sound.
#include "app_fixture.h"
#include "players_fixture.h"

#include "media/mediadevice.h"
#include "media/mplayer.h"

#include <QElapsedTimer>


namespace {

// Pumps messages until the player's entry has ended; false after 10 s.
bool PlaysToTheEnd(TMediaPlayer& player)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (player.Mode() == mpStopped && player.Length() > 0 && player.Position() == player.Length())
            return true;
    }
    return false;
}

// Answers whether the machine has an audio device, for the test's life.
class ScopedAudioOutput {
public:
    explicit ScopedAudioOutput(bool present) { SetAudioOutputProbe([present] { return present; }); }
    ~ScopedAudioOutput() { SetAudioOutputProbe(nullptr); }
};

} // namespace

class RealMediaTest : public AppTest {};

TEST_F(RealMediaTest, TwoWavsPlayInTurnToTheWrapAround)
{
    // GStreamer plays to no output where the machine has no sound card.
    ScopedAudioOutput audio(true);
    WriteDefaults();
    dir.Write("music/one.wav", PlayerFixtureBytes("one.wav"));
    dir.Write("music/two.wav", PlayerFixtureBytes("two.wav"));
    dir.Write("mlist/lindex.txt", "Two\r\n1\r\n");
    dir.Write("mlist/m1.txt", dir.Path("music/one.wav") + "\r\n" + dir.Path("music/two.wav") + "\r\n");
    TForm1& f = ShowMainWindow();
    f.PlayAPlaylist1->Items(0)->Click();
    ASSERT_TRUE(f.Timer1->Enabled());
    // The test gives the ticks itself.
    f.Timer1->SetEnabled(false);
    EXPECT_EQ(f.mp->FileName, dir.Path("music/one.wav"));
    EXPECT_EQ(f.mp->Mode(), mpPlaying);
    EXPECT_EQ(f.mp->Length(), 500);
    EXPECT_TRUE(f.stop->Enabled());

    f.Timer1Timer(nullptr); // still playing: nothing changes
    EXPECT_EQ(f.PlaylistIndex, 0);
    ASSERT_TRUE(PlaysToTheEnd(*f.mp));
    f.Timer1Timer(nullptr);
    EXPECT_EQ(f.PlaylistIndex, 1);
    EXPECT_EQ(f.mp->FileName, dir.Path("music/two.wav"));
    EXPECT_EQ(f.mp->Mode(), mpPlaying);
    ASSERT_TRUE(PlaysToTheEnd(*f.mp));
    f.Timer1Timer(nullptr);
    EXPECT_EQ(f.PlaylistIndex, 0);
    EXPECT_EQ(f.mp->FileName, dir.Path("music/one.wav"));
    EXPECT_EQ(f.mp->Mode(), mpPlaying);
    f.stop->Click();
    EXPECT_EQ(f.mp->Mode(), mpStopped);
    EXPECT_FALSE(f.stop->Enabled());
}

TEST_F(RealMediaTest, WithoutAnAudioDeviceASoundSaysItCannotBePlayed)
{
    ScopedAudioOutput audio(false);
    WriteDefaults();
    dir.Write("music/one.wav", PlayerFixtureBytes("one.wav"));
    TForm1& f = ShowMainWindow();
    const std::string reason = "Failed to play this file! There is no audio device to play the sound on.";

    f.CurrentFile = dir.Path("music/one.wav");
    f.ViewCurrentFile();
    EXPECT_EQ(f.StatusBar1->Panel(0).Text, reason);
    EXPECT_FALSE(f.stop->Enabled());
    EXPECT_NE(f.mp->Mode(), mpPlaying);

    // A video with sound still shows its pictures.
    dir.Write("clip.mpg", PlayerFixtureBytes("clip.mpg"));
    f.CurrentFile = dir.Path("clip.mpg");
    f.ViewCurrentFile();
    EXPECT_EQ(FrontPreviewPanel(), "ScrollAvi");
    EXPECT_EQ(f.StatusBar1->Panel(0).Text, dir.Path("clip.mpg"));
    EXPECT_TRUE(f.stop->Enabled());
    f.stop->Click();
}
