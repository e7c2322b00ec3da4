#pragma once
// One of the two CSV forms the program writes, and rows written in it.
//
// Standard: RFC 4180 (comma separators, dot decimals whatever the user's
// locale), for scripts and international spreadsheets.
// German: what German spreadsheets read without an import dialog going wrong:
// semicolon separators, decimal commas, and a UTF-8 byte order mark so that
// "Kapazität" is not read as Latin-1.
// Both end rows with CR LF and quote a field (quotes doubled) only when it
// holds the separator, a quote, CR or LF.

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringList>

class QIODevice;

class CsvWriter {
public:
    enum class Form { Standard, German };

    explicit CsvWriter(Form form = Form::Standard) : form_(form) {}
    Form form() const { return form_; }

    QChar Separator() const;
    QString Field(const QString &text) const;
    // Thousandths as a decimal without trailing zeros: 1365 -> "1.365" (German
    // "1,365"), -200 -> "-0.2", 3000 -> "3".
    QString Milli(int thousandths) const;

    // What a file starts with: the byte order mark of the German form, else nothing.
    QByteArray Start() const;
    // One row as UTF-8, ended by CR LF; the fields are quoted here.
    QByteArray Row(const QStringList &fields) const;

private:
    Form form_;
};

// The file dialog's filter of each form, and the form of a chosen filter
// (anything not German is the standard form).
namespace CsvForms {
QString StandardFilter();   // "CSV-Dateien, Standard: Komma, Dezimalpunkt (*.csv)"
QString GermanFilter();     // "CSV-Dateien für deutsche Tabellenkalkulation: Semikolon, Dezimalkomma (*.csv)"
QStringList Filters();      // German first
CsvWriter::Form FormForFilter(const QString &filter);
QString FilterForForm(CsvWriter::Form form);
// The German form where the user's locale writes decimal commas.
CsvWriter::Form FormForLocale();
} // namespace CsvForms
