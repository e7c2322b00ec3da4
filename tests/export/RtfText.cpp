#include "RtfText.h"

#include <QVector>
#include <cctype>

namespace {

bool isDestination(const QByteArray &word)
{
    return word == "fonttbl" || word == "colortbl" || word == "stylesheet" || word == "info";
}

} // namespace

RtfReadResult ReadRtfText(const QByteArray &rtf)
{
    RtfReadResult result;
    if (!rtf.startsWith("{\\rtf1")) {
        result.error = QStringLiteral("does not start with {\\rtf1");
        return result;
    }
    for (const char c : rtf) {
        if (static_cast<unsigned char>(c) > 0x7F) {
            result.error = QStringLiteral("contains 8-bit bytes");
            return result;
        }
    }

    struct Group {
        bool skip;
    };
    QVector<Group> groups;
    int skipAfterUnicode = 0;
    bool closed = false;
    QString text;
    int i = 0;
    const auto put = [&](QChar c) {
        if (skipAfterUnicode > 0) {
            --skipAfterUnicode;
            return;
        }
        if (!groups.isEmpty() && groups.last().skip)
            return;
        text += c;
    };
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (closed) {
            if (!QChar(c).isSpace()) {
                result.error = QStringLiteral("text after the closing brace");
                return result;
            }
            ++i;
            continue;
        }
        if (c == '{') {
            groups.append(Group{!groups.isEmpty() && groups.last().skip});
            ++i;
        } else if (c == '}') {
            if (groups.isEmpty()) {
                result.error = QStringLiteral("unbalanced closing brace");
                return result;
            }
            groups.removeLast();
            closed = groups.isEmpty();
            ++i;
        } else if (c == '\r' || c == '\n') {
            ++i;
        } else if (c == '\\') {
            ++i;
            if (i >= rtf.size())
                break;
            const char next = rtf[i];
            if (std::isalpha(static_cast<unsigned char>(next))) {
                QByteArray word;
                while (i < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[i])))
                    word += rtf[i++];
                QByteArray number;
                if (i < rtf.size() && (rtf[i] == '-' || std::isdigit(static_cast<unsigned char>(rtf[i])))) {
                    number += rtf[i++];
                    while (i < rtf.size() && std::isdigit(static_cast<unsigned char>(rtf[i])))
                        number += rtf[i++];
                }
                if (i < rtf.size() && rtf[i] == ' ')
                    ++i;
                if (isDestination(word) && !groups.isEmpty())
                    groups.last().skip = true;
                else if (word == "par")
                    put(QLatin1Char('\n'));
                else if (word == "tab")
                    put(QLatin1Char('\t'));
                else if (word == "u") {
                    put(QChar(char16_t(qint16(number.toInt()))));
                    skipAfterUnicode = 1;
                }
            } else if (next == '\'') {
                const QByteArray hex = rtf.mid(i + 1, 2);
                bool ok = false;
                const int byte = hex.toInt(&ok, 16);
                if (!ok) {
                    result.error = QStringLiteral("bad \\' escape");
                    return result;
                }
                put(QChar(char16_t(byte)));   // the Latin-1 part of code page 1252
                i += 3;
            } else if (next == '\\' || next == '{' || next == '}') {
                put(QLatin1Char(next));
                ++i;
            } else if (next == '*') {
                if (!groups.isEmpty())
                    groups.last().skip = true;
                ++i;
            } else {
                result.error = QStringLiteral("unknown control symbol");
                return result;
            }
        } else {
            put(QLatin1Char(c));
            ++i;
        }
    }
    if (!closed) {
        result.error = QStringLiteral("the document is not closed");
        return result;
    }
    result.valid = true;
    result.text = text;
    return result;
}
