// The Flash player control and the OLE document container. Neither has an
// implementation on Linux: no Flash player and no OLE servers for word-
// processor, spreadsheet or presentation files are registered, so creating
// the control or the embedded object fails as it does on a machine where
// the class is not registered, with REGDB_E_CLASSNOTREG.
#pragma once

#include "vcl/controls.h"
#include "win/wintypes.h"

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

// The OLE container: holds one embedded object made from a file.
class TOleContainer : public TWinControl {
public:
    explicit TOleContainer(TComponent* owner);
    void DestroyObject();
    // Raises EOleSysError REGDB_E_CLASSNOTREG: no server is registered for
    // any kind of document.
    void CreateObjectFromFile(const std::string& fileName, bool iconic);
};
