// Inside the OLE container: word-processor, spreadsheet and presentation
// documents turned into a picture of their first page by LibreOffice's
// headless converter, run as a separate process, and the cache of those
// pictures.
#pragma once

#include "win/wintypes.h"

#include <QImage>
#include <QProcess>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Why a document shows no picture, as the container reports it.
inline constexpr const char* kDamagedDocumentReason = "The document is damaged or is no office document.";
inline constexpr const char* kLockedDocumentReason = "The document is protected by a password.";
inline constexpr const char* kNoConverterReason = "Office documents are shown through LibreOffice, which is not installed.";

// A document as the cache knows it: its path, size and modification time.
// A document that changes gets a new key, so a stale picture is never shown.
struct TOfficeDocumentKey {
    std::string path;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const TOfficeDocumentKey&) const = default;
    // The key's name in the cache folder.
    std::string Name() const;
};

// The key of a regular file that can be read; nullopt otherwise, with the
// failure (a Win32 code) in *error.
std::optional<TOfficeDocumentKey> KeyOfDocument(const std::string& path, DWORD* error);

// The converter program (soffice or libreoffice found in PATH); empty when
// none is installed.
std::string OfficeConverterProgram();

// What a conversion gave: a picture of the first page, or why there is none.
struct TOfficeOutcome {
    QImage picture;        // null on failure
    HRESULT code = S_OK;   // the failure's code
    std::string reason;    // the failure's text, a full sentence
    bool lasting = false;  // a failure that comes again for the same file (damaged, locked)
};

// The program's pictures of documents, in "office" below its cache folder:
// one PNG file per key, or a text file naming a failure that would come
// again. The folder keeps the most recently stored entries only.
namespace OfficeCache {
std::optional<TOfficeOutcome> Find(const TOfficeDocumentKey& key);
void Store(const TOfficeDocumentKey& key, const TOfficeOutcome& outcome);
std::string Folder();
}  // namespace OfficeCache

// One run of the converter over a copy of a document. The document is
// copied (read-only) into a private work folder; the converter runs there
// with the program's own profile (macros off, links never updated, no
// network where the system allows a private one), its temporary files in
// the work folder too. The outcome reaches the callback on the thread that
// started the conversion, through its event loop, never from the
// destructor. Destroying the conversion ends the converter's processes and
// removes the work folder.
class TOfficeConversion {
public:
    using TDone = std::function<void(TOfficeOutcome)>;
    // Starts the converter; a failure to start comes back through done.
    TOfficeConversion(const std::string& program, const TOfficeDocumentKey& key, TDone done);
    ~TOfficeConversion();
    TOfficeConversion(const TOfficeConversion&) = delete;
    TOfficeConversion& operator=(const TOfficeConversion&) = delete;

    // The converter's process id while it runs, else 0.
    std::int64_t ProcessId() const;
    // The private work folder (removed with the conversion).
    const std::string& WorkFolder() const { return m_work; }

private:
    void Finished();
    void Deliver(TOfficeOutcome outcome);
    void EndProcess();

    std::shared_ptr<bool> m_alive;  // false once the conversion is ended: drops its queued outcome
    std::unique_ptr<QProcess> m_process;
    std::string m_work;
    std::string m_output;
    TDone m_done;
};
