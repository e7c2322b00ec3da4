#pragma once
// A small RTF reader for the tests: checks the document's structure and
// returns the text a word processor shows (paragraphs as "\n", tabs as "\t").

#include <QByteArray>
#include <QString>

struct RtfReadResult {
    bool valid = false;
    QString error;   // why the document is not valid
    QString text;
};

RtfReadResult ReadRtfText(const QByteArray &rtf);
