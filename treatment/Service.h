#pragma once
// One treatment: one program run on one battery at one terminal, with its steps.
// Construction writes the treatment's row and all its step rows ("folgt");
// polling follows the terminal's function and writes step results and samples.

#include "treatment/PendingWrites.h"
#include "treatment/ServiceViews.h"
#include "database/RecordStore.h"
#include "database/Records.h"
#include "database/Texts.h"
#include "charger/Plausibility.h"
#include "charger/Terminal.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A treatment that cannot be started (unknown battery or terminal, no steps).
// Thrown before anything is written to the database.
class ServiceStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why a battery and the currents of a treatment cannot be put into the
// program message (type 8 bits signed, cells 8 bits, capacity and currents 16
// bits, all unsigned), in German; empty when they fit. Batteries beyond these
// limits may be stored, they only cannot be treated.
QString ProgramMessageProblem(const RecordStore::Battery &battery, const std::vector<int> &currents);

// Step function the terminal runs by its mode flags: Laden if bit 0 is set,
// else Warten if bit 1 is clear, else Entladen.
int FlagsToFunction(uint8_t modeFlags);

// How many device seconds pass in one second of this computer's clock: 1 for
// the chargers, more for braskon-sim's devices, which say so in the
// environment variable BRASKON_DEVICE_SPEED. Read at every call.
double DeviceSpeed();

// What an exchange that gave no reading means, naming the terminal and its
// port (German): "Lumo an COM1 hat den Befehl Start (0x15) abgelehnt (...)",
// "unverständliche Antwort von Lumo an COM1 auf Status (0x11): ...", "keine
// Antwort von Lumo an COM1 (/dev/ttyUSB0)". Empty for an accepted exchange.
QString FaultText(const Ohmrida::Reply &reply, const Ohmrida::Terminal &terminal);
// The same in a few words for a status line: "keine Antwort", "unverständliche
// Antwort", "Befehl abgelehnt".
QString FaultLabel(const Ohmrida::Reply &reply);

class Service {
public:
    enum State : uint8_t { New = 0, Running = 2, Ended = 3 };
    static constexpr int MaxUserSteps = 10;

    // Standard treatment (programs 1..5): creates the treatment's row and the
    // program's steps with the given currents (mA) in one transaction. Throws
    // ServiceStartError, before anything is written, for an unknown battery, a
    // program that has no steps or settings that do not fit the program
    // message; DatabaseError from the database (then nothing is stored).
    Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal,
            int program, int chargeCurrent, int dischargeCurrent);
    // User treatment (program 0) whose steps (1..10) are given by Function,
    // Parameter (mA) and TimeLimit (s): row and step rows in one transaction,
    // checked like a standard treatment.
    Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal,
            const std::vector<StepRecord> &steps);
    // User treatment (program 0) with room for stepCount steps (1..10), which
    // the caller then defines with SetStep(0..stepCount-1); the treatment's row
    // is written at once and each step's row by SetStep (prefer the
    // constructor above, which writes them together). Throws ServiceStartError
    // for an unknown battery, a step count out of range or a battery that does
    // not fit the program message.
    Service(RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal, int stepCount);
    // Where a running treatment stood, rebuilt from its stored rows after its
    // recorder was gone, so that it can be followed on (see Resume.h).
    struct RestorePoint {
        RecordStore::Service Record;
        std::vector<StepRecord> Steps;   // with their time limits
        int CurrentStep = 0;
        int TimeOffset = 0;
        int LastRecordedVoltage = 0, LastRecordedCurrent = 0;
        int LastStepTime = 0, LastCapacity = 0;
        // The current step's time at its last stored sample, and the capacity
        // the charger had counted by then (0, 0 without a stored sample).
        int SampleStepTime = 0, SampleCapacity = 0;
        int ChargeCurrent = 0, DischargeCurrent = 0;
    };
    // A running treatment from a restore point; writes nothing. Throws
    // ServiceStartError when the battery is gone.
    static std::unique_ptr<Service> Restore(RecordStore &database, const RestorePoint &point,
                                            const Ohmrida::Terminal &registryTerminal);
    // Frees the steps and the terminal copy; writes nothing.
    ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    // Defines step i and appends its row ("folgt") to table sub. Throws
    // ServiceStartError for a current that does not fit the program message.
    void SetStep(int index, int function, int current, int timeLimit);
    // Sets the result of step i and puts the write of its row among the
    // pending writes (a missing row is left alone when they are written).
    void UpdateStep(int index, int duration, int capacity, int state);

    // Starts the current step: loads and starts the program on the terminal
    // (every step of a user program, only the first of a standard one) and
    // marks the step "läuft". A terminal that refuses the stop, program or
    // start command ends the treatment instead: the step becomes "Fehler!" and
    // the terminal is stopped (Refused). When a command could not be sent at
    // all (the port held by another program past its wait), nothing counts as
    // started: the step stays as it was and the next poll sends the start
    // again (NotSent).
    enum class StartResult { Started, Refused, NotSent };
    StartResult Start();
    // Stops the terminal; the treatment has ended.
    void End();
    // End(), and the current step becomes "abgebrochen" with the last time and capacity.
    void Abort();
    // Function of the current step while running, Warten otherwise.
    int CurrentFunction() const;
    // One polling cycle: starts a new treatment (or a step whose start could
    // not be sent), reads the status, writes the log line, follows step
    // changes, keeps the sample when it changed enough. A step becomes "OK"
    // only with the time and capacity the charger reported for it: a step
    // that ends before any answered poll saw it running becomes
    // "abgebrochen" with nothing, as the recorder cannot vouch for it.
    // Step results and the sample go to the pending writes; Poll itself writes
    // nothing to the database (TryWritePending does), so a database failure
    // never cuts a poll short and the charger keeps being followed.
    //
    // Only a plausible answer is a reading (Plausibility.h: the program that
    // was loaded, the battery's voltage range, counters that carry on from the
    // last reading). Another one is logged with its bytes, counted, and asked
    // again (up to MaxStatusReads reads a poll). A step end, an error and a
    // reached time limit are taken only when a second answer confirms them.
    // Returns false when the poll got no reading (or the start could not be
    // sent): then no step changed, no sample was taken and the sample record
    // is left as it was; LastFault says why.
    bool Poll(Sample &sample);
    static constexpr int MaxStatusReads = 4;
    // Whether the last Poll got a reading.
    bool LastPollAnswered() const { return lastPollAnswered_; }
    // Whether the last Poll reached the charger at all; false when the port
    // could not be opened (held by another program past its wait, or gone).
    bool LastPollSent() const { return lastPollSent_; }
    // Why the last Poll got no reading, or why the terminal refused a command
    // of it (kind Ok: nothing went wrong; after a poll that got a reading, an
    // answer turned down on the way). Stays until the next Poll.
    const Ohmrida::Reply &LastFault() const { return fault_; }
    // Answers not taken since the start (implausible, or a step end that no
    // second answer confirmed).
    int RejectedAnswers() const { return rejectedAnswers_; }
    // The program the terminal was given for the running step, as its status
    // must echo it.
    Ohmrida::ProgramSettings LoadedSettings() const;

    // The step results and samples not yet in the database, in order.
    const PendingWrites &Pending() const { return writes_; }
    bool HasPendingWrites() const { return !writes_.Empty(); }
    // Writes all pending records in one transaction, waiting at most
    // busyWaitMs for a lock another program holds (negative: the usual busy
    // time-out). On failure nothing of them is written, they stay pending and
    // the write status says since when writing fails; true when nothing waits.
    bool TryWritePending(int busyWaitMs = -1);
    // The same, but a failure is thrown (DatabaseError), e.g. inside the
    // caller's own transaction.
    void WritePendingNow();
    // For a caller that writes several treatments in one transaction of its
    // own: writes the pending records without committing (throws), then is
    // told whether its commit went in (PendingCommitted) or not (PendingFailed).
    void WritePendingInto() { writes_.WriteTo(database_); }
    void PendingCommitted();
    void PendingFailed(const QString &reason) { noteWriteFailure(reason); }
    // Whether writing fails, since when, why and what waits.
    WriteStatus WriteState() const;
    // Samples and step results written only after an outage, since the start.
    int LateSamples() const { return lateSamples_; }
    int LateSteps() const { return lateSteps_; }

    // Where Poll writes its log line (not owned; nullptr: no log).
    void SetLog(std::ostream *log) { log_ = log; }

    int ID() const { return service_.ID; }
    int BatteryID() const { return battery_.ID; }
    int Program() const { return service_.Program; }
    const RecordStore::Battery &Battery() const { return battery_; }
    const RecordStore::Service &ServiceRecord() const { return service_; }
    int StepCount() const { return static_cast<int>(steps_.size()); }
    const StepRecord &Step(int index) const { return steps_.at(static_cast<size_t>(index)); }
    int CurrentStep() const { return currentStep_; }
    int ChargeCurrent() const { return chargeCurrent_; }
    int DischargeCurrent() const { return dischargeCurrent_; }
    bool Changed() const { return changed_; }
    State ServiceState() const { return state_; }
    int LastRecordedVoltage() const { return lastRecordedVoltage_; }
    int LastRecordedCurrent() const { return lastRecordedCurrent_; }
    int LastCapacity() const { return lastCapacity_; }
    int LastStepTime() const { return lastStepTime_; }
    int TimeOffset() const { return timeOffset_; }
    Ohmrida::Terminal &Terminal() const { return *terminal_; }

private:
    // Loads the battery and copies the terminal; writes nothing.
    struct Common {};
    Service(Common, RecordStore &database, int batteryID, const Ohmrida::Terminal &registryTerminal, int program);
    // An empty treatment that Restore fills in.
    explicit Service(RecordStore &database) : database_(database) {}
    void checkFits(const std::vector<int> &currents) const;
    void insertRows();
    // Stop, program, start; a refusal or a command that could not be sent
    // ends the sequence (a refusal is kept in fault_).
    StartResult loadAndStart(const Ohmrida::ProgramSettings &settings);
    void fail(int duration, int capacity);
    void writeLogLine(const Ohmrida::StatusValues *values);
    void logRejected(const Ohmrida::Reply &reply);
    // A status answer that passed every check, and when it came.
    struct Reading {
        Ohmrida::StatusValues Values;
        std::chrono::steady_clock::time_point At;
        std::string Disputed;   // why it does not carry on from the last reading; empty when it does
    };
    // Reads until a reading is found (a step end confirmed by a second one)
    // or the reads of this poll are used up; nullopt then, with fault_ set.
    std::optional<Reading> readPlausible();
    // One status read and its checks of the answer itself; nullopt (fault_
    // set, logged, counted) when it fails them.
    std::optional<Reading> readOnce();
    // Why the counters do not carry on from `from` (the last reading's
    // counters and moment when nullptr); empty when they do.
    std::string checkProgress(const Ohmrida::StatusValues &values, std::chrono::steady_clock::time_point at,
                              const Reading *from) const;
    void reject(const Ohmrida::Reply &reply);
    // Whether the reading ends the step: an error, another function, a time limit.
    bool endsStep(const Ohmrida::StatusValues &values) const;
    // The counters from here on start from the reading (or from 0 for a new step).
    void keepProgress(int function, const Ohmrida::Plausible::Progress &progress,
                      std::chrono::steady_clock::time_point at, bool timed = true);
    void noteCommand(const Ohmrida::Reply &reply);
    void noteWriteFailure(const QString &reason);
    bool isUserProgram() const { return service_.Program == 0; }

    RecordStore &database_;
    RecordStore::Battery battery_;
    RecordStore::Service service_;
    std::vector<StepRecord> steps_;
    int currentStep_ = 0;
    int chargeCurrent_ = 0;
    int dischargeCurrent_ = 0;
    bool changed_ = false;
    State state_ = New;
    int lastRecordedVoltage_ = 0;
    int lastRecordedCurrent_ = 0;
    int lastCapacity_ = 0;
    int lastStepTime_ = 0;
    int timeOffset_ = 0;
    std::unique_ptr<Ohmrida::Terminal> terminal_;
    std::ostream *log_ = nullptr;
    bool lastPollAnswered_ = false;
    bool lastPollSent_ = false;
    bool startDue_ = false;    // the current step's start is still to be sent
    bool stepSeen_ = false;    // an answered poll saw the current step running
    Ohmrida::Reply fault_{Ohmrida::Reply::Ok, 0, {}, {}};
    int rejectedAnswers_ = 0;
    // Where the counters of the running function stood at the last reading.
    int progressFunction_ = Warten;
    Ohmrida::Plausible::Progress progress_;
    std::chrono::steady_clock::time_point progressAt_;
    bool progressTimed_ = false;   // false after a restore: the last reading's moment is unknown
    PendingWrites writes_;
    WriteStatus writeStatus_;
    int lateSamples_ = 0;
    int lateSteps_ = 0;
};
