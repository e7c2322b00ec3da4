#pragma once
// Prints the lines of a Richie buffer on a paged device (a printer or a PDF
// writer) inside a page rectangle given in device pixels, wrapping long lines
// and flowing over as many pages as the text needs. One call is one job.

#include "export/Richie.h"

#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QRect>
#include <QTextOption>

#include <functional>
#include <memory>

class QPagedPaintDevice;

namespace RichiePrinter {

// The page rectangle as laid out for a letter page at 360 pixels per inch:
// margin 360 pixels, reaching to 8 and 10 times the margin.
QRect DefaultPageRect();

// DefaultPageRect scaled to the device's paper and resolution, in device
// pixels: the same margins in proportion, so the text fills the page
// (on A4 about 2.5 cm left, 2.7 cm top, 1.2 cm right and 2.7 cm bottom).
QRect ScaledPageRect(const QPagedPaintDevice &device);

// The part of pageRect that lies on the device's page; the whole page when the
// rectangle misses it, so that no text is ever drawn off the paper.
QRect EffectivePageRect(const QPagedPaintDevice &device, const QRect &pageRect);

// Lines printed one after another, as they come (a protocol of millions of
// lines is never held whole): each wrapped inside the page rectangle, a new
// page begun where the next line does not fit. May run on a work thread with
// a device of that thread's own.
class Pages {
public:
    // Begins the job; throws ExportError when the device cannot be painted on.
    Pages(QPagedPaintDevice &device, const QRect &pageRect, const QString &fontFamily, int fontPointSize);
    // A job that was not finished is aborted where the device can (a
    // printer's spooled pages are dropped) before the painter lets go.
    ~Pages();
    Pages(const Pages &) = delete;
    Pages &operator=(const Pages &) = delete;

    void Line(const QString &text);
    // Ends the job; the number of pages printed (at least 1). Throws ExportError.
    int Finish();

private:
    QPagedPaintDevice &device_;
    QRect area_;
    QFont font_;
    QTextOption option_;
    QPainter painter_;
    int layoutPage_ = 1;   // page the next line is laid out on
    int devicePage_ = 1;   // page the painter is on
    qreal y_ = 0;          // top of the next line, relative to the page rectangle
    bool finished_ = false;
};

// Returns the number of pages printed (at least 1, an empty buffer prints one
// empty page). Throws ExportError when the device cannot be painted on.
int Print(const Richie &buffer, QPagedPaintDevice &device, const QRect &pageRect);
// The same inside ScaledPageRect.
int Print(const Richie &buffer, QPagedPaintDevice &device);

// The choices of a printer (which one or which file, paper, resolution,
// copies, colour, duplex), taken on the window thread for a printer of a
// job's own, made on the thread that prints.
struct PrinterChoices {
    QPrinter::OutputFormat format = QPrinter::NativeFormat;
    QString printerName, outputFileName;
    int resolution = 0;
    QPageLayout pageLayout;
    int copies = 1;
    QPrinter::ColorMode colorMode = QPrinter::Color;
    QPrinter::DuplexMode duplex = QPrinter::DuplexNone;
    bool fullPage = false;

    static PrinterChoices Of(const QPrinter &printer);
    void ApplyTo(QPrinter &printer) const;
};

// Runs one print job on the printer chosen last (created on first use). A
// printer without a target refuses the job before it starts; a printer that a
// failed job left active, which would refuse every later setting and job, is
// replaced by a fresh one with the same choices, and the failure is thrown on.
void RunJob(std::unique_ptr<QPrinter> &printer, const std::function<void(QPrinter &)> &job);
// Replaces a printer that a failed job left active (see RunJob).
void Recover(std::unique_ptr<QPrinter> &printer);


} // namespace RichiePrinter
