#pragma once
// The record operations of the five tables and of the registry of running
// treatments, as typed functions that take and return values. No lists, no
// current rows and no lock of their own: every call runs on the calling
// thread's connection of the shared SqlStore, so whoever uses an object of
// these classes uses it from one thread.
//
// RecordReader only reads; the windows read through one (TBRASKDataModule).
// RecordStore also writes; the treatment engine owns the one of a program and
// writes through it on its thread, the command line on its only thread.
// Failures are DatabaseError exceptions with German messages; a failed write
// stores nothing.

#include "database/DatabaseError.h"
#include "database/Records.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class SqlStore;

// A record that is being recorded (by this or another process) cannot be deleted.
class RecordingBusyError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

class RecordReader {
public:
    using Battery = BatteryRecord;
    using Service = ServiceRecord;
    using CurveKey = ::CurveKey;
    using RunningTreatment = ::RunningTreatment;
    using StoredSample = ::StoredSample;
    using RecordingState = ::RecordingState;

    explicit RecordReader(std::shared_ptr<SqlStore> store);
    virtual ~RecordReader();
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    SqlStore &Store() const { return *store_; }
    const std::shared_ptr<SqlStore> &SharedStore() const { return store_; }
    // The database file, or the server URL without password.
    QString DatabaseFile() const;
    bool IsReadOnly() const;
    bool IsShared() const;   // a lab database on a server

    // The ID the new-battery dialog proposes: the counter, or the first ID
    // after it that no battery uses yet. Nothing is changed.
    int PeekBatteryID();
    bool LoadBattery(Battery &battery);   // by ID; false when there is none
    bool LoadService(Service &service);   // by ID
    // By ServiceID and Step; false when the row is missing.
    bool GetSubService(StepRecord &step);
    // The treatment's last stored sample (Capacity left as it is); false when none.
    bool LastSample(int serviceID, Sample &sample);
    // The treatment's samples in the order they were stored (Capacity 0).
    QVector<Sample> Samples(int serviceID);
    // Those stored after the one with key afterKey (0: all), in order.
    QVector<StoredSample> SamplesAfter(int serviceID, qint64 afterKey);
    // "Akku 12, <date>, <time>, EL, V"; false (Name unchanged) for an unknown treatment.
    bool CurveName(CurveKey &key);

    // The registry of running treatments; a database without the table simply
    // has none.
    QVector<RunningTreatment> RunningTreatments();
    bool FindRunning(RunningTreatment &treatment);   // by ServiceID
    static bool OwnerAlive(const RunningTreatment &treatment);
    // Whether this very process is the registered recorder.
    static bool RecordedByThisProcess(const RunningTreatment &treatment);
    RecordingState StateOf(int serviceID);

protected:
    bool hasRunningTable();
    // Read for an update, the counter row stays locked until the caller's commit.
    int readCounter(const QString &name, bool forUpdate = false);
    bool batteryExists(int batteryID);
    int firstFreeBatteryID(int from);

    std::shared_ptr<SqlStore> store_;

private:
    bool runningTable_ = false;
};

class RecordStore : public RecordReader {
public:
    explicit RecordStore(std::shared_ptr<SqlStore> store);
    // Opens the database at location (see SqlStore) for this store alone.
    explicit RecordStore(const QString &location);

    // ---- batteries ----
    // Stores a new battery (MaxCharge and SelfDischarge -1, today's date, no
    // remarks; the record is filled in). The ID: a typed one (not 0 and not
    // the proposal) is taken as it is and the counter left alone; otherwise
    // the counter is read and advanced and the row inserted in one
    // transaction, the counter row locked, so concurrent adds of several
    // programs and PCs all succeed with distinct IDs. When another one took
    // the proposal meanwhile, the battery gets the next free ID
    // (AddedBattery::ProposalTaken). An ID in use throws DatabaseError
    // "Ein Akku mit der ID ... ist bereits vorhanden".
    AddedBattery AddBattery(Battery &battery, int proposal);
    // Stores the battery with exactly its ID; the counter is left alone.
    void InsertBattery(Battery &battery);
    void AdvanceBatteryID();
    // The remarks (at most 250 characters); false when there is no such battery.
    bool SetBatteryInfo(int batteryID, const QString &info);
    // The battery with its treatments, their steps and samples, in one
    // transaction; RecordingBusyError while one of them is recorded by a live
    // program. False when there is no such battery.
    bool DeleteBattery(int batteryID);

    // ---- treatments ----
    int AllocateServiceID();
    // The treatment's row with a new ID (filled in with date and time).
    void InsertService(Service &service);
    // The treatment's row and the rows of its steps ("folgt", duration and
    // capacity 0) in one transaction: all or none, and the counter advances
    // only when everything is stored. Fills the new ID into the record and
    // into every step's ServiceID; step numbers are taken as given.
    void InsertServiceWithSteps(Service &service, std::vector<StepRecord> &steps);
    // The treatment with its steps and samples; RecordingBusyError while it is
    // recorded by a live program. False when there is no such treatment.
    bool DeleteService(int serviceID);

    // ---- steps and samples ----
    void InsertStep(StepRecord &step);   // Duration, Capacity, State become 0
    bool StoreStepResult(StepRecord &step);
    void InsertSample(const Sample &sample);
    // Many samples in one durable commit, all or none.
    void InsertSamples(const QVector<Sample> &samples);

    // ---- the registry of running treatments ----
    // Registers (or takes over) the treatment with this process as its owner.
    void RegisterRunning(RunningTreatment &treatment);
    // The heartbeat of one poll; with an answer also the step, time and capacity.
    void UpdateRunning(int serviceID, int step, int stepTime, int capacity);
    void TouchRunning(int serviceID);
    void UnregisterRunning(int serviceID);

    // Runs work as one all-or-nothing transaction of this thread's connection.
    void InTransaction(const std::function<void()> &work);
    // The same, waiting at most busyWaitMs (instead of the usual busy
    // time-out) for a lock another program holds; DatabaseBusyError when the
    // lock is not released in time.
    void InTransaction(const std::function<void()> &work, int busyWaitMs);
    // Empties the write-ahead log of the file into the file itself, waiting
    // at most busyWaitMs for readers; false when it could not (tried again
    // later). Nothing to do on a server.
    bool CompactJournal(int busyWaitMs);
    // Bytes of the write-ahead log (0 on a server).
    qint64 JournalSize() const;

    // The sampling thresholds of the recorder, in memory only; the polls of
    // every port read them on their own threads.
    int MinDeltaU() const { return minDeltaU_; }
    void SetMinDeltaU(int millivolts) { minDeltaU_ = millivolts; }
    int MinDeltaI() const { return minDeltaI_; }
    void SetMinDeltaI(int milliamps) { minDeltaI_ = milliamps; }

private:
    void writeCounter(const QString &name, int value);
    void insertBatteryRow(Battery &battery);
    void insertServiceRow(Service &service);
    void deleteTreatments(const QString &where, int id);
    // Throws RecordingBusyError when one of the treatments is recorded by a
    // live owner; drops the registrations of those whose owner is gone.
    void refuseWhileRecorded(const QVector<int> &serviceIDs, const QString &what);

    std::atomic<int> minDeltaU_{10};
    std::atomic<int> minDeltaI_{1};
};
