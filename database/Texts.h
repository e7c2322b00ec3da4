#pragma once
// Fixed texts of programs, step functions, step states, battery types and forms,
// and the display strings derived from stored values. Pure functions of their
// arguments; shared by the database and the treatment code.

#include <QString>
#include <QVariant>

#include <optional>

enum StepFunction { Entladen = 0, Laden = 1, Warten = 2 };
enum StepState { Folgt = 0, Laeuft = 1, Fehler = 2, OK = 3, Abgebrochen = 4 };

QString ProgramName(int program);   // "Spezial", "Laden", ... ; "???" for unknown numbers
QString ProgramCode(int program);   // "S", "L", "E", "EL", ... ; "???" for unknown numbers
QString FunctionName(int function); // "Entladen", "Laden", "Warten"; "???" otherwise
QString TypeName(int type);         // "NC", "NMH", "Blei"; "???" otherwise
QString FormName(int form);         // "", "Lady", ... "Mono"; "" for any other code
QString StateName(int state);       // "folgt", "läuft", "Fehler!", "OK", "abgebrochen"; "???" otherwise
int FirstFunction(int program);     // Entladen for programs 2, 3 and 5, Laden otherwise

// Nominal voltage in V: cells x 2.0 for lead (type 2), x 1.2 for every other type.
double NominalVoltage(int cells, int type);
// A floating-point value as text: shortest general form, at most 15 significant
// digits, the user's decimal separator, no group separators (7.2, 8, 0).
QString FloatText(double value);
// "<value>%" for value >= 0, "???" for a negative (unknown) value.
QString PercentText(int value);
// Seconds as "h:m:s" without padding; hours as signed 16-bit, the signs of
// minutes and seconds dropped (3725 -> "1:2:5", -61 -> "0:1:1").
QString DurationText(int seconds);

// A stored date (ISO) in the user's short format, and a stored time of day
// (ISO) in the user's time format with seconds; the same texts go into the
// records, the grids and the curve names. Anything else is shown as stored.
QString DateText(const QVariant &stored);
QString TimeText(const QVariant &stored);
// Why a text that must stay one line (a battery's description, a database
// location) cannot be taken: it holds a control character (line break, tab,
// ...). `field` names the field ("Die Beschreibung"). Empty when it can.
QString OneLineProblem(const QString &text, const QString &field);
// A cell of a tab-separated table: as it is, or in double quotes (inner ones
// doubled) when it holds a tab, a line break or a quote, so that stored text
// from elsewhere neither adds a column nor a line.
QString TableCell(const QString &text);
// The same text on one line for a list that shows it: every control
// character (line break, tab, ...) becomes a blank.
QString OneLine(const QString &text);

// A whole number as typed into a field or an option: blanks around it, an
// optional sign and decimal digits, within the signed 32-bit range. Nothing
// for any other text.
std::optional<int> WholeNumber(const QString &text);
