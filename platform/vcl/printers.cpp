#include "printers.h"

#include <QMarginsF>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

struct TPrinter::Impl {
    // The device's own resolution (1200 dpi for PDF files), as the system's
    // printer drivers report theirs.
    QPrinter printer{QPrinter::HighResolution};
    QPainter painter;
};

namespace {

constexpr const char* kNoDefaultPrinter = "There is no default printer currently selected";
constexpr const char* kPrinting = "Printing in progress";
constexpr const char* kNotPrinting = "Printer is not currently printing";

// The printable area as the device reports it: the sheet less the margins
// it cannot print on (none for a PDF file).
QRect PaintRect(QPrinter& printer) { return printer.pageLayout().paintRectPixels(printer.resolution()); }

}  // namespace

TPrinter::TPrinter() = default;

TPrinter::~TPrinter()
{
    if (m_impl && m_impl->painter.isActive()) {
        m_canvas.SetPainter(nullptr);
        m_impl->painter.end();
    }
}

TPrinter::Impl& TPrinter::Device() const
{
    if (!m_impl) {
        m_impl = std::make_unique<Impl>();
        QPrinter& p = m_impl->printer;
        p.setFullPage(false);
        // Margins as small as the device allows: the printable area is the
        // device's, and callers put their own margins inside it.
        p.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
        if (!m_outputFileName.empty()) {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(QString::fromStdString(m_outputFileName));
        } else {
            const QStringList names = QPrinterInfo::availablePrinterNames();
            if (m_printerIndex >= 0 && m_printerIndex < names.size())
                p.setPrinterName(names[m_printerIndex]);
        }
    }
    return *m_impl;
}

void TPrinter::CheckIdle() const
{
    if (Printing())
        throw EPrinter(kPrinting);
}

void TPrinter::BeginDoc()
{
    CheckIdle();
    Impl& d = Device();
    // Without an output file the job needs a printer of the system's.
    if (m_outputFileName.empty() && QPrinterInfo::availablePrinterNames().isEmpty())
        throw EPrinter(kNoDefaultPrinter);
    d.printer.setDocName(QString::fromStdString(Title));
    if (!d.painter.begin(&d.printer)) {
        if (!m_outputFileName.empty())
            throw EPrinter("Cannot create file \"" + m_outputFileName + "\"");
        throw EPrinter(kNoDefaultPrinter);
    }
    m_aborted = false;
    m_pageNumber = 1;
    m_canvas.SetPainter(&d.painter);
}

void TPrinter::CheckPrinting() const
{
    if (!Printing())
        throw EPrinter(kNotPrinting);
}

void TPrinter::EndDoc()
{
    CheckPrinting();
    m_canvas.SetPainter(nullptr);
    m_impl->painter.end();
    m_pageNumber = 0;
}

void TPrinter::NewPage()
{
    CheckPrinting();
    m_impl->printer.newPage();
    ++m_pageNumber;
}

void TPrinter::Abort()
{
    CheckPrinting();
    m_impl->printer.abort();
    m_canvas.SetPainter(nullptr);
    m_impl->painter.end();
    m_aborted = true;
    m_pageNumber = 0;
}

bool TPrinter::Printing() const { return m_impl && m_impl->painter.isActive(); }
bool TPrinter::Aborted() const { return m_aborted; }
int TPrinter::PageNumber() const { return m_pageNumber; }
TCanvas& TPrinter::Canvas() { return m_canvas; }

const std::string& TPrinter::OutputFileName() const { return m_outputFileName; }

void TPrinter::SetOutputFileName(const std::string& fileName)
{
    CheckIdle();
    m_outputFileName = fileName;
    // The device is set up afresh for the next use.
    m_impl.reset();
}

std::vector<std::string> TPrinter::Printers() const
{
    std::vector<std::string> names;
    for (const QString& name : QPrinterInfo::availablePrinterNames())
        names.push_back(name.toStdString());
    return names;
}

int TPrinter::PrinterIndex() const { return m_printerIndex; }

void TPrinter::SetPrinterIndex(int index)
{
    CheckIdle();
    if (index < -1 || index >= static_cast<int>(QPrinterInfo::availablePrinterNames().size()))
        throw EPrinter("Printer selected is not valid");
    m_printerIndex = index;
    m_impl.reset();
}

int TPrinter::PageWidth() const { return PaintRect(Device().printer).width(); }
int TPrinter::PageHeight() const { return PaintRect(Device().printer).height(); }
int TPrinter::PixelsPerInchX() const { return Device().printer.logicalDpiX(); }
int TPrinter::PixelsPerInchY() const { return Device().printer.logicalDpiY(); }

int TPrinter::PhysicalWidth() const
{
    QPrinter& p = Device().printer;
    return p.pageLayout().fullRectPixels(p.resolution()).width();
}

int TPrinter::PhysicalHeight() const
{
    QPrinter& p = Device().printer;
    return p.pageLayout().fullRectPixels(p.resolution()).height();
}

int TPrinter::PhysicalOffsetX() const { return PaintRect(Device().printer).left(); }
int TPrinter::PhysicalOffsetY() const { return PaintRect(Device().printer).top(); }

namespace {
std::unique_ptr<TPrinter> g_printer;
}

TPrinter* Printer()
{
    if (!g_printer)
        g_printer = std::make_unique<TPrinter>();
    return g_printer.get();
}

TPrinter* SetPrinter(TPrinter* printer)
{
    TPrinter* previous = g_printer.release();
    g_printer.reset(printer);
    return previous;
}
