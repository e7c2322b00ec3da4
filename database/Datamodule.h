#pragma once
// TBRASKDataModule: the windows' data module. It keeps the lists the main
// window shows (battery -> treatments -> steps, each narrowed on every change
// of its master's current row) with their current rows, the sample iteration
// of diagrams and exports, and the reads the windows make, all through the
// connection of the thread it lives on (the window thread). It writes nothing:
// every change of the records is a request to the treatment engine, whose
// RecordStore writes on its own thread, and whose notices (Follow) make the
// lists read again.
//
// SQLite's write-ahead log lets this connection read beside a writer, and
// PostgreSQL's MVCC does the same; the connection waits only briefly for a
// lock another program holds (ReadWaitMs), so a locked database makes a read
// fail (DatabaseBusyError) instead of holding up the window.

#include "database/DatabaseError.h"
#include "database/QueryModel.h"
#include "database/RecordStore.h"
#include "database/Records.h"
#include "database/Texts.h"

#include <QObject>
#include <QTimer>
#include <QString>
#include <QVector>

#include <memory>

class ChangeListener;
class SqlStore;

class TBRASKDataModule : public QObject {
    Q_OBJECT
public:
    using Battery = BatteryRecord;
    using Service = ServiceRecord;
    using CurveKey = ::CurveKey;
    using RunningTreatment = ::RunningTreatment;
    using StoredSample = ::StoredSample;
    using RecordingState = ::RecordingState;

    // How long a read of the windows waits for a lock another program holds.
    static constexpr int ReadWaitMs = 30;

    // databaseDirectory may also be a PostgreSQL URL (a lab database shared
    // by several PCs; see SqlStore). Opens braskon.db in the directory,
    // creating the empty database (tables and the counters "batteries" and
    // "services" at 1) when the file is missing. Throws DatabaseError when it
    // cannot be opened, is damaged, or lacks a table or column,
    // DatabaseBusyError when another program holds it locked; such a file is
    // not changed. A file that cannot be written opens read-only.
    explicit TBRASKDataModule(const QString &databaseDirectory, QObject *parent = nullptr);
    // On a store opened already (shared with the treatment engine).
    explicit TBRASKDataModule(std::shared_ptr<SqlStore> store, QObject *parent = nullptr);
    ~TBRASKDataModule() override;

    // The folder DataLocation chooses when no --database option is given:
    // "database" beside the program when it exists, else the user's data folder.
    static QString DefaultDatabaseDirectory();
    QString DatabaseFile() const;
    // The file could not be opened for writing: lists, exports and diagrams
    // work, every change fails with a DatabaseError saying why.
    bool IsReadOnly() const;
    // A lab database on a server, shared with other PCs.
    bool IsShared() const;
    const std::shared_ptr<SqlStore> &SharedStore() const;
    // The reads of this module's thread that are not list operations.
    RecordReader &Reader() const { return *reader_; }

    // ---- the lists ----
    void ReopenBatteries(int id);
    // The order of a list, by a column it shows (its calculated text columns
    // order by their stored codes); ties keep the key order. Reads the list
    // again; throws DatabaseError for a column that cannot order it.
    enum class List { Batteries, Services, Steps };
    void SortList(List list, const QString &column, Qt::SortOrder order = Qt::AscendingOrder);
    QString SortColumn(List list) const;
    Qt::SortOrder SortOrder(List list) const;
    void SortBatteries(const QString &column) { SortList(List::Batteries, column); }
    void ReopenServices(int id);
    void ReopenSteps();
    // Re-reads the three lists, keeping the selected battery, treatment and
    // step where they still exist.
    void RefreshLists();
    // From now on the lists follow what other PCs and programs change
    // (RefreshLists within about a second of their commit): on a server by
    // its notices, on a file by SQLite's count of other connections' commits
    // (PRAGMA data_version), looked at every FileWatchMs. Needs this thread's
    // event loop.
    void FollowOtherPCs();
    static constexpr int FileWatchMs = 1000;
    // What the lists show, in short: differs whenever a list would.
    QString ListsFingerprint();
    // A writer (the treatment engine) changed these records: the lists that
    // show them read again, a new battery or treatment becomes the selected
    // one, and deleted treatments leave the diagrams (ServicesDeleted).
    void Follow(const RecordChange &change);

    void ReadSelectedBattery(Battery &battery);
    int SelectedBatteryID();
    int SelectedBatteryVoltage();
    int SelectedServiceID();

    QueryModel *BatteryQuery() const { return batteryQuery_.get(); }
    QueryModel *ServiceQuery() const { return serviceQuery_.get(); }
    QueryModel *SubServiceQuery() const { return subServiceQuery_.get(); }

    // ---- reads ----
    int PeekBatteryID() { return reader_->PeekBatteryID(); }
    bool LoadBattery(Battery &battery) { return reader_->LoadBattery(battery); }
    bool LoadService(Service &service) { return reader_->LoadService(service); }
    bool GetSubService(StepRecord &step) { return reader_->GetSubService(step); }
    bool CurveName(CurveKey &key) { return reader_->CurveName(key); }
    QVector<StoredSample> SamplesAfter(int serviceID, qint64 afterKey)
    {
        return reader_->SamplesAfter(serviceID, afterKey);
    }
    QVector<RunningTreatment> RunningTreatments() { return reader_->RunningTreatments(); }
    bool FindRunning(RunningTreatment &treatment) { return reader_->FindRunning(treatment); }
    RecordingState StateOf(int serviceID) { return reader_->StateOf(serviceID); }
    static bool OwnerAlive(const RunningTreatment &treatment) { return RecordReader::OwnerAlive(treatment); }

    // SampleQuery: the samples of one treatment, read at once, then walked.
    void SelectSamples(int serviceID);
    bool FirstSample();
    bool NextSample();
    void GetSample(Sample &sample);   // Capacity is not stored and left as it is

    // Sampling thresholds, in memory only; the recorder gets a copy of every
    // change (SamplingThresholdsChanged).
    int MinDeltaU() const { return minDeltaU_; }
    void SetMinDeltaU(int millivolts);
    int MinDeltaI() const { return minDeltaI_; }
    void SetMinDeltaI(int milliamps);

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
    void SamplingThresholdsChanged(int minDeltaU, int minDeltaI);

private:
    void createLists();
    void batteriesCurrentChanged();
    void servicesCurrentChanged();
    void reopen(QueryModel *query, const QString &table, int id);
    QString orderClause(List list) const;
    void setBatterySql();

    struct Order {
        QString column;
        Qt::SortOrder order = Qt::AscendingOrder;
    };
    Order orders_[3] = {{QStringLiteral("F_ID")}, {QStringLiteral("F_ID")}, {QStringLiteral("F_Step")}};

    std::unique_ptr<RecordReader> reader_;
    std::unique_ptr<QueryModel> batteryQuery_;
    std::unique_ptr<QueryModel> serviceQuery_;
    std::unique_ptr<QueryModel> subServiceQuery_;
    std::unique_ptr<ChangeListener> listener_;
    void followFile();
    void checkFile(bool report);
    std::unique_ptr<QTimer> fileWatch_;
    qint64 dataVersion_ = -1;
    QString listsFingerprint_;
    QVector<Sample> samples_;   // SampleQuery: the selected treatment's samples
    int sampleRow_ = -1;
    int minDeltaU_ = 10;
    int minDeltaI_ = 1;
};
