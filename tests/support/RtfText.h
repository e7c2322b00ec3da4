#pragma once
// A small RTF reader for the tests: checks the document's structure and
// returns the text a word processor shows (paragraphs as "\n", tabs as "\t"),
// its font and size.

#include <QByteArray>
#include <QString>

struct RtfReadResult {
    bool valid = false;
    QString error;   // why the document is not valid
    QString text;
    double pointSize = 12;   // the last \fs, in points (RTF counts half-points; 12 pt without one)
    QString font;            // the first font of the font table
};

RtfReadResult ReadRtfText(const QByteArray &rtf);
