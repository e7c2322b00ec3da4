// The registry of running treatments (table "running") and the refusal to
// delete what is being recorded.

#include "Datamodule.h"

#include "OwnerProcess.h"
#include "SqlStore.h"

#include <QMutexLocker>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char *const selectRunning =
    "SELECT F_ServiceID, F_Terminal, F_Host, F_Pid, F_Identity, F_Heartbeat, F_Step, F_StepTime, F_Capacity, "
    "F_Charge, F_Discharge, F_Limits FROM running";

TBRASKDataModule::RunningTreatment readRow(const QSqlQuery &query)
{
    TBRASKDataModule::RunningTreatment row;
    row.ServiceID = query.value(0).toInt();
    row.Terminal = query.value(1).toString();
    row.Host = query.value(2).toString();
    row.Pid = query.value(3).toLongLong();
    row.Identity = query.value(4).toString();
    row.Heartbeat = query.value(5).toLongLong();
    row.Step = query.value(6).toInt();
    row.StepTime = query.value(7).toInt();
    row.Capacity = query.value(8).toInt();
    row.ChargeCurrent = query.value(9).toInt();
    row.DischargeCurrent = query.value(10).toInt();
    row.Limits = query.value(11).toString();
    return row;
}

} // namespace

bool TBRASKDataModule::hasRunningTable()
{
    // Once there, the table stays; until then every look is a cheap catalogue query.
    if (!runningTable_)
        runningTable_ = store_->hasTable(QStringLiteral("running"));
    return runningTable_;
}

void TBRASKDataModule::RegisterRunning(RunningTreatment &treatment)
{
    QMutexLocker locker(&lock_);
    if (!hasRunningTable()) {
        store_->createRunningTable();
        runningTable_ = true;
    }
    treatment.Host = OwnerProcess::HostName();
    treatment.Pid = OwnerProcess::CurrentPid();
    treatment.Identity = OwnerProcess::CurrentIdentity();
    treatment.Heartbeat = OwnerProcess::Now();
    // An upsert both engines understand: a takeover replaces the whole row.
    store_->exec(QStringLiteral("INSERT INTO running (F_ServiceID, F_Terminal, F_Host, F_Pid, F_Identity, "
                                "F_Heartbeat, F_Step, F_StepTime, F_Capacity, F_Charge, F_Discharge, F_Limits) "
                                "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (F_ServiceID) DO UPDATE SET "
                                "F_Terminal = excluded.F_Terminal, F_Host = excluded.F_Host, F_Pid = excluded.F_Pid, "
                                "F_Identity = excluded.F_Identity, F_Heartbeat = excluded.F_Heartbeat, "
                                "F_Step = excluded.F_Step, F_StepTime = excluded.F_StepTime, "
                                "F_Capacity = excluded.F_Capacity, F_Charge = excluded.F_Charge, "
                                "F_Discharge = excluded.F_Discharge, F_Limits = excluded.F_Limits"),
                 {treatment.ServiceID, treatment.Terminal, treatment.Host, treatment.Pid, treatment.Identity,
                  treatment.Heartbeat, treatment.Step, treatment.StepTime, treatment.Capacity,
                  treatment.ChargeCurrent, treatment.DischargeCurrent, treatment.Limits});
}

void TBRASKDataModule::UpdateRunning(int serviceID, int step, int stepTime, int capacity)
{
    QMutexLocker locker(&lock_);
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("UPDATE running SET F_Heartbeat = ?, F_Step = ?, F_StepTime = ?, F_Capacity = ? "
                                "WHERE F_ServiceID = ?"),
                 {qint64(OwnerProcess::Now()), step, stepTime, capacity, serviceID});
}

void TBRASKDataModule::TouchRunning(int serviceID)
{
    QMutexLocker locker(&lock_);
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("UPDATE running SET F_Heartbeat = ? WHERE F_ServiceID = ?"),
                 {qint64(OwnerProcess::Now()), serviceID});
}

void TBRASKDataModule::UnregisterRunning(int serviceID)
{
    QMutexLocker locker(&lock_);
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("DELETE FROM running WHERE F_ServiceID = ?"), {serviceID});
}

QVector<TBRASKDataModule::RunningTreatment> TBRASKDataModule::RunningTreatments()
{
    QMutexLocker locker(&lock_);
    QVector<RunningTreatment> rows;
    if (!hasRunningTable())
        return rows;
    QSqlQuery query = store_->exec(QString::fromUtf8(selectRunning) + QStringLiteral(" ORDER BY F_ServiceID"));
    while (query.next())
        rows.append(readRow(query));
    return rows;
}

bool TBRASKDataModule::FindRunning(RunningTreatment &treatment)
{
    QMutexLocker locker(&lock_);
    if (!hasRunningTable())
        return false;
    QSqlQuery query =
        store_->exec(QString::fromUtf8(selectRunning) + QStringLiteral(" WHERE F_ServiceID = ?"), {treatment.ServiceID});
    if (!query.next())
        return false;
    treatment = readRow(query);
    return true;
}

bool TBRASKDataModule::OwnerAlive(const RunningTreatment &treatment)
{
    return OwnerProcess::Alive(treatment.Host, treatment.Pid, treatment.Identity, treatment.Heartbeat);
}

bool TBRASKDataModule::RecordedByThisProcess(const RunningTreatment &treatment)
{
    return treatment.Host == OwnerProcess::HostName() && treatment.Pid == OwnerProcess::CurrentPid()
           && treatment.Identity == OwnerProcess::CurrentIdentity();
}

TBRASKDataModule::RecordingState TBRASKDataModule::StateOf(int serviceID)
{
    RunningTreatment row;
    row.ServiceID = serviceID;
    if (!FindRunning(row))
        return RecordingState::Ended;
    return OwnerAlive(row) ? RecordingState::Running : RecordingState::Interrupted;
}

void TBRASKDataModule::InTransaction(const std::function<void()> &work)
{
    QMutexLocker locker(&lock_);
    SqlStore::Transaction transaction(*store_);
    work();
    transaction.commit();
}

void TBRASKDataModule::InTransaction(const std::function<void()> &work, int busyWaitMs)
{
    QMutexLocker locker(&lock_);
    if (busyWaitMs < 0) {
        InTransaction(work);
        return;
    }
    store_->setBusyWait(busyWaitMs);
    try {
        InTransaction(work);
    } catch (...) {
        try {
            store_->setBusyWait(-1);
        } catch (const DatabaseError &) {
            // Setting a time-out takes no lock; should it fail, the next attempt sets it again.
        }
        throw;
    }
    store_->setBusyWait(-1);
}

void TBRASKDataModule::refuseWhileRecorded(const QVector<int> &serviceIDs, const QString &what)
{
    if (!hasRunningTable())
        return;
    for (int serviceID : serviceIDs) {
        RunningTreatment row;
        row.ServiceID = serviceID;
        if (!FindRunning(row))
            continue;
        if (OwnerAlive(row))
            throw RecordingBusyError(
                QStringLiteral("%1 kann nicht gel\u00f6scht werden: die Behandlung %2 wird gerade an %3 "
                               "aufgezeichnet (Prozess %4 auf %5). Erst die Behandlung abbrechen.")
                    .arg(what)
                    .arg(serviceID)
                    .arg(row.Terminal)
                    .arg(row.Pid)
                    .arg(row.Host));
    }
    // Interrupted ones go with their records (inside the caller's transaction).
    for (int serviceID : serviceIDs)
        store_->exec(QStringLiteral("DELETE FROM running WHERE F_ServiceID = ?"), {serviceID});
}

bool TBRASKDataModule::LastSample(int serviceID, Sample &sample)
{
    QMutexLocker locker(&lock_);
    QSqlQuery query = store_->exec(QStringLiteral("SELECT F_Step, F_Time, F_Voltage, F_Current FROM samples "
                                                  "WHERE F_ServiceID = ? ORDER BY %1 DESC LIMIT 1")
                                       .arg(store_->insertionOrder()),
                                   {serviceID});
    if (!query.next())
        return false;
    sample.ServiceID = serviceID;
    sample.Step = query.value(0).toInt();
    sample.Time = query.value(1).toInt();
    sample.Voltage = query.value(2).toInt();
    sample.Current = query.value(3).toInt();
    return true;
}
