#include "mainwindow/RichiePrinter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTextLayout>

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

int Print(const Richie &buffer, QPagedPaintDevice &device, const QRect &pageRect)
{
    const QRect area = EffectivePageRect(device, pageRect);
    QPainter painter;
    if (!painter.begin(&device))
        throw ExportError(QStringLiteral("Der Drucker kann nicht benutzt werden."));

    QFont font(buffer.FontFamily());
    font.setPointSize(buffer.FontPointSize());
    painter.setFont(font);
    const QFontMetricsF metrics(font, &device);

    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Tab stops every eight average characters; the layout scales the
    // distance from screen resolution (96 dpi) to the device's resolution.
    const qreal deviceScale = device.logicalDpiY() / 96.0;
    option.setTabStopDistance(8 * metrics.horizontalAdvance(QLatin1Char('x')) / deviceScale);

    int layoutPage = 1;   // page the next line is laid out on
    int devicePage = 1;   // page the painter is on
    qreal y = 0;          // top of the next line, relative to the page rectangle
    for (const QString &text : buffer.Lines()) {
        QTextLayout layout(text, font, &device);
        layout.setTextOption(option);
        layout.beginLayout();
        QVector<int> linePages;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(area.width());
            // A line that does not fit below the last one starts a new page,
            // unless it is the first line of the page (taller than the page).
            if (y > 0 && y + line.height() > area.height()) {
                ++layoutPage;
                y = 0;
            }
            line.setPosition(QPointF(0, y));
            linePages.append(layoutPage);
            y += line.height();
        }
        layout.endLayout();

        for (int i = 0; i < layout.lineCount(); ++i) {
            while (devicePage < linePages[i]) {
                if (!device.newPage())
                    throw ExportError(QStringLiteral("Der Drucker kann keine neue Seite beginnen."));
                ++devicePage;
            }
            layout.lineAt(i).draw(&painter, area.topLeft());
        }
    }
    if (!painter.end())
        throw ExportError(QStringLiteral("Der Druckauftrag konnte nicht abgeschlossen werden."));
    return devicePage;
}

int Print(const Richie &buffer, QPagedPaintDevice &device)
{
    return Print(buffer, device, ScaledPageRect(device));
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
    fresh->setOutputFormat(printer->outputFormat());
    if (printer->outputFormat() == QPrinter::NativeFormat)
        fresh->setPrinterName(printer->printerName());
    fresh->setOutputFileName(printer->outputFileName());
    fresh->setResolution(printer->resolution());
    fresh->setPageLayout(printer->pageLayout());
    fresh->setCopyCount(printer->copyCount());
    fresh->setColorMode(printer->colorMode());
    fresh->setDuplex(printer->duplex());
    fresh->setFullPage(printer->fullPage());
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
