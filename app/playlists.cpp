// The music playlists: the menus built from the playlist index, and the
// playing of a playlist entry by entry on the one-second timer.
#include "mainform.h"

#include "tools/playlistmanager.h"
#include "tools/programfiles.h"

#include "media/mplayer.h"

namespace {

// The extensions a playlist plays, compared as written: ".MP3" is skipped.
bool IsPlaylistExtension(const std::string& extension)
{
    static const char* const kPlayable[] = {".mp3", ".wav", ".midi", ".mid", ".wma"};
    for (const char* e : kPlayable)
        if (extension == e)
            return true;
    return false;
}

} // namespace

void TForm1::RebuildPlaylistMenu(TMenuItem* root, const TStringList& index)
{
    root->Clear();
    for (int i = 0; i < PairCount(index); ++i)
        root->Insert(i, NewItem(this, index[2 * i], [this](TObject* s) { PlaylistMenuClick(s); }));
}

void TForm1::BuildPlaylistMenus()
{
    TStringList index;
    LoadListOrEmpty(index, ProgramFile("mlist/lindex.txt"));
    RebuildPlaylistMenu(PlayAPlaylist1, index);
    RebuildPlaylistMenu(PopupPlaylist->Items(), index);
}

void TForm1::PlaylistMenuClick(TObject* sender)
{
    try {
        const int m = static_cast<TMenuItem*>(sender)->MenuIndex();
        TStringList index;
        index.LoadFromFile(ProgramFile("mlist/lindex.txt"));
        const int number = StrToInt(index[2 * m + 1]);
        // The list is read before anything changes: an empty one leaves the
        // playlist that plays (and its timer) as they were.
        auto files = std::make_unique<TStringList>();
        files->LoadFromFile(TForm4::GetListFileName(number));
        if (files->Count() == 0) {
            ShowMessage("No files in this playlist.");
            return;
        }
        PlaylistFiles = std::move(files);
        PlaylistSkip = false;
        stopClick(this);
        PlaylistIndex = 0;
        PlayListEntry((*PlaylistFiles)[0]);
        Timer1->SetEnabled(true);
    } catch (const std::exception& e) {
        Application->ShowException(e);
    }
}

void TForm1::PlayListEntry(const std::string& path)
{
    if (!IsPlaylistExtension(ExtractFileExt(path))) {
        PlaylistSkip = true;
        return;
    }
    mp->FileName = path;
    try {
        mp->Open();
    } catch (...) {
        SetStopControls(false);
        PlaylistSkip = true;
        return;
    }
    mp->Play();
    PlaylistSkip = false;
    SetStopControls(true);
    PlayingKind = 3;
}

void TForm1::Timer1Timer(TObject*)
{
    // A tick while a file loads waits for the next one.
    if (MediaFileLoading())
        return;
    // The entry still plays. A player that failed while playing (a decoding
    // error, the file gone) counts as ended, short of its length as it is.
    if (!PlaylistSkip && mp->Position() != mp->Length() && mp->Mode() != mpNotReady)
        return;
    PlaylistIndex = PlaylistIndex + 1 < PlaylistFiles->Count() ? PlaylistIndex + 1 : 0;
    PlayListEntry((*PlaylistFiles)[PlaylistIndex]);
}
