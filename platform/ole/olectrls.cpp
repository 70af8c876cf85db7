#include "olectrls.h"

namespace {

[[noreturn]] void ClassNotRegistered()
{
    throw EOleSysError("Class not registered", REGDB_E_CLASSNOTREG);
}

} // namespace

TShockwaveFlash::TShockwaveFlash(TComponent* owner) : TWinControl(owner)
{
    ClassNotRegistered();
}

// A control that was never created has nothing to play or stop; these exist
// for the callers written against the control.
void TShockwaveFlash::SetMovie(const std::string&) { ClassNotRegistered(); }
void TShockwaveFlash::Play() { ClassNotRegistered(); }
bool TShockwaveFlash::Playing() const { return false; }
void TShockwaveFlash::Stop() {}
