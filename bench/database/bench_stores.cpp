// bench_stores [POSTGRESQL-URL]: the two stores side by side, as the program
// uses them (the data module reading, a record store writing): the curve load of a treatment with
// 100,000 samples (SelectSamples and the walk a diagram does) and the insert
// rate of samples (each committed on its own, as the recording does, and in
// batches of 1,000 as the logger readout does). Without a URL a throw-away
// server is started with tests/support/pg-server.sh (fsync off: commits
// there cost no disk sync, unlike SQLite's synchronous=FULL).

#include "database/Datamodule.h"
#include "database/RecordStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int curveSamples = 100000;
constexpr int singleInserts = 2000;

struct Figures {
    double fillPerSecond = 0, singlePerSecond = 0, loadSeconds = 0;
    long long checksum = 0;
};

Figures measure(const QString &location)
{
    Figures figures;
    TBRASKDataModule module(location);
    RecordStore records(module.SharedStore());
    TBRASKDataModule::Battery battery;
    battery.ID = 1;
    battery.Capacity = 1000;
    records.InsertBattery(battery);
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    records.InsertService(service);

    QElapsedTimer timer;
    timer.start();
    QVector<Sample> batch;
    for (int i = 0; i < curveSamples; ++i) {
        batch.append({service.ID, 1 + i / 20000, i, 1200 + i % 300, 500, 0});
        if (batch.size() == 1000) {
            records.InsertSamples(batch);
            batch.clear();
        }
    }
    figures.fillPerSecond = curveSamples / (static_cast<double>(timer.nsecsElapsed()) * 1e-9);

    timer.restart();
    module.SelectSamples(service.ID);
    for (bool more = module.FirstSample(); more; more = module.NextSample()) {
        Sample sample;
        module.GetSample(sample);
        figures.checksum += sample.Voltage;
    }
    figures.loadSeconds = static_cast<double>(timer.nsecsElapsed()) * 1e-9;

    TBRASKDataModule::Service other;
    other.BatteryID = 1;
    records.InsertService(other);
    timer.restart();
    for (int i = 0; i < singleInserts; ++i)
        records.InsertSample({other.ID, 1, i, 1300, 500, 0});
    figures.singlePerSecond = singleInserts / (static_cast<double>(timer.nsecsElapsed()) * 1e-9);
    return figures;
}

QString pgScript(const QString &action, const QString &folder)
{
    QProcess script;
    script.start(QStringLiteral("bash"), {QStringLiteral(BRASKON_PG_SCRIPT), action, folder});
    script.waitForFinished(60000);
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QStringLiteral("/tmp/bbench-XXXXXX"));
    QFile::setPermissions(temp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                           | QFileDevice::ReadOther | QFileDevice::ExeOther);
    QString url = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString serverFolder = temp.path() + QStringLiteral("/pg");
    if (url.isEmpty())
        url = pgScript(QStringLiteral("start"), serverFolder);
    if (!url.startsWith(QLatin1String("postgres"))) {
        std::fprintf(stderr, "no PostgreSQL server\n");
        return 1;
    }
    try {
        const Figures file = measure(temp.path() + QStringLiteral("/database"));
        const Figures server = measure(url);
        std::printf("%-52s %14s %14s\n", "", "SQLite file", "PostgreSQL");
        std::printf("%-52s %12.3f s %12.3f s\n", "curve load: SelectSamples + walk of 100,000 samples",
                    file.loadSeconds, server.loadSeconds);
        std::printf("%-52s %10.0f /s   %10.0f /s\n", "InsertSample, each committed on its own",
                    file.singlePerSecond, server.singlePerSecond);
        std::printf("%-52s %10.0f /s   %10.0f /s\n", "InsertSamples, 1,000 per commit", file.fillPerSecond,
                    server.fillPerSecond);
        std::printf("checksums %lld / %lld; server %s\n", file.checksum, server.checksum, qPrintable(url));
    } catch (const DatabaseError &error) {
        std::fprintf(stderr, "%s\n", error.what());
    }
    if (argc <= 1)
        pgScript(QStringLiteral("stop"), serverFolder);
    return 0;
}
