#include "export/Richie.h"

#include <QMimeData>
#include <QRegularExpression>
#include <QSaveFile>

void Richie::Clear()
{
    lines_.clear();
}

void Richie::Add(const QString &line)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    lines_.append(line.split(lineBreak));
}

void Richie::SetFont(const QString &family, int pointSize)
{
    if (!family.isEmpty())
        fontFamily_ = family;
    if (pointSize > 0)
        fontPointSize_ = pointSize;
}

QString Richie::PlainText() const
{
    QString text;
    for (const QString &line : lines_) {
        text += line;
        text += QLatin1String("\r\n");
    }
    return text;
}

QByteArray Richie::RtfEscaped(const QString &text)
{
    QByteArray out;
    const QVector<uint> codePoints = text.toUcs4();
    for (const uint c : codePoints) {
        if (c == '\\' || c == '{' || c == '}') {
            out += '\\';
            out += char(c);
        } else if (c == '\t') {
            out += "\\tab ";
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else if (c >= 0xA0 && c <= 0xFF) {
            // Latin-1 letters (umlauts, sharp s) are the same in code page 1252.
            out += "\\'";
            out += QByteArray::number(c, 16).rightJustified(2, '0');
        } else if (c < 0x20 || c == 0x7F) {
            // Other control characters have no place in a line of text.
        } else {
            // \uN takes a signed 16-bit number; characters beyond the BMP go
            // as their UTF-16 surrogate pair. '?' is the fallback for readers
            // without Unicode support (\uc1).
            const auto unicodeEscape = [&out](char16_t unit) {
                out += "\\u";
                out += QByteArray::number(int(qint16(unit)));
                out += '?';
            };
            if (QChar::requiresSurrogates(c)) {
                unicodeEscape(QChar::highSurrogate(c));
                unicodeEscape(QChar::lowSurrogate(c));
            } else {
                unicodeEscape(char16_t(c));
            }
        }
    }
    return out;
}

QByteArray Richie::RtfHead(const QString &fontFamily, int fontPointSize)
{
    QByteArray family = RtfEscaped(fontFamily);
    family.replace(';', "");   // ';' ends a font table entry
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1"
                     "{\\fonttbl{\\f0\\fnil\\fcharset0 " + family + ";}}\r\n";
    rtf += "\\pard\\plain\\f0\\fs" + QByteArray::number(fontPointSize * 2) + "\r\n";
    return rtf;
}

QByteArray Richie::Rtf() const
{
    QByteArray rtf = RtfHead(fontFamily_, fontPointSize_);
    for (const QString &line : lines_)
        rtf += RtfEscaped(line) + "\\par\r\n";
    rtf += RtfTail();
    return rtf;
}

void Richie::SaveToFile(const QString &fileName, Format format) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2")
                              .arg(fileName, file.errorString()));
    const QByteArray content = format == Format::Rtf ? Rtf() : PlainText().toUtf8();
    if (file.write(content) != content.size() || !file.commit())
        throw ExportError(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                              .arg(fileName, file.errorString()));
}

QString Richie::RtfMimeType()
{
    return QStringLiteral("text/rtf");
}

QString Richie::RtfWindowsMimeType()
{
    return QStringLiteral("application/x-qt-windows-mime;value=\"Rich Text Format\"");
}

QMimeData *Richie::CreateMimeData() const
{
    auto *data = new QMimeData;
    const QByteArray rtf = Rtf();
    data->setText(PlainText());
    data->setData(RtfMimeType(), rtf);
    data->setData(QStringLiteral("application/rtf"), rtf);
    data->setData(RtfWindowsMimeType(), rtf);
    return data;
}
