#include "tests/support/RtfText.h"

#include <QVector>

#include <algorithm>
#include <cstring>

RtfReadResult ReadRtfText(const QByteArray &rtf)
{
    const auto invalid = [](const char *why) { return RtfReadResult{false, QString::fromLatin1(why), {}, 12, {}}; };
    if (!rtf.startsWith("{\\rtf1"))
        return invalid("does not start with {\\rtf1");
    if (std::any_of(rtf.begin(), rtf.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; }))
        return invalid("contains 8-bit bytes");

    QVector<bool> skipGroup;   // one entry per open group: is its text hidden?
    int skipAfterUnicode = 0;
    bool closed = false;
    QString text;
    double pointSize = 12;
    QString font;
    int fontTableDepth = 0;   // the depth of the font table group while in it
    const auto put = [&](QChar c) {
        if (skipAfterUnicode > 0)
            --skipAfterUnicode;
        else if (skipGroup.isEmpty() || !skipGroup.last())
            text += c;
    };
    const auto at = [&](int i, const char *set) { return i < rtf.size() && rtf[i] && std::strchr(set, rtf[i]); };
    const char *letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
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
            if (fontTableDepth > 0 && skipGroup.size() > fontTableDepth) {
                if (c != ';')
                    font += QLatin1Char(c);
                else
                    fontTableDepth = -1;   // only the first entry
            } else if (c != '\r' && c != '\n') {
                put(QLatin1Char(c));
            }
        } else if (at(i, letters)) {
            const int start = i;
            while (at(i, letters))
                ++i;
            const QByteArray word = rtf.mid(start, i - start);
            const int numberStart = i;
            if (at(i, "-0123456789"))
                ++i;
            while (i > numberStart && at(i, "0123456789"))
                ++i;
            const int number = rtf.mid(numberStart, i - numberStart).toInt();
            if (at(i, " "))
                ++i;
            if (word == "fonttbl" && fontTableDepth == 0)
                fontTableDepth = static_cast<int>(skipGroup.size());
            if (word == "fs")
                pointSize = number / 2.0;
            if ((word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info") && !skipGroup.isEmpty())
                skipGroup.last() = true;
            else if (word == "par" || word == "tab")
                put(QLatin1Char(word == "par" ? '\n' : '\t'));
            else if (word == "u") {
                put(QChar(char16_t(qint16(number))));
                skipAfterUnicode = 1;
            }
        } else if (at(i, "'")) {
            bool ok = false;
            const int byte = rtf.mid(i + 1, 2).toInt(&ok, 16);
            if (!ok)
                return invalid("bad \\' escape");
            put(QChar(char16_t(byte)));   // the Latin-1 part of code page 1252
            i += 3;
        } else if (at(i, "\\{}")) {
            put(QLatin1Char(rtf[i++]));
        } else if (at(i, "*")) {
            if (!skipGroup.isEmpty())
                skipGroup.last() = true;
            ++i;
        } else if (i < rtf.size()) {
            return invalid("unknown control symbol");
        }
    }
    if (!closed)
        return invalid("the document is not closed");
    return {true, {}, text, pointSize, font.trimmed()};
}
