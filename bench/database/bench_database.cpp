// bench_database [DIR]: figures of the database on a generated database of
// 10,000 batteries, 2,000 treatments and 2,000,000 samples.
//
// Generator: the bulk rows are written directly in ONE transaction over a
// connection of the bench's own with synchronous=OFF (not through the module),
// so the database is made in seconds; every measured figure goes through
// TBRASKDataModule as the program uses it.

#include "database/Datamodule.h"
#include "database/RecordStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int batteryCount = 10000;
constexpr int serviceCount = 2000;
constexpr int sampleCount = 2000000;
constexpr int walkedService = 1;            // 100,000 samples, battery 1
constexpr int deletedBattery = 2;           // services 2 and 3, 100,000 samples each
constexpr int samplesOfBigService = 100000;

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
        if (!db.open()) {
            std::fprintf(stderr, "generator: cannot open %s\n", qPrintable(file));
            std::exit(1);
        }
        QSqlQuery query(db);
        check(query.exec(QStringLiteral("PRAGMA synchronous=OFF")), query);
        check(query.exec(QStringLiteral("BEGIN")), query);

        check(query.prepare(QStringLiteral("INSERT INTO batteries VALUES (?, ?, ?, ?, ?, -1, -1, '2024-01-01', ?, '')")),
              query);
        for (int id = 1; id <= batteryCount; ++id) {
            query.addBindValue(id);
            query.addBindValue(500 + id % 4000);
            query.addBindValue(id % 3);
            query.addBindValue(id % 6);
            query.addBindValue(1 + id % 12);
            query.addBindValue(QStringLiteral("Akku Nummer %1").arg(id));
            check(query.exec(), query);
        }

        // Treatments 1..3 belong to batteries 1 and 2; the rest are spread over all batteries.
        check(query.prepare(QStringLiteral("INSERT INTO services VALUES (?, ?, '2024-01-02', '10:11:12', ?)")), query);
        for (int id = 1; id <= serviceCount; ++id) {
            const int battery = id == 1 ? 1 : id <= 3 ? deletedBattery : 3 + (id * 7) % (batteryCount - 2);
            query.addBindValue(id);
            query.addBindValue(battery);
            query.addBindValue(1 + id % 5);
            check(query.exec(), query);
        }
        check(query.prepare(QStringLiteral("INSERT INTO sub VALUES (?, ?, ?, 500, 3600, 400, 3)")), query);
        for (int id = 1; id <= serviceCount; ++id) {
            for (int step = 1; step <= 3; ++step) {
                query.addBindValue(id);
                query.addBindValue(step);
                query.addBindValue(step % 2);
                check(query.exec(), query);
            }
        }

        check(query.prepare(QStringLiteral(
                  "INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) VALUES (?, ?, ?, ?, ?)")),
              query);
        const int bigSamples = 3 * samplesOfBigService;
        const int perSmallService = (sampleCount - bigSamples) / (serviceCount - 3);
        int written = 0;
        auto writeSamples = [&](int service, int count) {
            for (int i = 0; i < count; ++i) {
                query.addBindValue(service);
                query.addBindValue(1 + i * 3 / count);
                query.addBindValue(i * 10);
                query.addBindValue(1200 + i % 300);
                query.addBindValue(500);
                check(query.exec(), query);
            }
            written += count;
        };
        for (int service = 1; service <= 3; ++service)
            writeSamples(service, samplesOfBigService);
        for (int service = 4; service <= serviceCount; ++service)
            writeSamples(service, service == serviceCount ? sampleCount - written : perSmallService);

        check(query.exec(QStringLiteral("UPDATE nextid SET NextID = %1 WHERE TableName = 'batteries'").arg(batteryCount + 1)),
              query);
        check(query.exec(QStringLiteral("UPDATE nextid SET NextID = %1 WHERE TableName = 'services'").arg(serviceCount + 1)),
              query);
        check(query.exec(QStringLiteral("COMMIT")), query);
        check(query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")), query);
    }
    QSqlDatabase::removeDatabase(name);
}

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp;
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path() + QStringLiteral("/database");

    QElapsedTimer timer;
    timer.start();
    QString file;
    {
        TBRASKDataModule empty(dir);   // creates the empty database
        file = empty.DatabaseFile();
    }
    generate(file);
    std::printf("generated %d batteries, %d treatments, %d samples in %.1f s (%s)\n", batteryCount, serviceCount,
                sampleCount, seconds(timer), qPrintable(file));

    TBRASKDataModule module(dir);
    RecordStore records(module.SharedStore());

    // Durable inserts: each InsertSample is committed with a full sync before it returns.
    constexpr int inserts = 2000;
    timer.restart();
    for (int i = 0; i < inserts; ++i)
        records.InsertSample({serviceCount, 3, 100000 + i, 1300, 500, 0});
    const double insertTime = seconds(timer);
    std::printf("InsertSample (committed each): %d in %.3f s = %.0f inserts/s\n", inserts, insertTime,
                inserts / insertTime);

    QVector<Sample> batch;
    for (int i = 0; i < 10000; ++i)
        batch.append({serviceCount, 3, 200000 + i, 1300, 500, 0});
    timer.restart();
    records.InsertSamples(batch);
    const double batchTime = seconds(timer);
    std::printf("InsertSamples (%lld in one commit): %.3f s = %.0f samples/s\n", qlonglong(batch.size()), batchTime,
                static_cast<double>(batch.size()) / batchTime);

    // Select and walk the 100,000 samples of one treatment.
    timer.restart();
    module.SelectSamples(walkedService);
    long long walked = 0;
    long long voltageSum = 0;
    for (bool more = module.FirstSample(); more; more = module.NextSample()) {
        Sample sample;
        module.GetSample(sample);
        voltageSum += sample.Voltage;
        ++walked;
    }
    const double walkTime = seconds(timer);
    std::printf("SelectSamples + walk of %lld samples (module): %.3f s (checksum %lld)\n", walked, walkTime,
                voltageSum);

    const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (sqlite.isEmpty()) {
        std::printf("sqlite3 command-line tool not found: no comparison\n");
    } else {
        QProcess tool;
        timer.restart();
        tool.start(sqlite, {file, QStringLiteral("SELECT * FROM samples WHERE F_ServiceID = %1").arg(walkedService)});
        tool.waitForFinished(-1);
        const double toolTime = seconds(timer);
        const int lines = static_cast<int>(tool.readAllStandardOutput().count('\n'));
        std::printf("same query through sqlite3 CLI (%d rows, incl. process start): %.3f s; module/sqlite3 = %.2f\n",
                    lines, toolTime, walkTime / toolTime);
    }

    // Delete a battery whose treatments hold 200,000 samples (with the re-reads that follow).
    module.ReopenBatteries(deletedBattery);
    timer.restart();
    records.DeleteBattery(deletedBattery);
    module.Follow({RecordChange::BatteryDeleted, deletedBattery, 0});
    std::printf("DeleteBattery (2 treatments, %d samples) and the lists' re-read: %.3f s\n", 2 * samplesOfBigService,
                seconds(timer));

    timer.restart();
    module.ReopenBatteries(batteryCount);
    std::printf("ReopenBatteries(%d) at the end of %d batteries: %.3f s (selected %d)\n", batteryCount,
                module.BatteryQuery()->rowCount(), seconds(timer), module.SelectedBatteryID());
    return 0;
}
