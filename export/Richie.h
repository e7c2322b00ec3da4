#pragma once
// Richie: the hidden text buffer through which tables, labels and protocols
// leave the program. It holds plain lines in one default font and can emit
// them as plain text (CR LF line ends), as an RTF document and as clipboard
// data carrying both.

#include <QString>
#include <QStringList>

#include <stdexcept>

class QMimeData;

// A buffer that could not be written to its file.
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString &message)
        : std::runtime_error(message.toStdString()), text_(message) {}
    const QString &message() const { return text_; }

private:
    QString text_;
};

class Richie {
public:
    enum class Format { PlainText, Rtf };

    Richie() = default;

    void Clear();
    // Appends one line; line breaks inside the text start further lines, so the
    // buffer always stays a list of single lines.
    void Add(const QString &line);
    // Appends one line that holds no line break (not checked).
    void AddLine(const QString &line) { lines_.append(line); }

    const QStringList &Lines() const { return lines_; }
    bool IsEmpty() const { return lines_.isEmpty(); }
    // The default font: a family name and a size in points. Kept as plain
    // values so that the command line can build RTF without a GUI.
    const QString &FontFamily() const { return fontFamily_; }
    int FontPointSize() const { return fontPointSize_; }
    void SetFont(const QString &family, int pointSize);

    // Every line followed by CR LF; empty for an empty buffer.
    QString PlainText() const;
    // A complete RTF document (7-bit ASCII) with the same lines in the
    // buffer's font.
    QByteArray Rtf() const;

    // Creates or replaces the file; the old file stays intact when writing
    // fails. Plain text is written as UTF-8. Throws ExportError.
    void SaveToFile(const QString &fileName, Format format) const;

    // Clipboard data with the text both as plain text and as rich text; the
    // caller (the clipboard) takes ownership.
    QMimeData *CreateMimeData() const;

    // The MIME names under which the rich text is offered.
    static QString RtfMimeType();          // "text/rtf"
    static QString RtfWindowsMimeType();   // the "Rich Text Format" clipboard format

    // The opening of an RTF document in that font, and its end; the lines
    // between are RtfEscaped(line) + "\\par\r\n".
    static QByteArray RtfHead(const QString &fontFamily, int fontPointSize);
    static QByteArray RtfTail() { return QByteArrayLiteral("}\r\n"); }

    // Escapes one line for an RTF body (backslash, braces, tab, non-ASCII).
    static QByteArray RtfEscaped(const QString &text);

private:
    QStringList lines_;
    QString fontFamily_ = QStringLiteral("Sans Serif");
    int fontPointSize_ = 10;
};
