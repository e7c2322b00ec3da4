#pragma once
// A battery's life in figures: for every treatment the charge and discharge
// capacities its steps measured, and how the discharge capacity (what the
// pack still delivers) goes over time. Read from the treatment and step rows
// alone, never from the samples, so a battery with hundreds of treatments in
// a database of millions of samples is read in milliseconds.

#include "database/Records.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <QVector>

class RecordReader;

// The capacities a treatment measured, in mAh: those of its last charge and
// its last discharge step that finished "OK" (a step that failed or was
// stopped measured nothing whole); -1 when there is none of that kind.
struct MeasuredCapacities {
    int Charged = -1;
    int Discharged = -1;
};
MeasuredCapacities CapacitiesOfSteps(const QVector<StepRecord> &steps);

// How a treatment ended, by its steps: "OK" when all are OK, "Fehler" when one
// failed, else "abgebrochen" (stopped, or steps still open); "läuft" while one runs.
QString ResultOfSteps(const QVector<StepRecord> &steps);

// A share of the nominal capacity in whole percent (rounded), -1 when unknown.
int PercentOfNominal(int mAh, int nominal);

struct HistoryEntry {
    int ServiceID = 0;
    QDate Date;
    QTime Time;
    int Program = 0;
    MeasuredCapacities Capacities;
    QString Result;
};

struct BatteryHistory {
    BatteryRecord Battery;
    QVector<HistoryEntry> Entries;   // oldest first
    // The latest measured discharge capacity against the nominal one, in
    // percent; -1 while no discharge was measured.
    int Health() const;
};

// A straight line through the measured discharge capacities over time (least
// squares): mAh = Intercept + Slope * days since the first treatment.
struct CapacityTrend {
    bool Valid = false;   // needs two measurements on different days
    QDate Origin;
    double Intercept = 0;
    double Slope = 0;     // mAh per day
    double At(const QDate &date) const { return Intercept + Slope * double(Origin.daysTo(date)); }
};
CapacityTrend DischargeTrend(const BatteryHistory &history);

// Fills history for the battery; false (history untouched) when there is no
// such battery. Throws DatabaseError when the database cannot be read.
bool ReadBatteryHistory(RecordReader &reader, int batteryID, BatteryHistory &history);

// The history as the command line prints it: a title line, then one line per
// treatment with date, time, ID, program, capacities and shares, result; a
// closing line with the health and the trend.
QString HistoryText(const BatteryHistory &history);
// The same rows as CSV (RFC 4180: comma, decimal point, a header line).
QString HistoryCsv(const BatteryHistory &history);
