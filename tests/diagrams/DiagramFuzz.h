#pragma once
// Mutated diagram files for the fuzz test and the fuzz benchmark: a real
// file with two curves, changed in the ways damaged or hand-edited files
// differ from it (extreme numbers, junk values, flipped bytes, lost or
// repeated lines, cut-off ends), and one run of such a file through the open
// command and the chart's layout and drawing.

#include "diagrams/Diagdocs.h"
#include "diagrams/Diagform.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QList>
#include <QTabWidget>

#include <algorithm>
#include <random>

namespace DiagramFuzz {

inline QByteArray SeedFile(int serviceID)
{
    QByteArray text =
        "ActiveYAxis=0\r\nYAxisStartValue=0\r\nYAxisEndValue=8\r\nYAxisDigits=0\r\n"
        "YAxisNumSegments=4\r\nYAxisNumSubSegments=5\r\nXAxisStartValue=0\r\n"
        "XAxisEndValue=600\r\nXAxisDigits=0\r\nXAxisNumSegments=5\r\nXAxisNumSubSegments=4\r\n";
    for (int unit = 0; unit < 2; ++unit) {
        text += "Curve =" + QByteArray::number(serviceID) + "\r\nUnit =" + QByteArray::number(unit)
                + "\r\nDischargeLineColor =255\r\nDischargeLineStyle =0\r\nDischargeLineWidth =2\r\n"
                  "ChargeLineColor =32768\r\nChargeLineStyle =0\r\nChargeLineWidth =3\r\n"
                  "WaitLineColor =16711680\r\nWaitLineStyle =0\r\nWaitLineWidth =2\r\n"
                  "OverlapPhases =0\r\n";
    }
    return text;
}

class Mutator
{
public:
    explicit Mutator(unsigned seed) : m_random(seed) {}

    QByteArray Mutate(const QByteArray& seed)
    {
        QList<QByteArray> lines = seed.split('\n');
        const int rounds = 1 + Below(3);
        for (int r = 0; r < rounds; ++r) {
            const int i = Below(static_cast<int>(lines.size()));
            QByteArray& line = lines[i];
            const auto eq = line.indexOf('=');
            const int kind = Below(7);
            if (kind <= 2 && eq >= 0) {  // an extreme or broken value
                line = line.left(eq + 1) + Pick() + "\r";
            } else if (kind == 3) {  // flipped or inserted bytes
                for (int n = 1 + Below(4); n > 0 && !line.isEmpty(); --n) {
                    const int at = Below(static_cast<int>(line.size()));
                    if (Below(2))
                        line[at] = static_cast<char>(Below(256));
                    else
                        line.insert(at, static_cast<char>(Below(256)));
                }
            } else if (kind == 4 && lines.size() > 1) {  // a lost line
                lines.removeAt(i);
            } else if (kind == 5) {  // a repeated line
                for (int n = Below(50); n > 0; --n)
                    lines.insert(i, lines[i]);
            } else if (kind == 6) {  // a cut-off file
                lines = lines.mid(0, i + 1);
                lines.last().truncate(Below(static_cast<int>(lines.last().size()) + 1));
            }
        }
        return lines.join('\n');
    }

private:
    int Below(int n) { return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    QByteArray Pick()
    {
        static const char* const values[] = {
            "2147483647", "-2147483648", "1000000", "30000000", "1000", "101", "100", "0", "-1",
            "1e308", "-1e308", "inf", "-inf", "nan", "99999999999999999999", "1e9", "1e-300", "",
            "abc", "1,5", "1.5", "0x10", "  7  ", "4294967296", "-0", "16", "5", "20", "255"};
        constexpr int count = sizeof(values) / sizeof(values[0]);
        if (Below(5) == 0)
            return QByteArray::number(static_cast<qint64>(m_random()) - (1LL << 31));
        return values[Below(count)];
    }

    std::mt19937 m_random;
};

struct Outcome
{
    bool Opened = false;
    qint64 Nanoseconds = 0;
    size_t LargestTickArray = 0;
};

// Writes the file, opens it through the open command, lays out and draws an
// opened diagram (the window's bitmap, the layout of the other value axis
// and a printed page), closes it again and removes the file. A fresh file each time: on
// some file systems truncating a file waits for the disk.
inline Outcome OpenAndDraw(TDiagramCommands& commands, const QString& path, const QByteArray& bytes)
{
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    Outcome outcome;
    QElapsedTimer timer;
    timer.start();
    try {
        TDiagramForm* form = commands.OpenDiagramFile(path);
        outcome.Opened = true;
        TMultiChart* chart = form->Chart();
        chart->CopyToPicture(false);
        auto noteTicks = [&] {
            outcome.LargestTickArray =
                std::max({outcome.LargestTickArray, chart->XTickPos().size(),
                          chart->YTickPos().size(), chart->Y2TickPos().size()});
        };
        noteTicks();
        chart->SetActiveYAxis(1 - chart->ActiveYAxis() % 2);  // the other axis laid out
        chart->Recalculate();
        noteTicks();
        QImage page(220, 300, QImage::Format_RGB32);  // a printed page at 24 dpi
        QPainter painter(&page);
        commands.PaintDiagramPage(painter, 24, QFont());
        painter.end();
        commands.CloseActiveDiagram();
    } catch (const DiagramError&) {
    }
    outcome.Nanoseconds = timer.nsecsElapsed();
    QFile::remove(path);
    return outcome;
}

}  // namespace DiagramFuzz
