#include "export/ExportFile.h"

#include <QFileInfo>

namespace ExportFile {

QString TextFilter()
{
    return QStringLiteral("Textdateien (*.txt)");
}

QString RtfFilter()
{
    return QStringLiteral("RichTextFormat-Dateien (*.rtf)");
}

QStringList Filters()
{
    return {TextFilter(), RtfFilter()};
}

QString DefaultExtension()
{
    return QStringLiteral("txt");
}

Richie::Format FormatForFilter(const QString &selectedFilter)
{
    return selectedFilter == RtfFilter() ? Richie::Format::Rtf : Richie::Format::PlainText;
}

QString WithDefaultExtension(const QString &fileName)
{
    if (fileName.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName.endsWith(QLatin1Char('.')) ? fileName + DefaultExtension()
                                               : fileName + QLatin1Char('.') + DefaultExtension();
}

void Export(const Richie &buffer, const QString &fileName, const QString &selectedFilter)
{
    buffer.SaveToFile(WithDefaultExtension(fileName), FormatForFilter(selectedFilter));
}

} // namespace ExportFile
