// The text of a PDF file as pdftotext (poppler-utils) lays it out, for tests
// that print into PDF files and read back what the pages say.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The whole text, every page followed by a form feed; empty when the file
// cannot be read.
inline std::string PdfText(const std::string& file)
{
    std::string text;
    if (FILE* pipe = ::popen(("pdftotext -layout '" + file + "' - 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

// The text page by page.
inline std::vector<std::string> PdfPages(const std::string& file)
{
    const std::string text = PdfText(file);
    std::vector<std::string> pages;
    size_t from = 0;
    for (size_t ff = text.find('\f'); ff != std::string::npos; ff = text.find('\f', from)) {
        pages.push_back(text.substr(from, ff - from));
        from = ff + 1;
    }
    return pages;
}
