// The web browser control of the preview pane: shows web pages saved on
// this machine, and MHT archives, offline. Only local files are read (and,
// for an MHT, only the archive's own parts); no network address is ever
// fetched and no script runs.
#pragma once

#include "vcl/controls.h"

#include <memory>
#include <string>

class TCppWebBrowser : public TWinControl {
public:
    explicit TCppWebBrowser(TComponent* owner);
    ~TCppWebBrowser() override;

    // Whether the control may go online. It never does: the property is
    // kept for its callers, the control reads local files only either way.
    bool Offline() const { return m_offline; }
    void SetOffline(bool offline) { m_offline = offline; }

    // Shows the page an address names. "File://" (in any case) followed by a
    // path shows that file, the path taken exactly as it stands ('#' and '%'
    // are part of the name); a file whose name ends in ".mht" or ".mhtml" is
    // read as an MHT archive. Any other address shows a page that says it
    // is not shown offline. A file that cannot be read shows why.
    void Navigate(const std::string& url);

    // The file of the page shown, "" before the first page.
    const std::string& LocationName() const;
    // The text of the page shown, without its markup.
    std::string PageText() const;

    struct Browser;

private:
    bool m_offline = false;
    Browser* m_browser;
};

// The most bytes read for a page, and for one picture or style sheet;
// larger files are refused rather than read whole (laying out a page takes
// about a second a megabyte).
constexpr long long kMaxWebPageBytes = 16LL * 1024 * 1024;
constexpr long long kMaxWebResourceBytes = 64LL * 1024 * 1024;
