#include "mainwindow/PdfTarget.h"

#include "export/Richie.h"

#include <QFile>
#include <QPageSize>
#include <QPrinter>
#include <QSaveFile>
#include <QTemporaryDir>

namespace PdfTarget {

QString FileFilter()
{
    return QStringLiteral("PDF-Dateien (*.pdf)");
}

void Save(const QString &fileName, const QString &title, const std::function<void(QPrinter &)> &job)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw ExportError(QStringLiteral("Für die PDF-Datei gibt es keinen temporären Ordner: %1")
                              .arg(scratch.errorString()));
    const QString pages = scratch.filePath(QStringLiteral("pages.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pages);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setDocName(title);
        printer.setCreator(QStringLiteral("Braskon"));
        job(printer);
    }   // the printer closes its file here

    QFile printed(pages);
    if (!printed.open(QIODevice::ReadOnly))
        throw ExportError(QStringLiteral("Die PDF-Datei wurde nicht erzeugt: %1").arg(printed.errorString()));
    const QByteArray bytes = printed.readAll();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

} // namespace PdfTarget
