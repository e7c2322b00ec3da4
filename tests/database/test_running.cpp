// The registry of running treatments: an old database without it, owner liveness, deletion
// refused. Registration, heartbeat and the last poll are crossed by the recorder's kill and resume tests.

#include "tests/support/TestDatabase.h"

#include "database/OwnerProcess.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {

using std::make_tuple;
using State = TBRASKDataModule::RecordingState;

class RunningTreatments : public DatabaseTest {
protected:
    int registeredService(int batteryID)
    {
        addBattery(batteryID);
        TBRASKDataModule::RunningTreatment row;
        row.ServiceID = addService(batteryID, 3, 2, 1);
        row.Terminal = QStringLiteral("Lumo an COM1");
        records().RegisterRunning(row);
        return row.ServiceID;
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
    const int id = addService(1, 3, 2, 1);
    module_.reset();
    records_.reset();
    const QByteArray untouched = digest();
    TBRASKDataModule::RunningTreatment row;
    row.ServiceID = id;
    EXPECT_EQ(make_tuple(true, State::Ended, false),
              make_tuple(module().RunningTreatments().isEmpty(), module().StateOf(id), module().FindRunning(row)));
    records().UpdateRunning(id, 0, 10, 5);
    records().UnregisterRunning(id);
    EXPECT_EQ(0, scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'running'"));
    module_.reset();
    records_.reset();
    EXPECT_EQ(untouched, digest()) << "looking for running treatments writes nothing";
}

TEST_F(RunningTreatments, OwnerGoneOrAlive)
{
    const QString here = OwnerProcess::HostName();
    const qint64 now = OwnerProcess::Now(), parent = ::getppid();
    const struct {
        const char *what;
        QString host;
        qint64 pid;
        QString identity;
        qint64 heartbeat;
        bool alive;
    } cases[] = {
        {"this process", here, OwnerProcess::CurrentPid(), OwnerProcess::CurrentIdentity(), now - 100000, true},
        {"a live process here, however old its heartbeat", here, parent, OwnerProcess::Identity(parent), 0, true},
        {"a process here that has ended", here, DeadPid(), "x:1", now, false},
        {"the id now held by another process", here, parent, "other-boot:1", now, false},
        {"another machine, fresh heartbeat", "elsewhere", 1, QString(), now - 60, true},
        {"another machine, stale heartbeat", "elsewhere", 1, QString(), now - OwnerProcess::StaleSeconds - 1, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.alive, OwnerProcess::Alive(c.host, c.pid, c.identity, c.heartbeat)) << c.what;
}

TEST_F(RunningTreatments, DeletingWhatALiveOwnerRecordsIsRefused)
{
    const int recorded = registeredService(1), interrupted = registeredService(2);
    // Another process, now ended, owned the second.
    {
        QSqlDatabase db = OpenTestConnection(dir(), QStringLiteral("owner"));
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE running SET F_Host = ?, F_Pid = ?, F_Identity = ? WHERE F_ServiceID = ?"));
        for (const QVariant &value : {QVariant(OwnerProcess::HostName()), QVariant(DeadPid()), QVariant("x:1"),
                                      QVariant(interrupted)})
            update.addBindValue(value);
        ASSERT_TRUE(update.exec());
    }
    QSqlDatabase::removeDatabase(QStringLiteral("owner"));

    EXPECT_THROW(records().DeleteService(recorded), RecordingBusyError);
    try {
        records().DeleteBattery(1);
        ADD_FAILURE() << "battery 1 was deleted";
    } catch (const RecordingBusyError &error) {
        EXPECT_TRUE(error.message().startsWith(
            QStringLiteral("Akku 1 kann nicht gel\u00f6scht werden: die Behandlung %1 wird gerade an Lumo an COM1 "
                           "aufgezeichnet").arg(recorded)))
            << error.what();
    }
    EXPECT_EQ(make_tuple(2LL, 2LL), make_tuple(scalar("SELECT COUNT(*) FROM services"), scalar("SELECT COUNT(*) FROM running")));

    // The interrupted one goes, and its registration with it.
    EXPECT_EQ(State::Interrupted, module().StateOf(interrupted));
    EXPECT_TRUE(records().DeleteBattery(2));
    EXPECT_EQ(make_tuple(1LL, 1LL), make_tuple(scalar("SELECT COUNT(*) FROM services"), scalar("SELECT COUNT(*) FROM running")));
}

} // namespace
