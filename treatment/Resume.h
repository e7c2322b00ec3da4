#pragma once
// Treatments whose recorder was killed or lost power: finding them, rebuilding
// where they stood from their stored rows, deciding whether the charger still
// runs them, and closing them when it does not.
//
// A treatment is taken up again only when the charger's status shows it
// running the treatment's own program (same program, battery type, cells,
// capacity and currents; for a user program the current step's one-step
// program) without an error, and still the same run: its step time and
// capacity not below the last stored ones. Then the samples' times carry on
// from the steps already finished and the step's own time as the charger
// counts it. A user program resumes its current step with what is left of its
// time limit (the charger's step time goes on counting while nobody watches).
// Otherwise the open steps are marked "abgebrochen", the current one at its
// last stored sample. The status that decides is read until two plausible
// answers agree, so that a garbled answer never closes a running treatment.

#include "treatment/Service.h"

#include <QString>

#include <vector>

namespace Resume {

// The question the main window asks for an interrupted treatment.
QString Question(const RunningTreatment &row, int batteryID);
// The three answers to it, as the window's buttons say them.
QString ContinueText();
QString StopText();
QString LaterText();

// Registered treatments of this machine whose recorder is gone.
std::vector<RunningTreatment> Interrupted(RecordReader &database);

// Where the treatment stood: its record, steps (with the registered time
// limits), the current step (the first one not finished), the finished steps'
// time, the last stored sample's values and the last answered poll's time and
// capacity. Throws ServiceStartError when the treatment's records are gone.
Service::RestorePoint Load(RecordReader &database, const RunningTreatment &row);

// What the charger does with the treatment.
enum class Verdict {
    Runs,         // the same run goes on (or has moved on to a later step)
    Restarted,    // the same program, but its counters began again
    NotRunning,   // idle, an error, or another program
    NoAnswer      // no two plausible answers agreed
};
// The verdict on one status answer.
Verdict Judge(const Service::RestorePoint &point, const BatteryRecord &battery,
              const Ohmrida::StatusValues &values, const Ohmrida::ProgramSettings &settings);
// Asks the terminal until two plausible answers give the same verdict (at
// most Service::MaxStatusReads reads); `fault` gets the last failed exchange.
Verdict AskCharger(Ohmrida::Terminal &terminal, const Service::RestorePoint &point,
                   const BatteryRecord &battery, Ohmrida::Reply &fault);

// Marks the open steps "abgebrochen" (the current one with its time at the
// last stored sample and the capacity the charger counted up to then, the
// later ones with 0) and drops the registration, in one transaction.
void Close(RecordStore &database, const RunningTreatment &row);

// The time limits of a user program's steps as registered ("600,0") and back.
QString LimitsText(const Service &service);

} // namespace Resume
