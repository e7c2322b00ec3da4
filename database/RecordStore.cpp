#include "database/RecordStore.h"

#include "database/OwnerProcess.h"
#include "database/SqlStore.h"
#include "database/StoreDialect.h"
#include "database/Texts.h"

#include <QDate>
#include <QDateTime>
#include <QSqlQuery>
#include <QSqlRecord>

#include <limits>

namespace {

const QString batteriesCounter = QStringLiteral("batteries");
const QString servicesCounter = QStringLiteral("services");

const char *const selectRunning =
    "SELECT F_ServiceID, F_Terminal, F_Host, F_Pid, F_Identity, F_Heartbeat, F_Step, F_StepTime, F_Capacity, "
    "F_Charge, F_Discharge, F_Limits FROM running";

RunningTreatment readRunning(const QSqlQuery &query)
{
    RunningTreatment row;
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

void checkSmallint(int value, const char *column)
{
    if (value < -32768 || value > 32767)
        throw DatabaseError(QStringLiteral("Wert %1 f\u00fcr %2 liegt au\u00dferhalb von -32768 bis 32767")
                                .arg(value)
                                .arg(QLatin1String(column)));
}

DatabaseError batteryExistsError(int batteryID)
{
    return DatabaseError(QStringLiteral("Ein Akku mit der ID %1 ist bereits vorhanden").arg(batteryID));
}

// Restores the usual busy time-out of this thread's connection on every way out.
class BusyWait {
public:
    BusyWait(SqlStore &store, int milliseconds) : store_(store) { store_.setBusyWait(milliseconds); }
    ~BusyWait()
    {
        try {
            store_.setBusyWait(-1);
        } catch (const DatabaseError &) {
            // Setting a time-out takes no lock; should it fail, the next wait sets it again.
        }
    }
    BusyWait(const BusyWait &) = delete;
    BusyWait &operator=(const BusyWait &) = delete;

private:
    SqlStore &store_;
};

} // namespace

// ---- reading ------------------------------------------------------------------------------

RecordReader::RecordReader(std::shared_ptr<SqlStore> store) : store_(std::move(store)) {}

RecordReader::~RecordReader() = default;

QString RecordReader::DatabaseFile() const
{
    return store_->filePath();
}

bool RecordReader::IsReadOnly() const
{
    return store_->readOnly();
}

bool RecordReader::IsShared() const
{
    return store_->isServer();
}

int RecordReader::readCounter(const QString &name, bool forUpdate)
{
    QSqlQuery counter = store_->exec(QStringLiteral("SELECT NextID FROM nextid WHERE TableName = ?")
                                         + (forUpdate ? store_->dialect().lockRowsClause() : QString()),
                                     {name});
    if (!counter.next() || counter.value(0).isNull())
        throw DatabaseError(
            QStringLiteral("Der ID-Z\u00e4hler \"%1\" fehlt in der Tabelle nextid; es wurde nichts gespeichert")
                .arg(name));
    // The counter must be a whole number that is a valid ID and can still be
    // advanced; text, a fraction or a number past the Integer range would
    // otherwise become an odd ID (0 or -1) without a word.
    const QVariant stored = counter.value(0);
    const int type = stored.typeId();
    bool whole = type == QMetaType::LongLong || type == QMetaType::Int || type == QMetaType::ULongLong
                 || type == QMetaType::UInt;
    const qlonglong value = whole ? stored.toLongLong(&whole) : 0;
    if (!whole || value < 1 || value >= std::numeric_limits<int>::max())
        throw DatabaseError(QStringLiteral("Der ID-Z\u00e4hler \"%1\" in der Tabelle nextid steht auf \"%2\" und "
                                           "kann keine g\u00fcltige neue ID (1 bis %3) liefern; es wurde nichts "
                                           "gespeichert")
                                .arg(name, stored.toString())
                                .arg(std::numeric_limits<int>::max() - 1));
    return int(value);
}

bool RecordReader::batteryExists(int batteryID)
{
    return store_->exec(QStringLiteral("SELECT 1 FROM batteries WHERE F_ID = ?"), {batteryID}).next();
}

int RecordReader::firstFreeBatteryID(int from)
{
    // Typed IDs may stand in the counter's way; the next one after them is free.
    QSqlQuery used = store_->exec(QStringLiteral("SELECT F_ID FROM batteries WHERE F_ID >= ? ORDER BY F_ID"), {from});
    int id = from;
    while (used.next() && used.value(0).toInt() == id) {
        if (id == std::numeric_limits<int>::max() - 1)
            throw DatabaseError(QStringLiteral("Es ist keine freie Akku-ID mehr \u00fcbrig; es wurde nichts gespeichert"));
        ++id;
    }
    return id;
}

int RecordReader::PeekBatteryID()
{
    return firstFreeBatteryID(readCounter(batteriesCounter));
}

bool RecordReader::LoadBattery(Battery &battery)
{
    QSqlQuery row = store_->exec(QStringLiteral("SELECT F_Capacity, F_Type, F_Form, F_Cells, F_MaxCharge, "
                                                "F_SelfDischarge, F_Date, F_Brand, F_Info FROM batteries "
                                                "WHERE F_ID = ?"),
                                 {battery.ID});
    if (!row.next())
        return false;
    battery.Capacity = row.value(0).toInt();
    battery.Type = row.value(1).toInt();
    battery.Form = row.value(2).toInt();
    battery.Cells = row.value(3).toInt();
    battery.MaxCharge = row.value(4).toInt();
    battery.SelfDischarge = row.value(5).toInt();
    battery.Date = DateText(row.value(6));
    battery.Brand = row.value(7).toString();
    battery.Info = row.value(8).toString();
    return true;
}

bool RecordReader::LoadService(Service &service)
{
    QSqlQuery row = store_->exec(
        QStringLiteral("SELECT F_Battery, F_Date, F_Time, F_Program FROM services WHERE F_ID = ?"), {service.ID});
    if (!row.next())
        return false;
    service.BatteryID = row.value(0).toInt();
    service.Date = DateText(row.value(1));
    service.Time = TimeText(row.value(2));
    service.Program = row.value(3).toInt();
    return true;
}

bool RecordReader::GetSubService(StepRecord &step)
{
    QSqlQuery row = store_->exec(QStringLiteral("SELECT F_Function, F_Parameter, F_Duration, F_Capacity, F_State "
                                                "FROM sub WHERE F_ServiceID = ? AND F_Step = ?"),
                                 {step.ServiceID, step.Step});
    if (!row.next())
        return false;
    step.Function = row.value(0).toInt();
    step.Parameter = row.value(1).toInt();
    step.Duration = row.value(2).toInt();
    step.Capacity = row.value(3).toInt();
    step.State = row.value(4).toInt();
    return true;
}

bool RecordReader::LastSample(int serviceID, Sample &sample)
{
    // The order column is the store's own, never user input.
    QSqlQuery query = store_->exec(QStringLiteral("SELECT F_Step, F_Time, F_Voltage, F_Current FROM samples "
                                                  "WHERE F_ServiceID = ? ORDER BY %1 DESC LIMIT 1")
                                       .arg(store_->dialect().insertionOrder()),
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

QVector<Sample> RecordReader::Samples(int serviceID)
{
    QVector<Sample> rows;
    for (const StoredSample &row : SamplesAfter(serviceID, 0))
        rows.append(row.Values);
    return rows;
}

QVector<StoredSample> RecordReader::SamplesAfter(int serviceID, qint64 afterKey)
{
    // The key column is the store's own insertion order, never user input.
    const QString key = store_->dialect().insertionOrder();
    QSqlQuery query = store_->exec(QStringLiteral("SELECT ") + key
                                       + QStringLiteral(", F_Step, F_Time, F_Voltage, F_Current FROM samples "
                                                        "WHERE F_ServiceID = ? AND ")
                                       + key + QStringLiteral(" > ? ORDER BY ") + key,
                                   {serviceID, afterKey});
    QVector<StoredSample> rows;
    while (query.next()) {
        StoredSample row;
        row.Key = query.value(0).toLongLong();
        row.Values.ServiceID = serviceID;
        row.Values.Step = query.value(1).toInt();
        row.Values.Time = query.value(2).toInt();
        row.Values.Voltage = query.value(3).toInt();
        row.Values.Current = query.value(4).toInt();
        rows.append(row);
    }
    return rows;
}

bool RecordReader::CurveName(CurveKey &key)
{
    Service service;
    service.ID = key.ServiceID;
    if (!LoadService(service))
        return false;
    QString name = QStringLiteral("Akku %1, %2, %3, %4, ")
                       .arg(service.BatteryID)
                       .arg(service.Date, service.Time, ProgramCode(service.Program));
    switch (key.Kind) {
    case 0: name += QLatin1String("V"); break;
    case 1: name += QLatin1String("mA"); break;
    case 2: name += QLatin1String("mAh"); break;
    default: break;
    }
    key.Name = name;
    return true;
}

bool RecordReader::hasRunningTable()
{
    // Once there, the table stays; until then every look is a cheap catalogue query.
    if (!runningTable_)
        runningTable_ = store_->hasTable(QStringLiteral("running"));
    return runningTable_;
}

QVector<RunningTreatment> RecordReader::RunningTreatments()
{
    QVector<RunningTreatment> rows;
    if (!hasRunningTable())
        return rows;
    QSqlQuery query = store_->exec(QString::fromUtf8(selectRunning) + QStringLiteral(" ORDER BY F_ServiceID"));
    while (query.next())
        rows.append(readRunning(query));
    return rows;
}

bool RecordReader::FindRunning(RunningTreatment &treatment)
{
    if (!hasRunningTable())
        return false;
    QSqlQuery query = store_->exec(QString::fromUtf8(selectRunning) + QStringLiteral(" WHERE F_ServiceID = ?"),
                                   {treatment.ServiceID});
    if (!query.next())
        return false;
    treatment = readRunning(query);
    return true;
}

bool RecordReader::OwnerAlive(const RunningTreatment &treatment)
{
    return OwnerProcess::Alive(treatment.Host, treatment.Pid, treatment.Identity, treatment.Heartbeat);
}

bool RecordReader::RecordedByThisProcess(const RunningTreatment &treatment)
{
    return treatment.Host == OwnerProcess::HostName() && treatment.Pid == OwnerProcess::CurrentPid()
           && treatment.Identity == OwnerProcess::CurrentIdentity();
}

RecordingState RecordReader::StateOf(int serviceID)
{
    RunningTreatment row;
    row.ServiceID = serviceID;
    if (!FindRunning(row))
        return RecordingState::Ended;
    return OwnerAlive(row) ? RecordingState::Running : RecordingState::Interrupted;
}

// ---- writing --------------------------------------------------------------------------------

RecordStore::RecordStore(std::shared_ptr<SqlStore> store) : RecordReader(std::move(store)) {}

RecordStore::RecordStore(const QString &location) : RecordReader(std::make_shared<SqlStore>(location)) {}

void RecordStore::writeCounter(const QString &name, int value)
{
    QSqlQuery updated = store_->exec(QStringLiteral("UPDATE nextid SET NextID = ? WHERE TableName = ?"), {value, name});
    if (updated.numRowsAffected() == 0)
        throw DatabaseError(QStringLiteral("Der ID-Z\u00e4hler \"%1\" fehlt in der Tabelle nextid").arg(name));
}

void RecordStore::AdvanceBatteryID()
{
    SqlStore::Transaction transaction(*store_);
    writeCounter(batteriesCounter, readCounter(batteriesCounter, true) + 1);
    transaction.commit();
}

void RecordStore::insertBatteryRow(Battery &battery)
{
    checkSmallint(battery.Type, "F_Type");
    checkSmallint(battery.Form, "F_Form");
    checkSmallint(battery.Cells, "F_Cells");
    if (battery.Brand.size() > 50)
        throw DatabaseError(QStringLiteral("Die Beschreibung ist l\u00e4nger als 50 Zeichen"));
    const QString problem = OneLineProblem(battery.Brand, QStringLiteral("Die Beschreibung"));
    if (!problem.isEmpty())
        throw DatabaseError(problem);
    const QDate today = QDate::currentDate();
    battery.MaxCharge = -1;
    battery.SelfDischarge = -1;
    battery.Date = DateText(today.toString(Qt::ISODate));
    battery.Info.clear();
    store_->exec(QStringLiteral("INSERT INTO batteries (F_ID, F_Capacity, F_Type, F_Form, F_Cells, F_MaxCharge, "
                                "F_SelfDischarge, F_Date, F_Brand, F_Info) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                 {battery.ID, battery.Capacity, battery.Type, battery.Form, battery.Cells, battery.MaxCharge,
                  battery.SelfDischarge, today.toString(Qt::ISODate), battery.Brand, battery.Info});
}

void RecordStore::InsertBattery(Battery &battery)
{
    if (batteryExists(battery.ID))
        throw batteryExistsError(battery.ID);
    try {
        insertBatteryRow(battery);
    } catch (const DuplicateKeyError &) {
        // Another program stored the same ID between the look and the insert.
        throw batteryExistsError(battery.ID);
    }
}

AddedBattery RecordStore::AddBattery(Battery &battery, int proposal)
{
    const bool typed = battery.ID != 0 && battery.ID != proposal;
    if (typed) {
        InsertBattery(battery);
        return {battery.ID, 0};
    }
    // A battery stored by another program between the look for a free ID and
    // the insert (a typed ID; counted ones wait for the counter's lock) makes
    // the insert fail as a whole; the next try skips it.
    constexpr int Tries = 5;
    for (int attempt = 1;; ++attempt) {
        Battery stored = battery;
        try {
            SqlStore::Transaction transaction(*store_);
            stored.ID = firstFreeBatteryID(readCounter(batteriesCounter, true));
            insertBatteryRow(stored);
            writeCounter(batteriesCounter, stored.ID + 1);
            transaction.commit();
        } catch (const DuplicateKeyError &) {
            if (attempt == Tries)
                throw batteryExistsError(stored.ID);
            continue;
        }
        battery = stored;
        return {battery.ID, proposal};
    }
}

bool RecordStore::SetBatteryInfo(int batteryID, const QString &info)
{
    if (info.size() > 250)
        throw DatabaseError(QStringLiteral("Die Anmerkungen sind l\u00e4nger als 250 Zeichen; es wurde nichts "
                                           "gespeichert"));
    return store_->exec(QStringLiteral("UPDATE batteries SET F_Info = ? WHERE F_ID = ?"), {info, batteryID})
               .numRowsAffected()
           > 0;
}

void RecordStore::deleteTreatments(const QString &where, int id)
{
    // Set-based, inside the caller's transaction: steps and samples of the
    // treatments first (also the samples of a treatment without steps).
    store_->exec(QStringLiteral("DELETE FROM samples WHERE F_ServiceID IN (SELECT F_ID FROM services WHERE ")
                     + where + QLatin1Char(')'),
                 {id});
    store_->exec(QStringLiteral("DELETE FROM sub WHERE F_ServiceID IN (SELECT F_ID FROM services WHERE ") + where
                     + QLatin1Char(')'),
                 {id});
    store_->exec(QStringLiteral("DELETE FROM services WHERE ") + where, {id});
}

bool RecordStore::DeleteBattery(int batteryID)
{
    SqlStore::Transaction transaction(*store_);
    if (!batteryExists(batteryID))
        return false;
    QVector<int> services;
    QSqlQuery ofBattery = store_->exec(QStringLiteral("SELECT F_ID FROM services WHERE F_Battery = ?"), {batteryID});
    while (ofBattery.next())
        services.append(ofBattery.value(0).toInt());
    refuseWhileRecorded(services, QStringLiteral("Akku %1").arg(batteryID));
    deleteTreatments(QStringLiteral("F_Battery = ?"), batteryID);
    store_->exec(QStringLiteral("DELETE FROM batteries WHERE F_ID = ?"), {batteryID});
    transaction.commit();
    return true;
}

int RecordStore::AllocateServiceID()
{
    SqlStore::Transaction transaction(*store_);
    const int id = readCounter(servicesCounter, true);
    writeCounter(servicesCounter, id + 1);
    transaction.commit();
    return id;
}

void RecordStore::insertServiceRow(Service &service)
{
    const QDateTime now = QDateTime::currentDateTime();
    const int id = AllocateServiceID();
    const QString date = now.date().toString(Qt::ISODate);
    const QString time = now.time().toString(QStringLiteral("HH:mm:ss"));
    store_->exec(QStringLiteral("INSERT INTO services (F_ID, F_Battery, F_Date, F_Time, F_Program) "
                                "VALUES (?, ?, ?, ?, ?)"),
                 {id, service.BatteryID, date, time, service.Program});
    service.ID = id;
    service.Date = DateText(date);
    service.Time = TimeText(time);
}

void RecordStore::InsertService(Service &service)
{
    // Counter and row together: a failed post neither stores the row nor uses up an ID.
    SqlStore::Transaction transaction(*store_);
    Service stored = service;
    insertServiceRow(stored);
    transaction.commit();
    service = stored;
}

void RecordStore::InsertServiceWithSteps(Service &service, std::vector<StepRecord> &steps)
{
    // A treatment without its steps, or with only some of them, must never
    // be seen, not even after a crash between two posts.
    SqlStore::Transaction transaction(*store_);
    Service stored = service;
    insertServiceRow(stored);
    std::vector<StepRecord> rows = steps;
    for (StepRecord &step : rows) {
        step.ServiceID = stored.ID;
        InsertStep(step);
    }
    transaction.commit();
    service = stored;
    steps = std::move(rows);
}

bool RecordStore::DeleteService(int serviceID)
{
    SqlStore::Transaction transaction(*store_);
    if (!store_->exec(QStringLiteral("SELECT 1 FROM services WHERE F_ID = ?"), {serviceID}).next())
        return false;
    refuseWhileRecorded({serviceID}, QStringLiteral("Die Aufzeichnung %1").arg(serviceID));
    deleteTreatments(QStringLiteral("F_ID = ?"), serviceID);
    transaction.commit();
    return true;
}

void RecordStore::InsertStep(StepRecord &step)
{
    checkSmallint(step.Step, "F_Step");
    checkSmallint(step.Function, "F_Function");
    checkSmallint(step.Parameter, "F_Parameter");
    step.Duration = step.Capacity = step.State = 0;
    store_->exec(QStringLiteral("INSERT INTO sub (F_ServiceID, F_Step, F_Function, F_Parameter, F_Duration, "
                                "F_Capacity, F_State) VALUES (?, ?, ?, ?, 0, 0, 0)"),
                 {step.ServiceID, step.Step, step.Function, step.Parameter});
}

bool RecordStore::StoreStepResult(StepRecord &step)
{
    return store_
               ->exec(QStringLiteral("UPDATE sub SET F_Duration = ?, F_Capacity = ?, F_State = ? "
                                     "WHERE F_ServiceID = ? AND F_Step = ?"),
                      {step.Duration, step.Capacity, step.State, step.ServiceID, step.Step})
               .numRowsAffected()
           > 0;
}

void RecordStore::InsertSample(const Sample &sample)
{
    store_->exec(QStringLiteral("INSERT INTO samples (F_ServiceID, F_Step, F_Time, F_Voltage, F_Current) "
                                "VALUES (?, ?, ?, ?, ?)"),
                 {sample.ServiceID, sample.Step, sample.Time, sample.Voltage, sample.Current});
}

void RecordStore::InsertSamples(const QVector<Sample> &samples)
{
    SqlStore::Transaction transaction(*store_);
    for (const Sample &sample : samples)
        InsertSample(sample);
    transaction.commit();
}

void RecordStore::RegisterRunning(RunningTreatment &treatment)
{
    if (!hasRunningTable())
        store_->createRunningTable();
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

void RecordStore::UpdateRunning(int serviceID, int step, int stepTime, int capacity)
{
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("UPDATE running SET F_Heartbeat = ?, F_Step = ?, F_StepTime = ?, F_Capacity = ? "
                                "WHERE F_ServiceID = ?"),
                 {qint64(OwnerProcess::Now()), step, stepTime, capacity, serviceID});
}

void RecordStore::TouchRunning(int serviceID)
{
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("UPDATE running SET F_Heartbeat = ? WHERE F_ServiceID = ?"),
                 {qint64(OwnerProcess::Now()), serviceID});
}

void RecordStore::UnregisterRunning(int serviceID)
{
    if (!hasRunningTable())
        return;
    store_->exec(QStringLiteral("DELETE FROM running WHERE F_ServiceID = ?"), {serviceID});
}

void RecordStore::InTransaction(const std::function<void()> &work)
{
    SqlStore::Transaction transaction(*store_);
    work();
    transaction.commit();
}

void RecordStore::InTransaction(const std::function<void()> &work, int busyWaitMs)
{
    if (busyWaitMs < 0) {
        InTransaction(work);
        return;
    }
    const BusyWait wait(*store_, busyWaitMs);
    InTransaction(work);
}

bool RecordStore::CompactJournal(int busyWaitMs)
{
    try {
        const BusyWait wait(*store_, busyWaitMs);
        return store_->truncateJournal();
    } catch (const DatabaseError &) {
        // Locked or still short of space: the next write round tries again.
        return false;
    }
}

qint64 RecordStore::JournalSize() const
{
    return store_->journalSize();
}

void RecordStore::refuseWhileRecorded(const QVector<int> &serviceIDs, const QString &what)
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
