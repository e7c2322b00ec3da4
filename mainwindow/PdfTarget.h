#pragma once
// Pages saved as a PDF file instead of printed: an A4 printer in Qt's PDF
// format, handed to the same page-layout code that prints (the text pages of
// RichiePrinter, the diagram page of the diagram commands), so the file looks
// like the printed page. The job prints into a temporary file; the chosen
// file is replaced only once the whole job has succeeded, so a failed save
// leaves an older file as it was.

#include <QString>

#include <functional>

class QPrinter;

namespace PdfTarget {

QString FileFilter();   // "PDF-Dateien (*.pdf)"

// Runs the job on a fresh A4 PDF printer whose document title is `title`,
// then writes the pages to fileName. Throws ExportError with a German text
// (or whatever the job throws). Any thread may save: the printer is its own.
void Save(const QString &fileName, const QString &title, const std::function<void(QPrinter &)> &job);
// The same on a printer prepared by `setUp` (a user's printer set to print
// into fileName), whose output is then turned to the temporary file.
void SaveVia(const QString &fileName, const std::function<void(QPrinter &)> &setUp,
             const std::function<void(QPrinter &)> &job);

} // namespace PdfTarget
