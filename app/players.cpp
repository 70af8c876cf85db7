// The viewers that hand a file to an outside component: web pages, Flash
// movies, RealAudio and MCI media, OLE documents; and stopping the players.
#include "mainform.h"

#include "preview.h"

#include "media/mplayer.h"
#include "ole/olectrls.h"
#include "web/webbrowser.h"

namespace {

const char* const kFailedToPlayMessage = "Failed to play this file!";

// The container's reason follows the viewer's own message.
std::string OleFailureMessage(const std::string& reason)
{
    return reason.empty() ? std::string(kFailedToOpenMessage) : std::string(kFailedToOpenMessage) + " " + reason;
}

// Media that play in the video window; the others are sound only.
bool IsVideoExtension(const std::string& extension)
{
    static const char* const kVideo[] = {".avi", ".wmv", ".mpeg", ".mpg", ".dat", ".wm"};
    for (const char* e : kVideo)
        if (extension == e)
            return true;
    return false;
}

} // namespace

std::string FailedToPlayText(const std::string& reason)
{
    return reason.empty() ? std::string(kFailedToPlayMessage) : std::string(kFailedToPlayMessage) + " " + reason;
}

void TForm1::SetStopControls(bool enabled)
{
    stop->SetEnabled(enabled);
    Stopplay1->SetEnabled(enabled);
}

void TForm1::ViewHtml()
{
    bs->SetOffline(true);
    Panelbs->BringToFront();
    bs->Navigate("File://" + CurrentFile);
    ShowFileInfo(CurrentFile);
}

void TForm1::ViewFlash()
{
    if (PlayingKind != 2)
        stopClick(this);
    try {
        PanelFlash->BringToFront();
        if (!flash) {
            flash = new TShockwaveFlash(this);
            flash->SetAlign(alClient);
            flash->SetParent(PanelFlash);
        }
        flash->SetMovie(CurrentFile);
        flash->Play();
        SetStopControls(true);
        PlayingKind = 2;
        ShowFileInfo(CurrentFile);
    } catch (...) {
        ShowStatusMessage(kFailedToPlayMessage);
        SetStopControls(false);
    }
}

void TForm1::ViewRealAudio()
{
    if (PlayingKind != 1)
        stopClick(this);
    try {
        ScrollBoxReal->BringToFront();
        real->SetSource(CurrentFile);
        real->Show();
        real->DoPlay();
        SetStopControls(true);
        PlayingKind = 1;
        ShowFileInfo(CurrentFile);
    } catch (...) {
        // What the player refuses (a .ram metafile naming streams on the
        // network, a damaged file) is shown as text.
        ViewText();
        SetStopControls(false);
    }
}

void TForm1::PlayMedia(const std::string& extension)
{
    if (PlayingKind != 3)
        stopClick(this);
    mp->FileName = CurrentFile;
    {
        TScreenCursorGuard hourglass;
        try {
            mp->Open();
            PlayingKind = 3;
            ShowFileInfo(CurrentFile);
        } catch (const std::exception& e) {
            // The player's reason follows: a damaged file, a format without a
            // decoder, no audio device for a sound.
            ShowNoPreview(FailedToPlayText(e.what()));
            SetStopControls(false);
            return;
        }
        if (IsVideoExtension(extension)) {
            mp->SetDisplay(Panel1);
            Panel1->Repaint();
            ScrollAvi->BringToFront();
        } else {
            // Sound has no picture: the preview shows nothing of the file
            // viewed before while the status bar names this one.
            PanelBlank->BringToFront();
        }
    }
    mp->Play();
    SetStopControls(true);
}

void TForm1::ViewOleDocument()
{
    // The same document viewed again while it converts (a mode switched
    // back to normal) keeps its conversion rather than starting over.
    if (ole->ConvertingFile(CurrentFile)) {
        sbox->BringToFront();
        ShowFileInfo(CurrentFile);
        return;
    }
    try {
        ole->DestroyObject();
        ole->CreateObjectFromFile(CurrentFile, false);
        sbox->BringToFront();
        ShowFileInfo(CurrentFile);
    } catch (const Exception& e) {
        ShowNoPreview(OleFailureMessage(e.Message()));
    } catch (...) {
        ShowNoPreview(kFailedToOpenMessage);
    }
}

void TForm1::OleObjectError(const EOleSysError& error)
{
    // Only the document on view converts (any other view ends it first), so
    // its failure is the current file's.
    ShowNoPreview(OleFailureMessage(error.Message()));
}

void TForm1::EndOtherOleConversion()
{
    if (ole->Converting() && (ViewMode != 0 || !ole->ConvertingFile(CurrentFile)))
        ole->DestroyObject();
}

void TForm1::stopClick(TObject*)
{
    switch (PlayingKind) {
    case 1:
        try {
            real->DoStop();
        } catch (...) {
        }
        break;
    case 2:
        if (flash && flash->Playing())
            flash->Stop();
        break;
    case 3:
        // A player that is not open (its file was refused) or already
        // stopped has nothing to stop.
        if (mp->Mode() == mpPlaying)
            mp->Stop();
        break;
    default: break;
    }
    SetStopControls(false);
    Timer1->SetEnabled(false);
}

void TForm1::Stopplay1Click(TObject* sender) { stopClick(sender); }
