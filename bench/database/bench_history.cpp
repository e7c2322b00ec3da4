// bench_history [DIR]: a battery's history ("Verlauf", braskon-cli battery
// history) of a battery with 500 treatments in a database of 10,000
// batteries, 10,500 treatments and 2,000,000 samples; and the battery list
// with its health column over all of them. Target: the history under 100 ms.
//
// The rows are generated directly in one transaction (synchronous=OFF);
// the measured reads go through the program's own functions.

#include "database/BatteryHistory.h"
#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <vector>

namespace {

constexpr int batteryCount = 10000;
constexpr int treatmentsOfBattery1 = 500;
constexpr int sampleCount = 2000000;

void check(bool ok, const QSqlQuery &query)
{
    if (!ok) {
        std::fprintf(stderr, "generator: %s\n", qPrintable(query.lastError().text()));
        std::exit(1);
    }
}

void generate(const QString &file)
{
    const QString name = QStringLiteral("bench-generator");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            std::exit(1);
        QSqlQuery query(db);
        check(query.exec(QStringLiteral("PRAGMA synchronous=OFF")), query);
        check(query.exec(QStringLiteral("BEGIN")), query);
        check(query.prepare(QStringLiteral("INSERT INTO batteries VALUES (?, 2000, 1, 2, 4, -1, -1, '2024-01-01', ?, '')")),
              query);
        for (int id = 1; id <= batteryCount; ++id) {
            query.addBindValue(id);
            query.addBindValue(QStringLiteral("Akku %1").arg(id));
            check(query.exec(), query);
        }
        // Battery 1: 500 cycles of discharge-charge, one every other day;
        // every other battery one treatment.
        QSqlQuery service(db), step(db);
        check(service.prepare(QStringLiteral("INSERT INTO services VALUES (?, ?, ?, '10:00:00', 3)")), service);
        check(step.prepare(QStringLiteral("INSERT INTO sub VALUES (?, ?, ?, 400, 18000, ?, 3)")), step);
        int serviceID = 0;
        const auto addTreatment = [&](int battery, const QDate &date, int discharged) {
            service.addBindValue(++serviceID);
            service.addBindValue(battery);
            service.addBindValue(date.toString(Qt::ISODate));
            check(service.exec(), service);
            for (const auto &[number, function, capacity] :
                 {std::tuple{1, 0, discharged}, std::tuple{2, 1, discharged + 150}}) {
                step.addBindValue(serviceID);
                step.addBindValue(number);
                step.addBindValue(function);
                step.addBindValue(capacity);
                check(step.exec(), step);
            }
        };
        const QDate first(2022, 1, 1);
        for (int i = 0; i < treatmentsOfBattery1; ++i)
            addTreatment(1, first.addDays(2 * i), 2000 - i);
        for (int battery = 2; battery <= batteryCount; ++battery)
            addTreatment(battery, first.addDays(battery % 700), 1500 + battery % 500);
        QSqlQuery sample(db);
        check(sample.prepare(QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                                            "VALUES (?, 1, ?, 1250, 400)")),
              sample);
        for (int i = 0; i < sampleCount; ++i) {
            sample.addBindValue(1 + i % serviceID);
            sample.addBindValue(i);
            check(sample.exec(), sample);
        }
        check(query.exec(QStringLiteral("UPDATE nextid SET NextID = %1 WHERE TableName = 'services'").arg(serviceID + 1)),
              query);
        check(query.exec(QStringLiteral("COMMIT")), query);
    }
    QSqlDatabase::removeDatabase(name);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    {
        // The empty database with its schema and indexes, made by the program.
        TBRASKDataModule empty(directory);
    }
    QElapsedTimer timer;
    timer.start();
    generate(directory + QStringLiteral("/braskon.db"));
    std::printf("Datenbank erzeugt: %d Akkus, %d Behandlungen, %d Messwerte in %.1f s\n", batteryCount,
                treatmentsOfBattery1 + batteryCount - 1, sampleCount, static_cast<double>(timer.elapsed()) / 1000.0);

    RecordReader reader(std::make_shared<SqlStore>(directory));
    std::vector<double> runs;
    BatteryHistory history;
    for (int run = 0; run < 21; ++run) {
        timer.restart();
        ReadBatteryHistory(reader, 1, history);
        const QString text = HistoryText(history);
        runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (text.isEmpty())
            return 1;
    }
    const double historyMs = median(runs);
    std::printf("Verlauf von Akku 1 (%d Behandlungen, Text): Median %.2f ms, erster Lauf %.2f ms (Ziel < 100 ms)\n",
                int(history.Entries.size()), historyMs, runs.front());
    std::printf("  Zustand %d %%, Trend %.1f mAh je 100 Tage\n", history.Health(),
                DischargeTrend(history).Slope * 100);

    // What the health column costs the list's query: the rows read with and without it.
    const auto readAll = [&](const QString &sql) {
        std::vector<double> times;
        for (int run = 0; run < 5; ++run) {
            timer.restart();
            QSqlQuery rows = reader.Store().exec(sql);
            int count = 0;
            while (rows.next())
                ++count;
            times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
            if (count != batteryCount)
                std::exit(1);
        }
        return median(times);
    };
    TBRASKDataModule probe(directory);
    const QString withHealth = probe.BatteryQuery()->sql();
    std::printf("Abfrage der Akkuliste: ohne Zustand %.1f ms, mit Zustand %.1f ms\n",
                readAll(QStringLiteral("SELECT * FROM batteries ORDER BY F_ID")), readAll(withHealth));

    runs.clear();
    for (int run = 0; run < 5; ++run) {
        timer.restart();
        TBRASKDataModule module(directory);
        runs.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (module.BatteryQuery()->rowCount() != batteryCount)
            return 1;
    }
    std::printf("Akkuliste mit Zustandsspalte (%d Akkus) geöffnet: Median %.1f ms\n", batteryCount, median(runs));
    {
        TBRASKDataModule module(directory);
        timer.restart();
        module.SortList(TBRASKDataModule::List::Batteries, QStringLiteral("F_Health"), Qt::DescendingOrder);
        std::printf("Akkuliste nach Zustand absteigend sortiert: %.1f ms\n", static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return historyMs < 100 ? 0 : 1;
}
