// The Flash player control and the OLE document container.
//
// No Flash player exists on Linux: creating the control fails as it does on
// a machine where the class is not registered, with REGDB_E_CLASSNOTREG.
//
// The OLE container shows word-processor, spreadsheet and presentation
// documents as their object would: a picture of the first page (sheet,
// slide) at its own size, made by LibreOffice's headless converter in a
// separate process; double-clicking it opens the document in the desktop's
// application for it.
#pragma once

#include "rtl/sysutils.h"
#include "vcl/controls.h"
#include "win/wintypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The Flash player control (class id {D27CDB6E-AE6D-11CF-96B8-444553540000}).
// Construction raises EOleSysError REGDB_E_CLASSNOTREG.
class TShockwaveFlash : public TWinControl {
public:
    explicit TShockwaveFlash(TComponent* owner);
    void SetMovie(const std::string& movie);
    void Play();
    bool Playing() const;
    void Stop();
};

// Results of the container's failures.
constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002u);
constexpr HRESULT STG_E_ACCESSDENIED = static_cast<HRESULT>(0x80030005u);
constexpr HRESULT STG_E_DOCFILECORRUPT = static_cast<HRESULT>(0x80030109u);
constexpr HRESULT RPC_E_TIMEOUT = static_cast<HRESULT>(0x8001011Fu);

class TOfficeConversion;
struct TOfficeDocumentKey;
struct TOfficeOutcome;
class TTimer;
class TOleObjectView;

// A failure of the object that comes after CreateObjectFromFile returned.
using TOleErrorEvent = std::function<void(TObject* sender, const EOleSysError& error)>;

// The OLE container: holds one embedded object made from a file.
class TOleContainer : public TWinControl {
public:
    // The longest a document may take to convert; then the converter is
    // ended and OnObjectError says so.
    static constexpr unsigned kConversionTimeLimitMs = 60000;

    explicit TOleContainer(TComponent* owner);
    ~TOleContainer() override;

    // Lets the present object go: a conversion under way ends (its processes
    // and files with it) and the container is empty.
    void DestroyObject();
    // Makes the object of a document. A document converted before (same
    // path, size and modification time) shows at once, from the program's
    // cache; otherwise "Converting..." shows and the conversion runs in its
    // own process: its picture replaces the text, or OnObjectError reports
    // its failure. Raises EOleSysError at once when the file cannot be
    // read (a STG_E_ or Win32 code), is locked by a password
    // (STG_E_ACCESSDENIED), is damaged (STG_E_DOCFILECORRUPT, also when a
    // conversion said so before), or when no converter is installed
    // (REGDB_E_CLASSNOTREG). Objects shown as an icon are not supported
    // (E_NOTIMPL).
    void CreateObjectFromFile(const std::string& fileName, bool iconic);

    // The document of the present object, shown or converting; empty when
    // there is none.
    const std::string& SourceDoc() const { return m_source; }
    // Whether a conversion runs, and whether it is one of this document as
    // it is now.
    bool Converting() const;
    bool ConvertingFile(const std::string& fileName) const;
    // Whether a picture of a document shows.
    bool ObjectShown() const { return m_shown; }
    // The converter's process while a conversion runs, else 0.
    std::int64_t ConverterProcessId() const;

    // The object's primary verb: the whole document opens in the desktop's
    // application. Raises EOleSysError when there is no object or nothing
    // opens it.
    void DoVerb(int verb);

    TOleErrorEvent OnObjectError;

protected:
    // A double-click runs the primary verb.
    void DblClick() override;

private:
    void ConversionEnded(TOfficeOutcome outcome);
    void ConversionTimedOut();
    void Fail(const EOleSysError& error);
    void SizeToObject();

    TOleObjectView* m_view;
    TTimer* m_limit;
    std::unique_ptr<TOfficeConversion> m_conversion;
    std::unique_ptr<TOfficeDocumentKey> m_key;
    std::string m_source;
    bool m_shown = false;
};
