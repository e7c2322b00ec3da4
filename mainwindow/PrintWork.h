#pragma once
// Printing texts beside the window: the lines of a table, a label or a
// measurement protocol are painted on a work thread onto a printer (or PDF
// writer) of that thread's own, as Qt allows for QPrinter. A protocol is read
// from the database while it prints, so its millions of lines are never held
// at once. A cancelled or failed job leaves nothing under a chosen PDF name:
// PDF output goes to a temporary file first.

#include "export/StreamedExport.h"
#include "mainwindow/RichiePrinter.h"

#include <QString>

#include <functional>
#include <memory>

class Richie;
class SqlStore;

namespace PrintWork {

using LineSink = std::function<void(const QString &line)>;
// Hands the text's lines to the sink in order, on the calling thread.
using LineSource = std::function<void(const LineSink &sink, const StreamedExport::Job &job)>;

// The lines of a buffer built on the window thread (copied).
LineSource LinesOf(const Richie &buffer);
// The measurement protocol, read through the calling thread's connection.
LineSource ProtocolLines(std::shared_ptr<SqlStore> store, int serviceID);

// Prints on a printer made with the choices. Throws ExportError (German),
// StreamedExport::Cancelled when stopped.
void Print(const RichiePrinter::PrinterChoices &choices, const QString &fontFamily, int fontPointSize,
           const LineSource &lines, const StreamedExport::Job &job = {});
// The printed pages as an A4 PDF file (PdfTarget) with the title.
void SavePdf(const QString &fileName, const QString &title, const QString &fontFamily, int fontPointSize,
             const LineSource &lines, const StreamedExport::Job &job = {});

} // namespace PrintWork
