// A lab database on a PostgreSQL server (only with BRASKON_TEST_PG): IDs taken by
// several writers at once, lists that follow another PC, a broken connection.

#include "tests/support/TestDatabase.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>
#include <QUuid>

#include <thread>

namespace {

using LabDatabase = DatabaseTest;

TEST_F(LabDatabase, WritersOnSeveralConnectionsNeverShareAnID)
{
    addBattery(1);
    constexpr int perWriter = 40, all = 3 * perWriter;
    QVector<int> ids[3];
    auto writer = [this](QVector<int> &out) {
        RecordStore pc(dir());   // a connection of its own, as another PC has
        for (int i = 0; i < perWriter; ++i) {
            TBRASKDataModule::Service service;
            service.BatteryID = 1;
            std::vector<StepRecord> steps{{0, 1, 1, 100}};
            pc.InsertServiceWithSteps(service, steps);
            pc.InsertSample({service.ID, 1, i, 1200, 100, 0});
            out.append(service.ID);
        }
    };
    std::thread a(writer, std::ref(ids[0]));
    std::thread b(writer, std::ref(ids[1]));
    writer(ids[2]);
    a.join();
    b.join();
    const QSet<int> distinct = QSet<int>(ids[0].begin(), ids[0].end()) + QSet<int>(ids[1].begin(), ids[1].end())
                               + QSet<int>(ids[2].begin(), ids[2].end());
    EXPECT_EQ(distinct.size(), all);
    EXPECT_EQ(QList<qint64>({scalar("SELECT COUNT(*) FROM services"), scalar("SELECT MAX(F_ID) FROM services"),
                             scalar("SELECT NextID FROM nextid WHERE TableName = 'services'"),
                             scalar("SELECT COUNT(*) FROM sub"), scalar("SELECT COUNT(DISTINCT F_ServiceID) FROM samples")}),
              QList<qint64>({all, all, all + 1, all, all}));
}

TEST_F(LabDatabase, ListsFollowAnotherPCAndKeepTheCurrentRow)
{
    addBattery(1);
    addBattery(2);
    const int kept = addService(1, 3, 3, 0);
    addService(1, 3, 1, 0);
    module().ReopenBatteries(1);
    module().ReopenServices(kept);
    module().SubServiceQuery()->setCurrentRow(1);
    module().FollowOtherPCs();

    RecordStore other(dir());
    QElapsedTimer clock;
    clock.start();
    TBRASKDataModule::Battery battery;
    battery.ID = 3;
    other.InsertBattery(battery);
    TBRASKDataModule::Service service;
    service.BatteryID = 1;
    other.InsertService(service);
    StepRecord step{kept, 2, 1, 100, 77, 5, 3, 0};
    other.StoreStepResult(step);

    EXPECT_TRUE(QTest::qWaitFor([this] { return module().BatteryQuery()->rowCount() == 3
                                                && module().ServiceQuery()->rowCount() == 3; }, 2000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(QTest::qWaitFor([this] {
        return module().SubServiceQuery()->currentValue(QStringLiteral("F_Duration")).toInt() == 77;
    }, 2000));
    EXPECT_EQ(module().SelectedBatteryID(), 1);
    EXPECT_EQ(module().SelectedServiceID(), kept);
    EXPECT_EQ(module().SubServiceQuery()->currentValue(QStringLiteral("F_Step")).toInt(), 2);
}

TEST_F(LabDatabase, BrokenConnectionFailsTheWriteAndIsMadeAgain)
{
    addBattery(1);
    const int service = addService(1, 3, 1, 1);
    // The server ends every other session of this database, as a restart does.
    const auto restart = [this] {
        query(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity "
                             "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
    };
    const auto stored = [&] { return scalar(QStringLiteral("SELECT COUNT(*) FROM samples WHERE F_ServiceID = %1").arg(service)); };
    restart();
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(records().InsertSample({service, 1, 10, 1300, 100, 0}), DatabaseConnectionError);
    EXPECT_LT(clock.elapsed(), 3000);
    // The next call connects again and stores.
    records().InsertSample({service, 1, 11, 1301, 100, 0});
    EXPECT_EQ(stored(), 2);
    // A transaction that lost its connection stores none of its rows.
    restart();
    EXPECT_THROW(records().InsertSamples({{service, 1, 12, 1302, 100, 0}, {service, 1, 13, 1303, 100, 0}}),
                 DatabaseConnectionError);
    records().InsertSamples({{service, 1, 12, 1302, 100, 0}, {service, 1, 13, 1303, 100, 0}});
    EXPECT_EQ(stored(), 4);
}

// The faults of a login are told apart, each in German with the server's
// own words after it; a role that may only read opens the database read-only.
TEST_F(LabDatabase, LoginFaultsAreToldApartAndAReadingRoleOnlyReads)
{
    addBattery(1);
    module_.reset();
    const QString server = qEnvironmentVariable("BRASKON_TEST_PG");
    const QString suffix = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString nologin = "braskon_nologin_" + suffix, stranger = "braskon_stranger_" + suffix,
                  reader = "braskon_reader_" + suffix;
    QueryOnce(server, "CREATE ROLE " + nologin + " NOLOGIN");
    QueryOnce(server, "CREATE ROLE " + stranger + " LOGIN");
    QueryOnce(server, "CREATE ROLE " + reader + " LOGIN");
    execute("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + reader);
    const auto as = [this](const QString &role) { return QString(dir()).replace("://braskon@", "://" + role + "@"); };
    const QString missing = dir().section('/', 0, -2) + "/gibt_es_nicht_" + suffix;
    const QString nowhere = "postgresql://braskon@%2Fnonexistent%2Fbraskon/braskon";
    // The URL and the beginning of what the user reads.
    const std::pair<QString, QString> faults[] = {
        {nowhere, "Der Datenbankserver postgresql://braskon@%2Fnonexistent%2Fbraskon/braskon ist nicht erreichbar"},
        {missing, "Die Datenbank \u201egibt_es_nicht_" + suffix + "\u201c gibt es auf dem Server nicht"},
        {as(nologin), "Anmeldung an der Datenbank"},
        {as(stranger), "Der Benutzer \u201e" + stranger + "\u201c hat keine Rechte an der Datenbank"},
    };
    for (const auto &[url, told] : faults) {
        try {
            TBRASKDataModule refused(url);
            ADD_FAILURE() << url.toStdString() << " opened";
        } catch (const DatabaseError &error) {
            EXPECT_TRUE(error.message().startsWith(told)) << error.what();
            EXPECT_TRUE(error.message().contains("Meldung des Servers: ") || error.message().contains("(GRANT)"))
                << error.what();
        }
    }
    {
        TBRASKDataModule reading(as(reader));
        EXPECT_TRUE(reading.IsReadOnly());
        reading.ReopenBatteries(1);
        EXPECT_EQ(1, reading.SelectedBatteryID());
        RecordStore writer(as(reader));
        BatteryRecord another;
        another.ID = 2;
        try {
            writer.InsertBattery(another);
            ADD_FAILURE() << "stored by a role that may only read";
        } catch (const DatabaseError &error) {
            EXPECT_TRUE(error.message().contains("schreibgesch\u00fctzt")) << error.what();
        }
    }
    for (const QString &role : {nologin, stranger, reader})
        QueryOnce(server, "DROP OWNED BY " + role + "; DROP ROLE " + role);
}

} // namespace
