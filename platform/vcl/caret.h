// The system caret: one blinking mark per process, owned by the control
// that created it last. Its shape comes from a bitmap whose white pixels
// invert what lies beneath and whose black pixels leave it alone; without a
// bitmap the caret is a solid block of the given size.
#pragma once

#include "graphics.h"

class TWinControl;

bool CreateCaret(TWinControl* owner, const TBitmap* shape, int width, int height);
bool DestroyCaret();
bool SetCaretPos(int x, int y);
bool GetCaretPos(TPoint& pos);
bool ShowCaret(TWinControl* owner);
bool HideCaret(TWinControl* owner);
// The control that owns the caret, or nullptr.
TWinControl* CaretOwner();
// Whether the caret is shown (not whether it is in its blink-on phase).
bool CaretVisible();
