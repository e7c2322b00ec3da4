#include "mainwindow/RichiePrinter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>
#include <QVarLengthArray>

namespace RichiePrinter {

QRect DefaultPageRect()
{
    constexpr int margin = 360;
    return QRect(QPoint(margin, margin), QPoint(8 * margin - 1, 10 * margin - 1));
}

QRect ScaledPageRect(const QPagedPaintDevice &device)
{
    // The rectangle's page: letter (8.5 x 11 inches) at 360 pixels per inch.
    constexpr double layoutWidth = 8.5 * 360;
    constexpr double layoutHeight = 11.0 * 360;
    const QRect layout = DefaultPageRect();
    const QPageLayout pageLayout = device.pageLayout();
    const int dpi = device.logicalDpiX();
    const QRect paper = pageLayout.fullRectPixels(dpi);
    const QRect printable = pageLayout.paintRectPixels(dpi);
    const double sx = paper.width() / layoutWidth;
    const double sy = paper.height() / layoutHeight;
    QRect scaled(QPoint(qRound(layout.left() * sx), qRound(layout.top() * sy)),
                 QPoint(qRound((layout.right() + 1) * sx) - 1, qRound((layout.bottom() + 1) * sy) - 1));
    // Device pixels count from the printable area unless a printer prints
    // the full page.
    const auto *printer = dynamic_cast<const QPrinter *>(&device);
    if (!printer || !printer->fullPage())
        scaled.translate(-printable.topLeft());
    return scaled;
}

QRect EffectivePageRect(const QPagedPaintDevice &device, const QRect &pageRect)
{
    const QRect page(0, 0, device.width(), device.height());
    const QRect onPage = pageRect.intersected(page);
    return onPage.isEmpty() ? page : onPage;
}

Pages::Pages(QPagedPaintDevice &device, const QRect &pageRect, const QString &fontFamily, int fontPointSize)
    : device_(device), area_(EffectivePageRect(device, pageRect)), font_(fontFamily)
{
    font_.setPointSize(fontPointSize);
    if (!painter_.begin(&device_))
        throw ExportError(QStringLiteral("Der Drucker kann nicht benutzt werden."));
    painter_.setFont(font_);
    const QFontMetricsF metrics(font_, &device_);
    option_.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Tab stops every eight average characters; the layout scales the
    // distance from screen resolution (96 dpi) to the device's resolution.
    const qreal deviceScale = device_.logicalDpiY() / 96.0;
    option_.setTabStopDistance(8 * metrics.horizontalAdvance(QLatin1Char('x')) / deviceScale);
}

Pages::~Pages()
{
    if (finished_ || !painter_.isActive())
        return;
    if (auto *printer = dynamic_cast<QPrinter *>(&device_))
        printer->abort();
    painter_.end();
}

void Pages::Line(const QString &text)
{
    QTextLayout layout(text, font_, &device_);
    layout.setTextOption(option_);
    layout.beginLayout();
    QVarLengthArray<int, 4> linePages;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area_.width());
        // A line that does not fit below the last one starts a new page,
        // unless it is the first line of the page (taller than the page).
        if (y_ > 0 && y_ + line.height() > area_.height()) {
            ++layoutPage_;
            y_ = 0;
        }
        line.setPosition(QPointF(0, y_));
        linePages.append(layoutPage_);
        y_ += line.height();
    }
    layout.endLayout();

    for (int i = 0; i < layout.lineCount(); ++i) {
        while (devicePage_ < linePages[i]) {
            if (!device_.newPage())
                throw ExportError(QStringLiteral("Der Drucker kann keine neue Seite beginnen."));
            ++devicePage_;
        }
        layout.lineAt(i).draw(&painter_, area_.topLeft());
    }
}

int Pages::Finish()
{
    finished_ = true;
    if (!painter_.end())
        throw ExportError(QStringLiteral("Der Druckauftrag konnte nicht abgeschlossen werden."));
    return devicePage_;
}

int Print(const Richie &buffer, QPagedPaintDevice &device, const QRect &pageRect)
{
    Pages pages(device, pageRect, buffer.FontFamily(), buffer.FontPointSize());
    for (const QString &text : buffer.Lines())
        pages.Line(text);
    return pages.Finish();
}

int Print(const Richie &buffer, QPagedPaintDevice &device)
{
    return Print(buffer, device, ScaledPageRect(device));
}

PrinterChoices PrinterChoices::Of(const QPrinter &printer)
{
    PrinterChoices choices;
    choices.format = printer.outputFormat();
    choices.printerName = printer.printerName();
    choices.outputFileName = printer.outputFileName();
    choices.resolution = printer.resolution();
    choices.pageLayout = printer.pageLayout();
    choices.copies = printer.copyCount();
    choices.colorMode = printer.colorMode();
    choices.duplex = printer.duplex();
    choices.fullPage = printer.fullPage();
    return choices;
}

void PrinterChoices::ApplyTo(QPrinter &printer) const
{
    printer.setOutputFormat(format);
    if (format == QPrinter::NativeFormat)
        printer.setPrinterName(printerName);
    printer.setOutputFileName(outputFileName);
    printer.setResolution(resolution);
    printer.setPageLayout(pageLayout);
    printer.setCopyCount(copies);
    printer.setColorMode(colorMode);
    printer.setDuplex(duplex);
    printer.setFullPage(fullPage);
}

namespace {

bool LeftActive(const QPrinter &printer)
{
    return printer.printerState() == QPrinter::Active;
}

} // namespace

void Recover(std::unique_ptr<QPrinter> &printer)
{
    if (!printer || !LeftActive(*printer))
        return;
    // Qt keeps such a printer "active" for good; a new one takes its choices.
    auto fresh = std::make_unique<QPrinter>(QPrinter::HighResolution);
    PrinterChoices::Of(*printer).ApplyTo(*fresh);
    printer = std::move(fresh);
}

void RunJob(std::unique_ptr<QPrinter> &printer, const std::function<void(QPrinter &)> &job)
{
    if (!printer)
        printer = std::make_unique<QPrinter>();
    Recover(printer);
    // Without any installed printer Qt falls back to PDF output without a
    // file; starting a job there would leave the printer active for good.
    if (printer->outputFormat() == QPrinter::PdfFormat && printer->outputFileName().isEmpty())
        throw ExportError(QStringLiteral("Es ist kein Drucker eingerichtet."));
    try {
        job(*printer);
    } catch (...) {
        Recover(printer);
        throw;
    }
}

} // namespace RichiePrinter
