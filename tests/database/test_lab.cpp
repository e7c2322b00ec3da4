// A lab database on a PostgreSQL server (only with BRASKON_TEST_PG): IDs taken by
// several writers at once, lists that follow another PC, a broken connection.

#include "TestDatabase.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>

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

} // namespace
