#include "pdftext.h"

#include "pdfcontent.h"
#include "pdfdocument.h"

#include "rtl/bytesearch.h"

namespace {

// Where the data of a block starts and ends round its keywords: after
// "stream" and a CR LF or LF, and before a CR LF or LF and "endstream". A
// lone CR stays part of the data.
std::size_t DataStart(std::string_view rest, std::size_t s)
{
    std::size_t start = s + 6;
    if (rest.substr(start, 2) == "\r\n")
        return start + 2;
    if (rest.substr(start, 1) == "\n")
        return start + 1;
    return start;
}

std::size_t DataEnd(std::string_view rest, std::size_t e)
{
    if (e >= 2 && rest.substr(e - 2, 2) == "\r\n")
        return e - 2;
    if (e >= 1 && rest[e - 1] == '\n')
        return e - 1;
    return e;
}

// Every block between "stream" and "endstream" that inflates, read as
// content with the fonts any resource dictionary of the file names.
void ReadLooseBlocks(std::string_view file, const TPdfDocument& document, TPdfTextLayout& layout,
    TPdfContentLimits limits, bool& cut)
{
    auto resources = std::make_shared<TPdfDict>();
    resources->emplace_back("Font", document.AllFonts());
    TPdfObject dict;
    dict.Kind = TPdfObject::TKind::Dict;
    dict.Dict = resources;
    TPdfObject flate = TPdfObject::MakeName("FlateDecode");
    std::string_view rest = file;
    for (;;) {
        const std::size_t s = FindBytes(rest, "stream");
        const std::size_t e = FindBytes(rest, "endstream");
        if (s == std::string_view::npos || e == std::string_view::npos || s >= e)
            return;
        const std::size_t start = DataStart(rest, s);
        const std::size_t end = DataEnd(rest, e);
        // "stream", CR LF, "endstream" puts the start past the end: an
        // empty block, not a negative size.
        if (end > start) {
            TPdfContentReader reader(&document, layout, dict, limits);
            const TPdfDecodeResult r = DecodePdfStream(rest.substr(start, end - start), flate, PdfNull(),
                [&](const std::uint8_t* d, std::size_t n) { return reader.Feed(d, n, false); });
            if (r != TPdfDecodeResult::Stopped)
                reader.Feed(nullptr, 0, true);
            cut = cut || reader.Cut();
            layout.EndBlock();
            if (layout.Stopped())
                return;
        }
        // 7 bytes past the data's end lies inside the word "endstream", past
        // the start of its own "stream": the next search finds the next block.
        rest.remove_prefix(end + 7);
    }
}

} // namespace

TPdfTextResult ExtractPdfText(const std::uint8_t* data, std::size_t size,
    const std::function<void(std::string_view)>& sink, TPdfContentLimits limits)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    TPdfTextResult result;
    const TPdfDocument document(file);
    if (document.Encrypted()) {
        result.Encrypted = true;
        return result;
    }
    TPdfTextLayout layout([&](std::string_view text) {
        sink(text);
        return true;
    });
    const std::vector<TPdfDocument::TPage> pages = document.Pages();
    if (pages.empty()) {
        ReadLooseBlocks(file, document, layout, limits, result.Cut);
    } else {
        for (const TPdfDocument::TPage& page : pages) {
            TPdfContentReader reader(&document, layout, page.Resources, limits);
            const TPdfObject& contents = page.Dict.Get("Contents");
            const TPdfObject& resolved = document.Resolve(contents);
            if (resolved.IsArray()) {
                for (const TPdfObject& stream : resolved.Elements())
                    reader.ReadStream(stream);
            } else {
                reader.ReadStream(contents);
            }
            result.Cut = result.Cut || reader.Cut();
            layout.EndBlock();
        }
    }
    result.TextBytes = layout.Written();
    return result;
}
