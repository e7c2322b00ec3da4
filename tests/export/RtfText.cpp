#include "RtfText.h"

#include <QVector>
#include <cctype>

namespace {

bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)); }
bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)); }

RtfReadResult invalid(const char *why)
{
    RtfReadResult result;
    result.error = QString::fromLatin1(why);
    return result;
}

} // namespace

RtfReadResult ReadRtfText(const QByteArray &rtf)
{
    if (!rtf.startsWith("{\\rtf1"))
        return invalid("does not start with {\\rtf1");
    for (const char c : rtf) {
        if (static_cast<unsigned char>(c) > 0x7F)
            return invalid("contains 8-bit bytes");
    }

    QVector<bool> skipGroup;   // one entry per open group: is its text hidden?
    int skipAfterUnicode = 0;
    bool closed = false;
    QString text;
    const auto put = [&](QChar c) {
        if (skipAfterUnicode > 0)
            --skipAfterUnicode;
        else if (skipGroup.isEmpty() || !skipGroup.last())
            text += c;
    };
    for (int i = 0; i < rtf.size();) {
        const char c = rtf[i++];
        if (closed) {
            if (!QChar(c).isSpace())
                return invalid("text after the closing brace");
        } else if (c == '{') {
            skipGroup.append(!skipGroup.isEmpty() && skipGroup.last());
        } else if (c == '}') {
            if (skipGroup.isEmpty())
                return invalid("unbalanced closing brace");
            skipGroup.removeLast();
            closed = skipGroup.isEmpty();
        } else if (c != '\\') {
            if (c != '\r' && c != '\n')
                put(QLatin1Char(c));
        } else if (i < rtf.size() && isAlpha(rtf[i])) {
            QByteArray word, number;
            while (i < rtf.size() && isAlpha(rtf[i]))
                word += rtf[i++];
            if (i < rtf.size() && (rtf[i] == '-' || isDigit(rtf[i])))
                number += rtf[i++];
            while (!number.isEmpty() && i < rtf.size() && isDigit(rtf[i]))
                number += rtf[i++];
            if (i < rtf.size() && rtf[i] == ' ')
                ++i;
            if ((word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info")
                && !skipGroup.isEmpty())
                skipGroup.last() = true;
            else if (word == "par")
                put(QLatin1Char('\n'));
            else if (word == "tab")
                put(QLatin1Char('\t'));
            else if (word == "u") {
                put(QChar(char16_t(qint16(number.toInt()))));
                skipAfterUnicode = 1;
            }
        } else if (i < rtf.size() && rtf[i] == '\'') {
            bool ok = false;
            const int byte = rtf.mid(i + 1, 2).toInt(&ok, 16);
            if (!ok)
                return invalid("bad \\' escape");
            put(QChar(char16_t(byte)));   // the Latin-1 part of code page 1252
            i += 3;
        } else if (i < rtf.size() && (rtf[i] == '\\' || rtf[i] == '{' || rtf[i] == '}')) {
            put(QLatin1Char(rtf[i++]));
        } else if (i < rtf.size() && rtf[i] == '*') {
            if (!skipGroup.isEmpty())
                skipGroup.last() = true;
            ++i;
        } else if (i < rtf.size()) {
            return invalid("unknown control symbol");
        }
    }
    if (!closed)
        return invalid("the document is not closed");
    RtfReadResult result;
    result.valid = true;
    result.text = text;
    return result;
}
