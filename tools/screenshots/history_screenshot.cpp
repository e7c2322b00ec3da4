// history_screenshot FILE: the "Verlauf" dialog of a pack tested for two
// years (a cycle test every three weeks, losing capacity as packs do, one
// failed run), rendered offscreen to a PNG file.

#include "mainwindow/HistoryDialog.h"

#include <QApplication>
#include <QLocale>
#include <QPixmap>

#include <cmath>
#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    if (argc < 2) {
        std::fprintf(stderr, "Aufruf: history_screenshot DATEI.png\n");
        return 2;
    }
    BatteryHistory history;
    history.Battery.ID = 12;
    history.Battery.Capacity = 2000;
    history.Battery.Type = 1;
    history.Battery.Cells = 4;
    history.Battery.Brand = QStringLiteral("Eneloop Pro Empfänger");
    const QDate first(2024, 11, 4);
    for (int i = 0; i < 36; ++i) {
        HistoryEntry entry;
        entry.ServiceID = 40 + 3 * i;
        entry.Date = first.addDays(21 * i);
        entry.Time = QTime(9 + i % 8, 15);
        entry.Program = i % 4 == 0 ? 5 : 3;
        const double wear = 2040 - 6.5 * i - 0.08 * i * i;
        entry.Capacities.Discharged = int(wear + 25 * std::sin(i * 1.7));
        entry.Capacities.Charged = int(entry.Capacities.Discharged * 1.12);
        entry.Result = QStringLiteral("OK");
        if (i == 20) {
            entry.Capacities = {};
            entry.Result = QStringLiteral("Fehler");
        }
        history.Entries.append(entry);
    }
    THistoryDialog dialog;
    dialog.SetHistory(history);
    dialog.resize(760, 640);
    dialog.show();
    QApplication::processEvents();
    if (!dialog.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "%s kann nicht geschrieben werden\n", argv[1]);
        return 1;
    }
    return 0;
}
