// The class library's printer object over Qt Print Support. A job goes to
// a printer that CUPS offers through Qt, or into a PDF file when an output
// file is named (which works with no printer installed at all).
//
// As on the original system, the canvas's origin is the top-left corner of
// the printable area, PageWidth and PageHeight are that area in device
// pixels, and fonts on the canvas are measured in the device's pixels.
#pragma once

#include "graphics.h"

#include <memory>
#include <string>
#include <vector>

// Printer errors ("Printer is not currently printing" and the like).
VISTREL_DECLARE_EXCEPTION(EPrinter, Exception)

class TPrinter : public TObject {
public:
    TPrinter();
    ~TPrinter() override;
    TPrinter(const TPrinter&) = delete;
    TPrinter& operator=(const TPrinter&) = delete;

    // Starts a job and its first page; EPrinter when a job runs already or
    // the printer cannot start one (no printer, a file that cannot be made).
    void BeginDoc();
    // Finishes the job.
    void EndDoc();
    // Ends the page and starts the next one.
    void NewPage();
    // Ends the job and drops what it printed.
    void Abort();
    bool Printing() const;
    // Raises EPrinter "Printer is not currently printing" outside a job.
    void CheckPrinting() const;
    bool Aborted() const;
    // 1 for the first page of the running job.
    int PageNumber() const;
    // The page's canvas while printing; outside a job it measures text but
    // draws nothing.
    TCanvas& Canvas();
    // The name of the job in the printer's queue.
    std::string Title;

    // Where jobs go. An output file name (ending in ".pdf" or not) makes
    // every job a PDF file; empty sends jobs to the chosen printer.
    const std::string& OutputFileName() const;
    void SetOutputFileName(const std::string& fileName);
    // The printers the system offers; the index -1 is its default printer.
    std::vector<std::string> Printers() const;
    int PrinterIndex() const;
    void SetPrinterIndex(int index);

    // Device capabilities, in device pixels: the printable area
    // (HORZRES, VERTRES), the resolution (LOGPIXELSX, LOGPIXELSY), the whole
    // sheet (PHYSICALWIDTH, PHYSICALHEIGHT) and where the printable area
    // starts on it (PHYSICALOFFSETX, PHYSICALOFFSETY).
    int PageWidth() const;
    int PageHeight() const;
    int PixelsPerInchX() const;
    int PixelsPerInchY() const;
    int PhysicalWidth() const;
    int PhysicalHeight() const;
    int PhysicalOffsetX() const;
    int PhysicalOffsetY() const;

private:
    struct Impl;
    Impl& Device() const;
    void CheckIdle() const;
    mutable std::unique_ptr<Impl> m_impl;
    TCanvas m_canvas;
    int m_printerIndex = -1;
    std::string m_outputFileName;
    bool m_aborted = false;
    int m_pageNumber = 0;
};

// The process-wide printer object, made on first use.
TPrinter* Printer();
// Puts another printer object in its place (nullptr: a fresh one on next
// use) and returns the previous one, which the caller then owns.
TPrinter* SetPrinter(TPrinter* printer);
