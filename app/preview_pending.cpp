// Viewers whose panels have not been built into the main window yet. Each
// one says so in the status bar and shows nothing of an earlier file; the
// file can still be seen in the ASCII and hex modes. A viewer's own source
// file replaces its function here when it lands.
#include "mainform.h"

namespace {
const char* const kNoViewer = "There is no viewer for this type of file yet. Click 'A' or 'H' in the toolbar to see it "
                              "as text or hex.";
}

void TForm1::LoadImage(int, int, int) { ShowNoPreview(kNoViewer); }
