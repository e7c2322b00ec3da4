#pragma once
// The samples of one treatment as CSV, in either form of CsvWriter (the
// standard RFC 4180 form or the German spreadsheet form). A header row, then
// one row per sample in stored order: time in s, step, function, voltage in V,
// current in A, capacity in mAh.
//
// The capacity is not stored per sample: it is the charge moved since the
// start of the sample's step, the current integrated over the sample times
// (trapezoids), rounded to whole mAh. The step rows hold the chargers' own
// end-of-step figures.

#include "export/CsvWriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;
class TBRASKDataModule;

namespace SamplesCsv {

// "Zeit [s]", "Schritt", "Funktion", "Spannung [V]", "Strom [A]", "Kapazität [mAh]"
QStringList Header();

// Writes the file's bytes row by row to the device (the byte order mark of
// the German form first); throws ExportError when the device refuses them.
// Only the header when the treatment has no samples. Reads through the data
// module's own connection, beside any writer.
void Write(TBRASKDataModule &data, int serviceID, QIODevice &out, CsvWriter::Form form);
// The same bytes in memory.
QByteArray Build(TBRASKDataModule &data, int serviceID, CsvWriter::Form form = CsvWriter::Form::Standard);
// Creates or replaces the file; a failed export leaves the old file as it
// was. Throws ExportError with a German text.
void Write(TBRASKDataModule &data, int serviceID, const QString &fileName,
           CsvWriter::Form form = CsvWriter::Form::Standard);

QString FileFilter();   // "CSV-Dateien (*.csv)"

} // namespace SamplesCsv
