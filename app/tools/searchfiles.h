// The file search window "Search Files": finds the files below a folder by
// type, by keywords in the name and by keywords in the contents, and puts
// each hit as a row into the main window's "Found Files" list while the
// program stays usable. It lives as long as the program and is shown
// without being modal.
#pragma once

#include "vcl/comctrls.h"
#include "vcl/extctrls.h"
#include "vcl/forms.h"
#include "vcl/stdctrls.h"

#include "kernel/mounts.h"
#include "rtl/findfile.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The criteria of one search, built from the window when it starts.
struct SearchInfo {
    bool FindInName = false;
    bool FindInBody = false;
    bool CaseSensitive = false;
    int Logic = 0;  // 0 AND, 1 OR
    // Keywords trimmed of blanks and control characters, case kept; file
    // types trimmed the same way and lower-cased.
    std::array<std::string, 5> Keywords;
    std::array<std::string, 5> FileTypes;
    bool NoFileTypes = true;
    bool NoKeywords = true;
};

// The type test: the name's extension without its dot, lower-cased, is one
// of the types. A name without an extension never passes.
bool PassesTypeTest(const SearchInfo& info, std::string_view fileName);
// The name test on the file name alone: AND needs every keyword given, OR
// one of them; without regard to ASCII case unless the search is
// case-sensitive.
bool PassesNameTest(const SearchInfo& info, std::string_view fileName);

// True when no search runs or the running one is to stop.
extern bool SearchStopped;

class TfrmSearchFiles : public TForm {
public:
    explicit TfrmSearchFiles(TComponent* owner);
    ~TfrmSearchFiles() override;

    TLabel* LabelPath;
    TEdit* SearchPathEdit;
    TButton* Button3;  // "..."
    TCheckBox* cbSub;
    std::array<TEdit*, 5> sk;  // sk1 to sk5
    TRadioGroup* andor;
    TCheckBox *cbName, *cbBody, *cbCaseSensitive;
    std::array<TEdit*, 5> ft;  // ft1 to ft5
    TButton* Button1;  // "Search", "Stop" while a search runs
    TButton* Button4;  // "Close"
    TLabel* Label1;    // the search's state
    TPanel* Panel1;
    TLabel* Label3;    // the current file, then the number found

    void FormCreate(TObject* sender);
    void FormClose(TObject* sender, TCloseAction& action);
    void Button1Click(TObject* sender);
    void Button3Click(TObject* sender);
    void Button4Click(TObject* sender);

    // The criteria as the window holds them now.
    SearchInfo BuildSearchInfo() const;
    // Walks one folder (path ends in '/') depth first, in the order the file
    // system gives its entries, and adds the files that pass to list.
    void SearchFolder(const std::string& path, bool includeSubfolders, TListView& list, const SearchInfo& info);
    // Whether the regular file at path holds the keyword (length bytes).
    bool FileContains(const std::string& path, const char* keyword, int length, bool caseSensitive);
    void AddFoundFile(const std::string& path, TListView& list, std::int64_t size, const std::string& timeText);

private:
    // Whether a file passes the keyword tests (name, then contents).
    bool PassesKeywordTests(const SearchInfo& info, const std::string& path, const std::string& name);
    // Pumps the message queue, drawing the held rows first when their time
    // has come. A pump polls the window system (a system call), which costs
    // more than the walk spends on an entry: it pumps when a millisecond has
    // passed since the last pump, so the program still answers at once
    // while a fast walk is not slowed to the pace of the pumps.
    void Pump();
    // Pumps the message queue; true when the search is to stop.
    bool PumpAndCheckStop();
    // Shows the file being looked at, at most every 50 ms.
    void ShowCurrentFile(const std::string& path);
    // Adds a found row. Rows are drawn at most every 50 ms: drawing the list
    // for each row of a quick run of hits would cost far more than finding
    // them, so a row that comes sooner holds the list's drawing until then.
    void AddRow(const std::string& path, TListView& list, const TSearchRec& entry);
    void ReleaseRows(bool now);

    // The buffer of the content tests, held while a search runs.
    std::vector<char> m_searchBuffer;
    // The kernel's pseudo file systems, read when a search starts.
    std::unique_ptr<TPseudoFileSystemTest> m_pseudo;
    // Something done at most every IntervalMs, the first time at once.
    struct TEvery {
        std::uint64_t IntervalMs;
        bool Done = false;
        std::uint64_t At = 0;
        // Whether it is due; when it is, notes that it is done now.
        bool Due();
    };
    TEvery m_pumps {1};
    TEvery m_currentFile {50};
    TEvery m_rows {50};
    // Whether a walk runs (it may have been told to stop already).
    bool m_searching = false;
    // The list being filled, and whether its drawing is held.
    TListView* m_list = nullptr;
    bool m_rowsHeld = false;
};

extern TfrmSearchFiles* frmSearchFiles;
