#pragma once
// The samples of one treatment as CSV for spreadsheets and scripts (RFC 4180:
// comma separators, CR LF line ends, fields quoted when they need it, dot
// decimals whatever the user's locale). A header row, then one row per
// sample in stored order: time in s, step, function, voltage in V, current
// in A, capacity in mAh.
//
// The capacity is not stored per sample: it is the charge moved since the
// start of the sample's step, the current integrated over the sample times
// (trapezoids), rounded to whole mAh. The step rows hold the chargers' own
// end-of-step figures.

#include <QString>

class TBRASKDataModule;

namespace SamplesCsv {

QString Header();   // "Zeit [s],Schritt,Funktion,Spannung [V],Strom [A],Kapazität [mAh]"

// One field as RFC 4180 wants it: quoted (quotes doubled) when it holds a
// comma, a quote, CR or LF.
QString Field(const QString &text);

// Header and rows; only the header when the treatment has no samples.
QString Build(TBRASKDataModule &data, int serviceID);

// Writes Build() as UTF-8 to the file; throws ExportError with a German text.
void Write(TBRASKDataModule &data, int serviceID, const QString &fileName);

QString FileFilter();   // "CSV-Dateien (*.csv)"

} // namespace SamplesCsv
