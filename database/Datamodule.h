#pragma once
// TBRASKDataModule: the only owner of the database. Offers every record
// operation, ID allocation, the deletion cascades, the list queries the main
// window shows (battery -> treatments -> steps, narrowed on every change of the
// master's current row) and the sample query of the diagrams and protocol.
//
// Operations are serialized by one recursive lock, so the logger thread may
// call them while the main thread does. The list queries live on the module's
// thread; a re-read asked for from another thread is carried out there.
// Failures are DatabaseError exceptions; a failed post stores nothing.

#include "DatabaseError.h"
#include "QueryModel.h"
#include "Records.h"
#include "Texts.h"

#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

class ChangeListener;
class SqlStore;

// A record that is being recorded (by this or another process) cannot be deleted.
class RecordingBusyError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

class TBRASKDataModule : public QObject {
    Q_OBJECT
public:
    struct Battery {
        int ID = 0, Capacity = 0, Type = 0, Form = 0, Cells = 0, MaxCharge = -1, SelfDischarge = -1;
        QString Date, Brand, Info;
    };
    struct Service {
        int ID = 0, BatteryID = 0;
        QString Date, Time;
        int Program = 0;
    };
    struct CurveKey {
        int ServiceID = 0;
        int Kind = 0;   // 0 voltage, 1 current, 2 capacity
        QString Name;
    };

    // databaseDirectory may also be a PostgreSQL URL (a lab database shared
    // by several PCs; see SqlStore). Opens braskon.db in the directory, creating the empty database (tables and
    // the counters "batteries" and "services" at 1) when the file is missing.
    // Throws DatabaseError when it cannot be opened, is damaged, or lacks a
    // table or column, DatabaseBusyError when another program holds it
    // locked; such a file is not changed. A file that cannot be written opens
    // read-only.
    explicit TBRASKDataModule(const QString &databaseDirectory, QObject *parent = nullptr);
    ~TBRASKDataModule() override;

    // The folder DataLocation chooses when no --database option is given:
    // "database" beside the program when it exists, else the user's data folder.
    static QString DefaultDatabaseDirectory();
    QString DatabaseFile() const;
    // The file could not be opened for writing: lists, exports and diagrams
    // work, every change fails with a DatabaseError saying why.
    bool IsReadOnly() const;

    // Batteries
    void ReopenBatteries(int id);
    void SortBatteries(const QString &column);   // "F_ID", "F_Capacity", "F_Type", "F_Brand"
    int PeekBatteryID();
    void AdvanceBatteryID();
    void InsertBattery(Battery &battery);
    bool LoadBattery(Battery &battery);
    void ReadSelectedBattery(Battery &battery);
    int SelectedBatteryID();
    int SelectedBatteryVoltage();
    void DeleteSelectedBattery();

    // Treatments
    void ReopenServices(int id);
    int AllocateServiceID();
    void InsertService(Service &service);
    // The treatment's row and the rows of its steps ("folgt", duration and
    // capacity 0) in one transaction: all or none, and the counter advances
    // only when everything is stored. Fills the new ID into the record and
    // into every step's ServiceID; step numbers are taken as given.
    void InsertServiceWithSteps(Service &service, std::vector<StepRecord> &steps);
    bool LoadService(Service &service);
    int SelectedServiceID();
    void DeleteSelectedService();
    // Selects the treatment's battery and the treatment, then DeleteSelectedService.
    // False when there is no such treatment.
    bool DeleteService(int serviceID);

    // Steps
    void InsertStep(StepRecord &step);
    bool GetSubService(StepRecord &step);
    bool StoreStepResult(StepRecord &step);
    void ReopenSteps();

    // Samples
    void InsertSample(const Sample &sample);
    // Many samples in one durable commit (one disk sync instead of one per
    // sample), all or none; for bulk writers such as the logger readout.
    void InsertSamples(const QVector<Sample> &samples);
    void SelectSamples(int serviceID);
    bool FirstSample();
    bool NextSample();
    void GetSample(Sample &sample);   // Capacity is not stored and left as it is
    // The treatment's last stored sample (Capacity left as it is); false when none.
    bool LastSample(int serviceID, Sample &sample);
    // A stored sample with its place in the table, so that a reader can go on
    // where it stopped (keys grow in the order the samples were stored).
    struct StoredSample {
        qint64 Key = 0;
        Sample Values;
    };
    // The treatment's samples stored after the one with key afterKey (0: all),
    // in the order they were stored.
    QVector<StoredSample> SamplesAfter(int serviceID, qint64 afterKey);

    bool CurveName(CurveKey &key);

    // Running treatments, in the table "running" beside the five: who records
    // each (terminal, machine, process) with a heartbeat and the last answered
    // poll, so that a treatment whose recorder died is found and can be resumed.
    // The table is created by the first registration; a database without it
    // simply has no running treatment (and a read-only one is never changed).
    struct RunningTreatment {
        int ServiceID = 0;
        QString Terminal, Host;
        qint64 Pid = 0;
        QString Identity;          // tells the process from a later one with the same id
        qint64 Heartbeat = 0;      // s since the epoch
        int Step = 0;              // 0-based current step
        int StepTime = 0;          // s into that step at the last answered poll
        int Capacity = 0;          // mAh at the last answered poll
        int ChargeCurrent = 0, DischargeCurrent = 0;
        QString Limits;            // user program: the steps' time limits, "600,0"
    };
    enum class RecordingState { Running, Interrupted, Ended };
    // Registers (or takes over) the treatment with this process as its owner.
    void RegisterRunning(RunningTreatment &treatment);
    // The heartbeat of one poll; with an answer also the step, time and capacity.
    void UpdateRunning(int serviceID, int step, int stepTime, int capacity);
    void TouchRunning(int serviceID);
    void UnregisterRunning(int serviceID);
    QVector<RunningTreatment> RunningTreatments();
    bool FindRunning(RunningTreatment &treatment);   // by ServiceID
    static bool OwnerAlive(const RunningTreatment &treatment);
    // Whether this very process is the registered recorder.
    static bool RecordedByThisProcess(const RunningTreatment &treatment);
    // Running: registered, owner alive; Interrupted: registered, owner gone;
    // Ended: not registered.
    RecordingState StateOf(int serviceID);
    // Runs work as one all-or-nothing transaction of this thread's connection.
    void InTransaction(const std::function<void()> &work);
    // The same, waiting at most busyWaitMs (instead of the usual busy
    // time-out) for a lock another program holds on the file; a recorder that
    // already knows the file is held retries with a short wait, so its polls
    // go on. DatabaseBusyError when the lock is not released in time.
    void InTransaction(const std::function<void()> &work, int busyWaitMs);

    // Sampling thresholds, in memory only
    int MinDeltaU() const;
    void SetMinDeltaU(int millivolts);
    int MinDeltaI() const;
    void SetMinDeltaI(int milliamps);

    // A lab database on a server, shared with other PCs.
    bool IsShared() const;
    // From now on the lists follow what other PCs change (RefreshLists within
    // about a second of their commit); needs the module thread's event loop.
    // Does nothing for a file.
    void FollowOtherPCs();
    // Re-reads the three lists, keeping the selected battery, treatment and
    // step where they still exist.
    void RefreshLists();

    // The list queries, for views (QTableView::setModel) and panels.
    QueryModel *BatteryQuery() const { return batteryQuery_.get(); }
    QueryModel *ServiceQuery() const { return serviceQuery_.get(); }
    QueryModel *SubServiceQuery() const { return subServiceQuery_.get(); }

    // The whole-module lock, for a caller that needs several operations in one piece.
    QRecursiveMutex &Lock() { return lock_; }

signals:
    // Current row of the battery list changed; the treatment list was narrowed.
    void SelectedBatteriesDataChange();
    // Current row of the treatment list changed; the step list was narrowed.
    void SelectedServicesDataChange();
    // Current row of the step list changed or the steps were re-read.
    void SelectedSubServicesDataChange();
    // A move of the battery list finished.
    void BatteryQueryAfterScroll();
    // Re-evaluate the enabling of battery resp. treatment commands.
    void BatteryCommandsChanged();
    void ServiceCommandsChanged();
    // Treatments were deleted (with a battery or on their own); views of
    // their records drop them.
    void ServicesDeleted();
    // Another PC (or another connection of this one) changed these tables of
    // a shared database; the lists were re-read already. Diagrams of running
    // treatments take new samples from here.
    void RecordsChanged(const QStringList &tables);

private:
    void batteriesCurrentChanged();
    void servicesCurrentChanged();
    void reopen(QueryModel *query, const QString &table, int id);
    void onModelThread(std::function<void()> work);
    int readCounter(const QString &name, bool forUpdate = false);
    void writeCounter(const QString &name, int value);
    void insertServiceRow(Service &service);
    void deleteServicesOfBattery(int batteryID);
    void deleteStepsOfService(int serviceID);
    void deleteSamplesOfService(int serviceID);
    bool hasRunningTable();
    // Throws RecordingBusyError when one of the treatments is recorded by a
    // live owner; drops the registrations of those whose owner is gone.
    void refuseWhileRecorded(const QVector<int> &serviceIDs, const QString &what);
    static void fillBattery(Battery &battery, const std::function<QVariant(const QString &)> &field);

    mutable QRecursiveMutex lock_;
    std::unique_ptr<SqlStore> store_;
    std::unique_ptr<QueryModel> batteryQuery_;
    std::unique_ptr<QueryModel> serviceQuery_;
    std::unique_ptr<QueryModel> subServiceQuery_;
    std::unique_ptr<ChangeListener> listener_;
    QVector<Sample> samples_;   // SampleQuery: the selected treatment's samples
    int sampleRow_ = -1;
    int minDeltaU_ = 10;
    int minDeltaI_ = 1;
    bool runningTable_ = false;
};
