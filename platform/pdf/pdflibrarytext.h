// The text of a PDF document as the PDF library reads it, for documents the
// program's own reader cannot open: encrypted ones, decrypted with their
// password.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Opens the document with the password (as owner and user password) and
// hands the text of each page to sink, in reading order, lines ended by
// CR LF. Answers TPdfViewerOcx's codes: kOpened, kCannotRead,
// kLocked (the password does not open it) or kDamaged.
int PdfLibraryText(const std::string& fileName, const std::string& password,
    const std::function<void(std::string_view)>& sink);
