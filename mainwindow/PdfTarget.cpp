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

void SaveVia(const QString &fileName, const std::function<void(QPrinter &)> &setUp,
             const std::function<void(QPrinter &)> &job)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        throw ExportError(QStringLiteral("Für die PDF-Datei gibt es keinen temporären Ordner: %1")
                              .arg(scratch.errorString()));
    const QString pages = scratch.filePath(QStringLiteral("pages.pdf"));
    {
        QPrinter printer(QPrinter::HighResolution);
        // PDF before the choices, so a change of format cannot reset them.
        printer.setOutputFormat(QPrinter::PdfFormat);
        setUp(printer);
        printer.setOutputFileName(pages);
        job(printer);
    }   // the printer closes its file here

    QFile printed(pages);
    if (!printed.open(QIODevice::ReadOnly))
        throw ExportError(QStringLiteral("Die PDF-Datei wurde nicht erzeugt: %1").arg(printed.errorString()));
    QSaveFile file(fileName);
    bool written = file.open(QIODevice::WriteOnly);
    // In pieces: the pages of a long protocol run to many megabytes.
    while (written && !printed.atEnd()) {
        const QByteArray piece = printed.read(1 << 20);
        written = !piece.isEmpty() && file.write(piece) == piece.size();
    }
    if (!written || !file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

void Save(const QString &fileName, const QString &title, const std::function<void(QPrinter &)> &job)
{
    SaveVia(
        fileName,
        [&](QPrinter &printer) {
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setDocName(title);
            printer.setCreator(QStringLiteral("Braskon"));
        },
        job);
}

} // namespace PdfTarget
