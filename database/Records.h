#pragma once
// Plain records exchanged between the database, the treatment engine and the
// windows: rows of the five tables and of the registry of running
// treatments, as values. TBRASKDataModule and RecordStore also name them as
// members (TBRASKDataModule::Battery, ...), the names older code uses.

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One step of a treatment: a row of table sub plus its time limit (not stored).
struct StepRecord {
    int ServiceID = 0;
    int Step = 0;       // 1-based
    int Function = 0;   // StepFunction
    int Parameter = 0;  // current in mA
    int Duration = 0;   // s
    int Capacity = 0;   // mAh
    int State = 0;      // StepState
    int TimeLimit = 0;  // s, 0 = none
};

// One measured point: a row of table samples plus the capacity (not stored).
struct Sample {
    int ServiceID = 0;
    int Step = 0;       // 1-based
    int Time = 0;       // s since the treatment started
    int Voltage = 0;    // mV
    int Current = 0;    // mA
    int Capacity = 0;   // mAh
};

// A row of table batteries; Date is the stored day in the user's short format.
struct BatteryRecord {
    int ID = 0, Capacity = 0, Type = 0, Form = 0, Cells = 0, MaxCharge = -1, SelfDischarge = -1;
    QString Date, Brand, Info;
};

// A row of table services; Date and Time in the user's formats.
struct ServiceRecord {
    int ID = 0, BatteryID = 0;
    QString Date, Time;
    int Program = 0;
};

// Which treatment and which quantity a diagram curve shows, and its name.
struct CurveKey {
    int ServiceID = 0;
    int Kind = 0;   // 0 voltage, 1 current, 2 capacity
    QString Name;
};

// A stored sample with its place in the table, so that a reader can go on
// where it stopped (keys grow in the order the samples were stored).
struct StoredSample {
    qint64 Key = 0;
    Sample Values;
};

// A row of the registry of running treatments (table "running" beside the
// five): who records the treatment (terminal, machine, process) with a
// heartbeat and the last answered poll, so that a treatment whose recorder
// died is found and can be taken up again.
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

// Running: registered, owner alive; Interrupted: registered, owner gone;
// Ended: not registered.
enum class RecordingState { Running, Interrupted, Ended };

// A battery added with an ID the store chose: the proposal the user kept, or
// the next free ID when another program took the proposal meanwhile.
struct AddedBattery {
    int ID = 0;
    int Proposal = 0;   // 0: none was shown
    bool ProposalTaken() const { return Proposal != 0 && ID != Proposal; }
};

// What a writer changed, so that the lists showing those rows read them again.
struct RecordChange {
    enum Kind { BatteryAdded, BatteryChanged, BatteryDeleted, ServiceAdded, ServiceDeleted, StepsChanged };
    Kind What = StepsChanged;
    int BatteryID = 0;
    int ServiceID = 0;
};

Q_DECLARE_METATYPE(StepRecord)
Q_DECLARE_METATYPE(Sample)
Q_DECLARE_METATYPE(BatteryRecord)
Q_DECLARE_METATYPE(AddedBattery)
Q_DECLARE_METATYPE(RecordChange)
