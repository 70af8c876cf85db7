// The music playlists: menus built from the playlist index, and playing
// entry after entry on the one-second timer, against a scripted media
// device on the test clock.
#include "app_fixture.h"
#include "players_fixture.h"
#include "scripted_media.h"

#include "media/mplayer.h"

#include "rtl/clock.h"

class PlaylistsTest : public AppTest {
protected:
    // The window goes before the test clock and the scripted device it uses.
    ~PlaylistsTest() override
    {
        delete form;
        form = nullptr;
    }
    // A playlist index and the playlist files, each given as its lines.
    void WritePlaylists(const std::vector<std::pair<std::string, std::vector<std::string>>>& lists)
    {
        std::string index;
        int number = 1;
        for (const auto& [name, entries] : lists) {
            index += name + "\r\n" + std::to_string(number) + "\r\n";
            std::string lines;
            for (const std::string& e : entries)
                lines += e + "\r\n";
            dir.Write("mlist/m" + std::to_string(number) + ".txt", lines);
            ++number;
        }
        dir.Write("mlist/lindex.txt", index);
    }
    // A music file in the test's folder that the scripted device plays.
    std::string Song(const std::string& name, ScriptedMedia m = {})
    {
        dir.Write("music/" + name, "sound");
        media.library.files[dir.Path("music/" + name)] = m;
        return dir.Path("music/" + name);
    }
    TForm1& Show()
    {
        WriteDefaults();
        return ShowMainWindow();
    }
    void Play(int menuIndex) { form->PlayAPlaylist1->Items(menuIndex)->Click(); }
    void Tick() { clock.clock.Advance(1000); }
    std::vector<std::string> Messages() const { return MessageTexts(*prompts); }

    ScopedManualClock clock;
    ScopedScriptedMedia media;
};

TEST_F(PlaylistsTest, MenusListThePlaylistsOfTheIndex)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Jazz\r\n1\r\nRock\r\n4\r\nodd line\r\n");
    TForm1& f = ShowMainWindow();
    EXPECT_EQ(MenuCaptions(f.PlayAPlaylist1), (std::vector<std::string> {"Jazz", "Rock"}));
    EXPECT_EQ(MenuCaptions(f.PopupPlaylist->Items()), (std::vector<std::string> {"Jazz", "Rock"}));
    dir.Write("mlist/lindex.txt", "Blues\r\n7\r\n");
    f.BuildPlaylistMenus();
    EXPECT_EQ(MenuCaptions(f.PlayAPlaylist1), (std::vector<std::string> {"Blues"}));
    EXPECT_EQ(MenuCaptions(f.PopupPlaylist->Items()), (std::vector<std::string> {"Blues"}));
}

TEST_F(PlaylistsTest, EntriesPlayInTurnSkippingWhatCannotPlayAndStartOverAfterTheLast)
{
    WriteDefaults();
    const std::string a = Song("a.mp3");
    const std::string capitals = Song("b.MP3");
    const std::string d = Song("d.wav", {1500});
    const std::string e = Song("e.mid");
    WritePlaylists({{"Mix", {a, capitals, dir.Path("music/c.txt"), dir.Path("music/missing.wav"), d, e}}});
    TForm1& f = ShowMainWindow();
    Play(0);
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a}));
    EXPECT_TRUE(f.Timer1->Enabled());
    EXPECT_TRUE(f.stop->Enabled());
    EXPECT_TRUE(f.Stopplay1->Enabled());
    EXPECT_EQ(f.PlayingKind, 3);
    // The entry is not previewed.
    EXPECT_TRUE(f.CurrentFile.empty());

    Tick(); // a has ended: b.MP3 (its extension is compared as written) is skipped
    EXPECT_EQ(f.PlaylistIndex, 1);
    EXPECT_TRUE(f.PlaylistSkip);
    Tick(); // c.txt: skipped
    Tick(); // missing.wav: the player refuses it, and the stop controls go off
    EXPECT_EQ(f.PlaylistIndex, 3);
    EXPECT_TRUE(f.PlaylistSkip);
    EXPECT_FALSE(f.stop->Enabled());
    Tick(); // d.wav plays for 1.5 s
    EXPECT_TRUE(f.stop->Enabled());
    Tick();
    EXPECT_EQ(f.PlaylistIndex, 4);
    Tick(); // e.mid
    Tick(); // after the last entry the first plays again
    EXPECT_EQ(f.PlaylistIndex, 0);
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a, d, e, a}));

    // "Stop play" ends the playlist.
    f.Stopplay1->Click();
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_FALSE(f.stop->Enabled());
    Tick();
    Tick();
    EXPECT_EQ(media.library.played.size(), 4u);
}

TEST_F(PlaylistsTest, AnEmptyPlaylistLeavesThePlayingOneAsItWas)
{
    WriteDefaults();
    const std::string a = Song("a.mp3");
    const std::string b = Song("b.mp3");
    WritePlaylists({{"Two", {a, b}}, {"Empty", {}}});
    TForm1& f = ShowMainWindow();
    Play(0);
    Play(1);
    EXPECT_EQ(Messages(), (std::vector<std::string> {"No files in this playlist."}));
    EXPECT_TRUE(f.Timer1->Enabled());
    ASSERT_EQ(f.PlaylistFiles->Count(), 2);
    // The playlist goes on when its entry ends, without an error.
    Tick();
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a, b}));
    EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(PlaylistsTest, ABrokenIndexIsReportedAndNothingPlays)
{
    WriteDefaults();
    dir.Write("mlist/lindex.txt", "Broken\r\nnot a number\r\n");
    TForm1& f = ShowMainWindow();
    Play(0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("'not a number' is not a valid integer value"), std::string::npos);
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_TRUE(media.library.played.empty());
}

TEST_F(PlaylistsTest, AnEntryThatFailsWhilePlayingCountsAsEnded)
{
    WriteDefaults();
    const std::string broken = Song("broken.mp3", {60000, false, false, 200});
    const std::string next = Song("next.mp3");
    WritePlaylists({{"List", {broken, next}}});
    TForm1& f = ShowMainWindow();
    Play(0);
    Tick();
    EXPECT_EQ(f.PlaylistIndex, 1);
    EXPECT_EQ(media.library.played, (std::vector<std::string> {broken, next}));
}

TEST_F(PlaylistsTest, ViewingAnMp3ReplacesTheEntryAndTheListGoesOnAfterIt)
{
    WriteDefaults();
    const std::string a = Song("a.mp3", {10000});
    const std::string b = Song("b.mp3");
    const std::string viewed = Song("viewed.mp3", {1500});
    WritePlaylists({{"List", {a, b}}});
    TForm1& f = ShowMainWindow();
    Play(0);
    Tick();
    f.CurrentFile = viewed;
    f.ViewCurrentFile();
    EXPECT_TRUE(f.Timer1->Enabled());
    Tick(); // the viewed file still plays
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a, viewed}));
    Tick();
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a, viewed, b}));
    EXPECT_EQ(f.PlaylistIndex, 1);
}

TEST_F(PlaylistsTest, ViewingAFlashMovieStopsTheList)
{
    WriteDefaults();
    const std::string a = Song("a.mp3", {10000});
    WritePlaylists({{"List", {a, Song("b.mp3")}}});
    dir.Write("movie.swf", "FWS");
    TForm1& f = ShowMainWindow();
    Play(0);
    f.CurrentFile = dir.Path("movie.swf");
    f.ViewCurrentFile();
    EXPECT_EQ(f.StatusBar1->Panel(0).Text, "Failed to play this file!");
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_FALSE(f.stop->Enabled());
    EXPECT_EQ(f.mp->Mode(), mpStopped);
    Tick();
    EXPECT_EQ(media.library.played, (std::vector<std::string> {a}));
}

TEST_F(PlaylistsTest, APlaylistWithNothingPlayableCyclesUntilStopped)
{
    WriteDefaults();
    WritePlaylists({{"None", {dir.Path("x.MP3"), dir.Path("y.ogg")}}});
    TForm1& f = ShowMainWindow();
    Play(0);
    EXPECT_TRUE(f.PlaylistSkip);
    EXPECT_EQ(f.PlaylistIndex, 0);
    Tick();
    EXPECT_EQ(f.PlaylistIndex, 1);
    Tick();
    EXPECT_EQ(f.PlaylistIndex, 0);
    // The stop controls never went on (nothing played): a view of another
    // kind of player stops the list.
    EXPECT_FALSE(f.stop->Enabled());
    dir.Write("movie.swf", "FWS");
    f.CurrentFile = dir.Path("movie.swf");
    f.ViewCurrentFile();
    EXPECT_FALSE(f.Timer1->Enabled());
    EXPECT_TRUE(media.library.played.empty());
}
