// The Richie buffer: plain text, RTF and files.

#include "export/ExportFile.h"
#include "export/Richie.h"
#include "tests/support/RtfText.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

TEST(Richie, PlainTextAndRtfKeepTheText)
{
    const std::pair<const char16_t *, QByteArray> escapes[] = {
        {u"a\\b{c}d", "a\\\\b\\{c\\}d"}, {u"ä ß", "\\'e4 \\'df"}, {u"x\ty", "x\\tab y"}, {u"€", "\\u8364?"},
        // Above 32767 the number is negative; beyond the BMP a surrogate pair.
        {u"\uFF01", "\\u-255?"}, {u"\U0001F50B", "\\u-10179?\\u-8949?"}};
    for (const auto &[text, escaped] : escapes)
        EXPECT_EQ(Richie::RtfEscaped(QString::fromUtf16(text)), escaped);

    Richie buffer;
    for (const char16_t *line : {u"Akku 7", u"Größe {groß}\\Maße", u"1\t2\t\tEntladen", u"", u"Ω ≥ 5 € \U0001F50B"})
        buffer.Add(QString::fromUtf16(line));
    EXPECT_EQ(buffer.PlainText(), buffer.Lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
    const RtfReadResult read = ReadRtfText(buffer.Rtf());
    ASSERT_TRUE(read.valid) << read.error.toStdString();
    EXPECT_EQ(read.text, buffer.Lines().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    // Font sizes go in half-points; an empty family or a size of 0 keeps the one set.
    EXPECT_EQ(std::make_pair(read.font, read.pointSize), std::make_pair(buffer.FontFamily(), 10.0));
    for (const auto &[family, size, expectedFamily, expected] :
         {std::make_tuple("Arial", 11, "Arial", 11.0), std::make_tuple("", 0, "Arial", 11.0),
          std::make_tuple("Courier New", 9, "Courier New", 9.0)}) {
        buffer.SetFont(QString::fromLatin1(family), size);
        const RtfReadResult styled = ReadRtfText(buffer.Rtf());
        EXPECT_EQ(std::make_pair(styled.font, styled.pointSize), std::make_pair(QString(expectedFamily), expected));
        EXPECT_EQ(styled.text, read.text);
    }

    // The plain text filter writes plain text whatever the name says, over the longer RTF.
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("tabelle.rtf"));
    ExportFile::Export(buffer, path, ExportFile::RtfFilter());
    ExportFile::Export(buffer, path, ExportFile::TextFilter());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), buffer.PlainText().toUtf8());
    EXPECT_EQ(ExportFile::WithDefaultExtension(QStringLiteral("/x/a.b/name")), QStringLiteral("/x/a.b/name.txt"));
    EXPECT_THROW(buffer.SaveToFile(directory.filePath(QStringLiteral("no/such/dir/x.txt")), Richie::Format::Rtf),
                 ExportError);
}
