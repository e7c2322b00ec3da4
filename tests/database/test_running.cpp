// The registry of running treatments beside the five tables: a database
// without it keeps working, registration and heartbeat, whose owner counts as
// gone, and deleting what a live owner records.

#include "TestDatabase.h"

#include "database/OwnerProcess.h"

#include <QCryptographicHash>
#include <QFile>

#include <sys/wait.h>
#include <unistd.h>

namespace {

class RunningTreatments : public DatabaseTest {
protected:
    int addService(int batteryID) { return DatabaseTest::addService(batteryID, 3, 2, 1); }
    TBRASKDataModule::RunningTreatment registered(int serviceID)
    {
        TBRASKDataModule::RunningTreatment row;
        row.ServiceID = serviceID;
        row.Terminal = QStringLiteral("Lumo an COM1");
        module().RegisterRunning(row);
        return row;
    }
    // Makes another process the owner of the treatment.
    void ownedBy(int serviceID, const QString &host, qint64 pid, const QString &identity, qint64 heartbeat)
    {
        const QString name = QStringLiteral("owner");
        {
            QSqlDatabase db = OpenTestConnection(dir(), name);
            QSqlQuery update(db);
            update.prepare(QStringLiteral(
                "UPDATE running SET F_Host = ?, F_Pid = ?, F_Identity = ?, F_Heartbeat = ? WHERE F_ServiceID = ?"));
            for (const QVariant &value : {QVariant(host), QVariant(pid), QVariant(identity), QVariant(heartbeat),
                                          QVariant(serviceID)})
                update.addBindValue(value);
            ASSERT_TRUE(update.exec());
        }
        QSqlDatabase::removeDatabase(name);
    }
};

// A process that has ended (and was collected): its id is free.
qint64 DeadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST_F(RunningTreatments, DatabaseWithoutTheTableWorksAndIsNotChanged)
{
    addBattery(1);
    const int id = addService(1);
    module_.reset();
    const auto digest = [this] {
        QFile db(file());
        EXPECT_TRUE(db.open(QIODevice::ReadOnly));
        return QCryptographicHash::hash(db.readAll(), QCryptographicHash::Sha256);
    };
    const QByteArray untouched = digest();
    EXPECT_TRUE(module().RunningTreatments().isEmpty());
    EXPECT_EQ(TBRASKDataModule::RecordingState::Ended, module().StateOf(id));
    TBRASKDataModule::RunningTreatment row;
    row.ServiceID = id;
    EXPECT_FALSE(module().FindRunning(row));
    module().UpdateRunning(id, 0, 10, 5);
    module().UnregisterRunning(id);
    EXPECT_EQ(0, scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'running'"));
    module_.reset();
    EXPECT_EQ(untouched, digest()) << "looking for running treatments writes nothing";

    registered(id);
    EXPECT_EQ(1, scalar("SELECT COUNT(*) FROM running"));
    EXPECT_EQ(TBRASKDataModule::RecordingState::Running, module().StateOf(id));
}

TEST_F(RunningTreatments, HeartbeatAndLastPollAreKept)
{
    addBattery(1);
    const int id = addService(1);
    registered(id);
    module().UpdateRunning(id, 1, 75, 42);
    TBRASKDataModule::RunningTreatment row;
    row.ServiceID = id;
    ASSERT_TRUE(module().FindRunning(row));
    EXPECT_EQ(1, row.Step);
    EXPECT_EQ(75, row.StepTime);
    EXPECT_EQ(42, row.Capacity);
    EXPECT_EQ(OwnerProcess::CurrentPid(), row.Pid);
    EXPECT_LE(OwnerProcess::Now() - row.Heartbeat, 1);
    module().UnregisterRunning(id);
    EXPECT_EQ(TBRASKDataModule::RecordingState::Ended, module().StateOf(id));
}

TEST_F(RunningTreatments, OwnerGoneOrAlive)
{
    const QString here = OwnerProcess::HostName();
    const qint64 now = OwnerProcess::Now();
    const qint64 me = OwnerProcess::CurrentPid();
    const QString myIdentity = OwnerProcess::CurrentIdentity();
    const qint64 parent = ::getppid();
    struct Case {
        const char *what;
        QString host;
        qint64 pid;
        QString identity;
        qint64 heartbeat;
        bool alive;
    } cases[] = {
        {"this process", here, me, myIdentity, now - 100000, true},
        {"a live process here, however old its heartbeat", here, parent, OwnerProcess::Identity(parent), 0, true},
        {"a process here that has ended", here, DeadPid(), QStringLiteral("x:1"), now, false},
        {"the id now held by another process", here, parent, QStringLiteral("other-boot:1"), now, false},
        {"another machine, fresh heartbeat", QStringLiteral("elsewhere"), 1, QString(), now - 60, true},
        {"another machine, stale heartbeat", QStringLiteral("elsewhere"), 1, QString(),
         now - OwnerProcess::StaleSeconds - 1, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.alive, OwnerProcess::Alive(c.host, c.pid, c.identity, c.heartbeat)) << c.what;
}

TEST_F(RunningTreatments, DeletingWhatALiveOwnerRecordsIsRefused)
{
    addBattery(1);
    addBattery(2);
    const int recorded = addService(1);
    const int interrupted = addService(2);
    registered(recorded);
    registered(interrupted);
    ownedBy(interrupted, OwnerProcess::HostName(), DeadPid(), QStringLiteral("x:1"), OwnerProcess::Now());

    EXPECT_THROW(module().DeleteService(recorded), RecordingBusyError);
    module().ReopenBatteries(1);
    try {
        module().DeleteSelectedBattery();
        ADD_FAILURE() << "battery 1 was deleted";
    } catch (const RecordingBusyError &error) {
        EXPECT_TRUE(error.message().startsWith(
            QStringLiteral("Akku 1 kann nicht gel\u00f6scht werden: die Behandlung %1 wird gerade an Lumo an COM1 "
                           "aufgezeichnet")
                .arg(recorded)))
            << error.what();
    }
    EXPECT_EQ(2, scalar("SELECT COUNT(*) FROM services"));
    EXPECT_EQ(2, scalar("SELECT COUNT(*) FROM running"));

    // The interrupted one goes, and its registration with it.
    EXPECT_EQ(TBRASKDataModule::RecordingState::Interrupted, module().StateOf(interrupted));
    module().ReopenBatteries(2);
    module().DeleteSelectedBattery();
    EXPECT_EQ(1, scalar("SELECT COUNT(*) FROM services"));
    EXPECT_EQ(1, scalar("SELECT COUNT(*) FROM running"));
}

} // namespace
