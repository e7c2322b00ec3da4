// The Richie buffer on paper: the page rectangle and wrapped lines.

#include "export/Richie.h"
#include "mainwindow/RichiePrinter.h"

#include <gtest/gtest.h>

#include <QPdfWriter>
#include <QTemporaryDir>

namespace {

int printToPdf(const Richie &buffer, const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(1200);
    writer.setPageSize(QPageSize(QPageSize::A4));
    return RichiePrinter::Print(buffer, writer);
}

} // namespace

// How many lines fill a page is checked through the window's print command.
TEST(RichiePrint, TheRectangleScalesToPaperAndLongLinesWrap)
{
    QTemporaryDir directory;
    Richie narrow, wide;
    for (int i = 0; i < 300; ++i) {
        narrow.Add(QStringLiteral("%1\t1,234\t0,5").arg(i * 30));
        wide.Add(QString(80, QLatin1Char('W')));
    }
    // A line longer than the rectangle is wrapped, not cut off: more pages.
    EXPECT_GT(printToPdf(wide, directory.filePath(QStringLiteral("wide.pdf"))),
              printToPdf(narrow, directory.filePath(QStringLiteral("narrow.pdf"))));

    const struct {
        QPageSize::PageSizeId paper;
        QPageLayout::Orientation orientation;
        int dpi;
    } cases[] = {{QPageSize::A4, QPageLayout::Portrait, 600},
                 {QPageSize::Letter, QPageLayout::Portrait, 300},
                 {QPageSize::A5, QPageLayout::Landscape, 1200}};
    for (const auto &c : cases) {
        QPdfWriter writer(directory.filePath(QStringLiteral("page.pdf")));
        writer.setResolution(c.dpi);
        writer.setPageSize(QPageSize(c.paper));
        writer.setPageOrientation(c.orientation);
        const QRect paper = writer.pageLayout().fullRectPixels(c.dpi);
        const QRect printable = writer.pageLayout().paintRectPixels(c.dpi);
        const QRect rect = RichiePrinter::ScaledPageRect(writer).translated(printable.topLeft());
        SCOPED_TRACE(c.dpi);
        // Margins: 1/8.5 of the width left, 1/17 right, 1/11 of the height top and bottom.
        EXPECT_NEAR(rect.left(), paper.width() / 8.5, 2);
        EXPECT_NEAR(rect.top(), paper.height() / 11.0, 2);
        EXPECT_NEAR(paper.width() - rect.right() - 1, paper.width() / 17.0, 2);
        EXPECT_NEAR(paper.height() - rect.bottom() - 1, paper.height() / 11.0, 2);
    }
}
