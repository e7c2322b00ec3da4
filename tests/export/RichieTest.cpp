// The Richie buffer: plain text, RTF, files, clipboard data and printing.

#include "ExportFile.h"
#include "Richie.h"
#include "RichiePrinter.h"
#include "RtfText.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

Richie sampleBuffer()
{
    Richie buffer;
    buffer.Add(QStringLiteral("Akku 7"));
    buffer.Add(QStringLiteral("Größe {groß}\\Maße"));
    buffer.Add(QStringLiteral("1\t2\t\tEntladen"));
    buffer.Add(QString());
    buffer.Add(QStringLiteral("Ω ≥ 5 € \U0001F50B"));
    return buffer;
}

// Pages of a PDF written by Qt: one "/Type /Page" object per page.
int pdfPageCount(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page\\b(?!s)"));
    int count = 0;
    auto matches = page.globalMatch(QString::fromLatin1(pdf));
    while (matches.hasNext()) {
        matches.next();
        ++count;
    }
    return count;
}

int printToPdf(const Richie &buffer, const QString &path)
{
    QPdfWriter writer(path);
    writer.setResolution(1200);
    writer.setPageSize(QPageSize(QPageSize::A4));
    return RichiePrinter::Print(buffer, writer);
}

} // namespace

TEST(RichieText, PlainTextEndsEveryLineWithCrLf)
{
    Richie buffer;
    buffer.Add(QStringLiteral("a\tb"));
    buffer.Add(QString());
    buffer.Add(QStringLiteral("c"));
    EXPECT_EQ(buffer.PlainText(), QStringLiteral("a\tb\r\n\r\nc\r\n"));
    buffer.Clear();
    EXPECT_TRUE(buffer.PlainText().isEmpty());
}

TEST(RichieText, RtfEscapesSpecialCharactersAndKeepsTheText)
{
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("a\\b{c}d")), QByteArray("a\\\\b\\{c\\}d"));
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("ä ß")), QByteArray("\\'e4 \\'df"));
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("x\ty")), QByteArray("x\\tab y"));
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("€")), QByteArray("\\u8364?"));
    // Above 32767 the number is negative; beyond the BMP a surrogate pair.
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("\uFF01")), QByteArray("\\u-255?"));
    EXPECT_EQ(Richie::RtfEscaped(QStringLiteral("\U0001F50B")), QByteArray("\\u-10179?\\u-8949?"));

    const Richie buffer = sampleBuffer();
    const RtfReadResult read = ReadRtfText(buffer.Rtf());
    ASSERT_TRUE(read.valid) << read.error.toStdString();
    EXPECT_EQ(read.text, buffer.Lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

TEST(RichieFile, FilterChoosesTheFormatAndAnExistingFileIsReplaced)
{
    QTemporaryDir directory;
    const Richie buffer = sampleBuffer();
    const QString path = directory.filePath(QStringLiteral("tabelle.rtf"));
    ExportFile::Export(buffer, path, ExportFile::RtfFilter());
    // The plain text filter writes plain text whatever the name says, over
    // the longer RTF content.
    ExportFile::Export(buffer, path, ExportFile::TextFilter());
    EXPECT_EQ(readFile(path), buffer.PlainText().toUtf8());
    EXPECT_EQ(ExportFile::WithDefaultExtension(QStringLiteral("/x/a.b/name")), QStringLiteral("/x/a.b/name.txt"));

    EXPECT_THROW(buffer.SaveToFile(directory.filePath(QStringLiteral("no/such/dir/x.txt")), Richie::Format::Rtf),
                 ExportError);
}

TEST(RichiePrint, FlowsOverPagesInsideThePageRectangle)
{
    QTemporaryDir directory;
    Richie buffer;
    EXPECT_EQ(printToPdf(buffer, directory.filePath(QStringLiteral("empty.pdf"))), 1);

    // On A4 the scaled rectangle is about 9.6 inches high: a 10 pt line
    // (about a sixth of an inch) leaves room for some 55 lines a page.
    for (int i = 0; i < 300; ++i)
        buffer.Add(QStringLiteral("%1\t1,234\t0,5").arg(i * 30));
    const QString path = directory.filePath(QStringLiteral("protocol.pdf"));
    const int pages = printToPdf(buffer, path);
    EXPECT_GE(pages, 5);
    EXPECT_LE(pages, 7);
    EXPECT_EQ(pdfPageCount(readFile(path)), pages);

    // A line longer than the rectangle is wrapped, not cut off: more pages.
    Richie wide;
    for (int i = 0; i < 300; ++i)
        wide.Add(QString(80, QLatin1Char('W')));
    EXPECT_GT(printToPdf(wide, directory.filePath(QStringLiteral("wide.pdf"))), pages);
}

TEST(RichiePrint, TheRectangleScalesToPaperAndResolution)
{
    QTemporaryDir directory;
    const struct {
        QPageSize::PageSizeId paper;
        QPageLayout::Orientation orientation;
        int dpi;
    } cases[] = {
        {QPageSize::A4, QPageLayout::Portrait, 600},
        {QPageSize::Letter, QPageLayout::Portrait, 300},
        {QPageSize::A5, QPageLayout::Landscape, 1200},
    };
    for (const auto &c : cases) {
        QPdfWriter writer(directory.filePath(QStringLiteral("page.pdf")));
        writer.setResolution(c.dpi);
        writer.setPageSize(QPageSize(c.paper));
        writer.setPageOrientation(c.orientation);
        const QRect paper = writer.pageLayout().fullRectPixels(c.dpi);
        const QRect printable = writer.pageLayout().paintRectPixels(c.dpi);
        const QRect rect = RichiePrinter::ScaledPageRect(writer).translated(printable.topLeft());
        SCOPED_TRACE(c.dpi);
        // Margins in proportion to the paper: 1/8.5 of the width on the left,
        // 1/11 of the height on top and bottom, 1/17 of the width on the right.
        EXPECT_NEAR(rect.left(), paper.width() / 8.5, 2);
        EXPECT_NEAR(rect.top(), paper.height() / 11.0, 2);
        EXPECT_NEAR(paper.width() - rect.right() - 1, paper.width() / 17.0, 2);
        EXPECT_NEAR(paper.height() - rect.bottom() - 1, paper.height() / 11.0, 2);
    }
    // On Letter at 360 dpi it is the rectangle the printer was given before.
    QPdfWriter letter(directory.filePath(QStringLiteral("letter.pdf")));
    letter.setResolution(360);
    letter.setPageSize(QPageSize(QPageSize::Letter));
    letter.setPageMargins(QMarginsF(0, 0, 0, 0));
    EXPECT_EQ(RichiePrinter::ScaledPageRect(letter), RichiePrinter::DefaultPageRect());
}

TEST(RichiePrint, RectangleOffThePageFallsBackToThePage)
{
    QTemporaryDir directory;
    QPdfWriter writer(directory.filePath(QStringLiteral("low.pdf")));
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A6));
    EXPECT_EQ(RichiePrinter::EffectivePageRect(writer, RichiePrinter::DefaultPageRect()),
              QRect(0, 0, writer.width(), writer.height()));
}
