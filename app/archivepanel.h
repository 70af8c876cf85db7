// The archive panel of the main window: the entries of an archive in a
// report list (name, type, sizes, ratio, folder, date, attributes, CRC,
// offset, encryption, comment, method), sortable by column, and the
// "Extract..." command with its dialog, overwrite questions and password
// prompts. Listing is done by the archive library's lister, extraction by
// the extractor the archive's type chooses.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/menus.h"
#include "vcl/stdctrls.h"

#include "archive/zadconsts.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TForm1;
class TVirOV;
class TUnZip;
class TUnJar;
class TUnGZip;
class TUnTar;
class TUUDecode;
class TUnArc;
class TUnARJ;
class TUnCab;
class TUnRar;
class TUnBh;
class TUnLha;
class TUnZoo;
class TCustomDClass;
class TfrmExtract;
class TfrmOverwrite;

class TArchivePanel : public TComponent {
public:
    TArchivePanel(TForm1* form, TWinControl* parent);
    ~TArchivePanel() override;

    TPanel* PanelZip;
    TToolBar* tbzip;
    TToolButton* bextract;
    TPanel* Panel3;
    TLabel* Panel3Label;
    TProgressBar* ProgressBar2;
    TListView* ListView1;
    TPopupMenu* popmenuZip;

    TVirOV* VirOV1;
    TUnZip* UnZip1;
    TUnJar* UnJar1;
    TUnGZip* UnGZip1;
    TUnTar* UnTar1;
    TUUDecode* UUDecode1;
    TUnArc* UnArc1;
    TUnARJ* UnARJ1;
    TUnCab* UnCab1;
    TUnRar* UnRar1;
    TUnBh* UnBh1;
    TUnLha* UnLha1;
    TUnZoo* UnZoo1;
    TfrmExtract* frmExtract;
    TfrmOverwrite* frmOverwrite;
    TCustomDClass* ActiveExtractor = nullptr;

    int SortColumn = 0;
    bool SortAscending = false;

    // Shows a dialog modally; tests replace it to answer the dialogs.
    std::function<int(TForm* dialog)> RunModal;

    // Lists the archive (the viewer's step for an existing file).
    void ListArchive(const std::string& path);
    void VirOV1Read(TObject* sender, std::int64_t offset, int filenum);
    void ListView1ColumnClick(TObject* sender, int column);
    int ArchiveListCompare(TListItem* a, TListItem* b) const;
    void bextractClick(TObject* sender);
    // The offer for a text archive whose file is an archive: decode it to
    // the temporary folder and list its entries below the encoded one.
    void DecodeUUArchive();

    void UnZIP1Begin(TObject* sender, const std::string& fileName, int count, bool& extract);
    void UnZIP1End(TObject* sender, const std::string& fileName, bool crcPass);
    void UnZIP1FileExists(TObject* sender, const std::string& fileName, std::string& newFileName, TOverwriteMode& mode);
    void UnZIP1Progress(TObject* sender, BYTE byFile, BYTE byArchive);
    void UnZIP1GetPassword(TObject* sender, const std::string& fileName, std::string& password, bool& tryAgain);

    // The extractor for an archive type, nullptr when the type is not extracted.
    TCustomDClass* ExtractorFor(TArcType type);
    // What the archive library reported during the last listing or
    // extraction, in words for the status bar; empty when all went well.
    const std::string& StatusText() const { return m_statusText; }
    // The masks of the selected rows: the folder text followed by the name.
    std::vector<std::string> SelectedMasks() const;

private:
    // What each row keeps beside its texts (the event's offset and the
    // values the numeric columns sort by).
    struct RowInfo {
        std::int64_t offset = 0;
        std::int64_t packed = 0;
        std::int64_t unpacked = 0;
        int ratio = 0;
        double date = 0;
    };
    const RowInfo* InfoOf(TListItem* item) const;
    TForm1* m_form;
    std::vector<RowInfo> m_rows;
    // The entries of the run under way that failed, each with the reason the
    // library gave for it (empty when it gave none). They are told when the
    // run ends: one message for all that failed for the same reason.
    struct FailedEntry {
        std::string name, reason;
    };
    std::vector<FailedEntry> m_failed;
    // The latest reason the library gave since an entry last ended.
    std::string m_entryReason;
    void ReportFailedEntries();
    // The library's reports of the operation under way (its OnError and
    // OnCorruptZipHeader), summed up in m_statusText when it ends.
    struct LibraryReport {
        int errors = 0;
        int firstCode = 0;
        std::string firstFile, firstText;
        bool corruptHeader = false;
    } m_report;
    std::string m_statusText;
    void NoteError(const std::string& fileName, const std::string& extendedMsg, int code);
    std::string DescribeListing(int rows) const;
    std::string DescribeExtraction(int extracted) const;
    // An extraction is running: the library runs one operation at a time,
    // and the messages it pumps must not start a listing or a second run.
    bool m_busy = false;
};

// Connects the archive library to the application: its message pump, its
// two question boxes and the shell's type names.
void InstallArchiveLibraryHooks();

