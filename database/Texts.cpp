#include "database/Texts.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

struct ProgramText {
    const char *name;
    const char *code;
};

const ProgramText programs[] = {
    {"Spezial", "S"},
    {"Laden", "L"},
    {"Entladen", "E"},
    {"Entladen-Laden", "EL"},
    {"Laden-Entladen-Laden", "LEL"},
    {"2x Entladen-Laden", "ELEL"},
    {"Formieren", "F"},
    {"\u00dcberwintern", "W"},
    {"Auffrischen", "A"},
    {"Akkudiagnose", "D"},
};
constexpr int programCount = int(sizeof programs / sizeof programs[0]);

const char *const functions[] = {"Entladen", "Laden", "Warten"};
const char *const states[] = {"folgt", "l\u00e4uft", "Fehler!", "OK", "abgebrochen"};
const char *const types[] = {"NC", "NMH", "Blei"};
const char *const forms[] = {"", "Lady", "Baby", "Micro", "Mignon", "Mono"};

template <size_t N>
QString lookup(const char *const (&table)[N], int index, const char *other)
{
    if (index >= 0 && index < int(N))
        return QString::fromUtf8(table[index]);
    return QString::fromUtf8(other);
}

const char unknown[] = "???";

} // namespace

QString ProgramName(int program)
{
    return program >= 0 && program < programCount ? QString::fromUtf8(programs[program].name)
                                                   : QString::fromUtf8(unknown);
}

QString ProgramCode(int program)
{
    return program >= 0 && program < programCount ? QString::fromUtf8(programs[program].code)
                                                   : QString::fromUtf8(unknown);
}

QString FunctionName(int function) { return lookup(functions, function, unknown); }
QString StateName(int state) { return lookup(states, state, unknown); }
QString TypeName(int type) { return lookup(types, type, unknown); }
QString FormName(int form) { return lookup(forms, form, ""); }

int FirstFunction(int program)
{
    return program == 2 || program == 3 || program == 5 ? Entladen : Laden;
}

double NominalVoltage(int cells, int type)
{
    return double(cells) * (type == 2 ? 2.0 : 1.2);
}

QString FloatText(double value)
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

QString PercentText(int value)
{
    return value >= 0 ? QString::number(value) + QLatin1Char('%') : QString::fromUtf8(unknown);
}

QString DurationText(int seconds)
{
    const int16_t hours = int16_t(seconds / 3600);   // deliberately wraps like a 16-bit field
    const int rest = seconds % 3600;
    const int minutes = std::abs(rest / 60);
    const int secs = std::abs(rest % 60);
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes).arg(secs);
}

QString DateText(const QVariant &stored)
{
    const QDate date = QDate::fromString(stored.toString(), Qt::ISODate);
    return date.isValid() ? QLocale::system().toString(date, QLocale::ShortFormat) : stored.toString();
}

namespace {

QString timeFormatWithSeconds()
{
    // Two treatments started in the same minute must still get different curve names.
    QString format = QLocale::system().timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        const auto minutes = format.lastIndexOf(QLatin1String("mm"));
        if (minutes >= 0)
            format.insert(minutes + 2, QLatin1String(":ss"));
    }
    return format;
}

} // namespace

QString TimeText(const QVariant &stored)
{
    const QTime time = QTime::fromString(stored.toString(), Qt::ISODate);
    return time.isValid() ? QLocale::system().toString(time, timeFormatWithSeconds()) : stored.toString();
}

QString OneLineProblem(const QString &text, const QString &field)
{
    for (const QChar c : text) {
        const bool lineBreak = c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        if (c.category() == QChar::Other_Control || lineBreak) {
            const QString name = c == QLatin1Char('\n') || c == QLatin1Char('\r') || lineBreak
                                     ? QStringLiteral("einen Zeilenumbruch")
                                 : c == QLatin1Char('\t') ? QStringLiteral("einen Tabulator")
                                                          : QStringLiteral("ein Steuerzeichen (U+%1)")
                                                                .arg(QString::number(c.unicode(), 16)
                                                                         .toUpper()
                                                                         .rightJustified(4, QLatin1Char('0')));
            return QStringLiteral("%1 ist eine Zeile und darf keinen Zeilenumbruch, Tabulator oder andere "
                                  "Steuerzeichen enthalten; sie enth\u00e4lt %2.")
                .arg(field, name);
        }
    }
    return QString();
}

QString TableCell(const QString &text)
{
    static const QString special = QStringLiteral("\t\r\n\"\u2028\u2029");
    if (std::none_of(text.begin(), text.end(), [](QChar c) { return special.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString OneLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return line;
}

std::optional<int> WholeNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}
