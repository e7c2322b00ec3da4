#pragma once
// What the save dialog of the export commands offers, and how its answer is
// turned into a file name and a format.

#include "export/Richie.h"

#include <QString>
#include <QStringList>

namespace ExportFile {

QString TextFilter();        // "Textdateien (*.txt)"
QString RtfFilter();         // "RichTextFormat-Dateien (*.rtf)"
QStringList Filters();       // both, text first
QString DefaultExtension();  // "txt"

// The second filter writes RTF, anything else plain text.
Richie::Format FormatForFilter(const QString &selectedFilter);

// Adds the default extension to a name typed without one, whichever filter
// was chosen ("protokoll" -> "protokoll.txt", "a.rtf" stays).
QString WithDefaultExtension(const QString &fileName);

// Writes the buffer to the chosen name in the chosen filter's format.
void Export(const Richie &buffer, const QString &fileName, const QString &selectedFilter);

} // namespace ExportFile
