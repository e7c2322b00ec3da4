#include "RichiePrinter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextLayout>

namespace RichiePrinter {

QRect DefaultPageRect()
{
    constexpr int margin = 360;
    return QRect(QPoint(margin, margin), QPoint(8 * margin - 1, 10 * margin - 1));
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

} // namespace RichiePrinter
