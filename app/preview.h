// The preview dispatcher's table: which viewer shows a file of a given
// extension, with the image kind and image-class format id the image viewer
// takes.
#pragma once

#include <string>

enum class TViewerKind {
    Html,
    OleDocument,
    Image,
    Rtf,
    Pdf,
    Flash,
    Media,
    RealAudio,
    PeInfo,
    Archive,
    Unknown,
};

struct TPreviewTarget {
    TViewerKind Viewer = TViewerKind::Unknown;
    int ImageKind = 0;  // image viewer only
    int FormatId = 0;   // image viewer only
    std::string Extension;  // lower-cased, with its dot
};

// The extension of a path as the dispatcher takes it: from the last '.' of
// the file-name part to the end, ASCII letters lower-cased; "" without a dot.
std::string PreviewExtension(const std::string& path);
// The viewer the normal preview mode chooses for path.
TPreviewTarget PreviewTargetOf(const std::string& path);

// Files of unknown type at least this large are not opened as text.
constexpr long long kUnknownFileTextLimit = 2000000;
// Files at least this large go to the large text view, which shows them as
// they are read and holds them at about their size; the plain text edit
// takes some 90 ms and 12 bytes of memory a byte to load a file.
constexpr long long kLargeTextBytes = 2 * 1024 * 1024;

// Status-bar messages of a preview that shows nothing: a viewer that failed,
// and a current file that was deleted or moved (followed by its path).
inline constexpr const char* kFailedToOpenMessage = "Failed to open this file!";
inline constexpr const char* kFileGoneMessage = "The file no longer exists: ";
// A player's failure: "Failed to play this file!" and the player's reason
// when it gives one.
std::string FailedToPlayText(const std::string& reason);
