#include "database/BatteryHistory.h"

#include "database/DatabaseError.h"
#include "database/RecordStore.h"
#include "database/SqlStore.h"
#include "database/Texts.h"

#include <QSqlQuery>
#include <QStringList>

#include <algorithm>
#include <cmath>

MeasuredCapacities CapacitiesOfSteps(const QVector<StepRecord> &steps)
{
    MeasuredCapacities measured;
    for (const StepRecord &step : steps) {
        if (step.State != OK)
            continue;
        if (step.Function == Laden)
            measured.Charged = step.Capacity;
        else if (step.Function == Entladen)
            measured.Discharged = step.Capacity;
    }
    return measured;
}

QString ResultOfSteps(const QVector<StepRecord> &steps)
{
    bool allOK = !steps.isEmpty();
    for (const StepRecord &step : steps) {
        if (step.State == Fehler)
            return StateName(Fehler).remove(QLatin1Char('!'));
        if (step.State == Laeuft)
            return StateName(Laeuft);
        allOK = allOK && step.State == OK;
    }
    return allOK ? StateName(OK) : StateName(Abgebrochen);
}

int PercentOfNominal(int mAh, int nominal)
{
    if (mAh < 0 || nominal <= 0)
        return -1;
    return int(std::lround(100.0 * mAh / nominal));
}

int BatteryHistory::Health() const
{
    for (auto entry = Entries.crbegin(); entry != Entries.crend(); ++entry) {
        if (entry->Capacities.Discharged >= 0)
            return PercentOfNominal(entry->Capacities.Discharged, Battery.Capacity);
    }
    return -1;
}

CapacityTrend DischargeTrend(const BatteryHistory &history)
{
    CapacityTrend trend;
    QVector<std::pair<double, double>> points;
    for (const HistoryEntry &entry : history.Entries) {
        if (entry.Capacities.Discharged < 0 || !entry.Date.isValid())
            continue;
        if (!trend.Origin.isValid())
            trend.Origin = entry.Date;
        points.append({double(trend.Origin.daysTo(entry.Date)), double(entry.Capacities.Discharged)});
    }
    const auto n = static_cast<double>(points.size());
    if (n < 2)
        return trend;
    double sumX = 0, sumY = 0;
    for (const auto &[x, y] : points) {
        sumX += x;
        sumY += y;
    }
    const double meanX = sumX / n, meanY = sumY / n;
    double sxx = 0, sxy = 0;
    for (const auto &[x, y] : points) {
        sxx += (x - meanX) * (x - meanX);
        sxy += (x - meanX) * (y - meanY);
    }
    if (sxx <= 0)
        return trend;   // all on one day: no direction to tell
    trend.Valid = true;
    trend.Slope = sxy / sxx;
    trend.Intercept = meanY - trend.Slope * meanX;
    return trend;
}

bool ReadBatteryHistory(RecordReader &reader, int batteryID, BatteryHistory &history)
{
    BatteryRecord battery;
    battery.ID = batteryID;
    if (!reader.LoadBattery(battery))
        return false;
    // One pass over the battery's treatments with their steps (both by index).
    QSqlQuery rows = reader.Store().exec(
        QStringLiteral("SELECT v.F_ID, v.F_Date, v.F_Time, v.F_Program, s.F_Step, s.F_Function, s.F_Capacity, "
                       "s.F_State FROM services v LEFT JOIN sub s ON s.F_ServiceID = v.F_ID "
                       "WHERE v.F_Battery = ? ORDER BY v.F_ID, s.F_Step"),
        {batteryID});
    rows.setForwardOnly(true);
    BatteryHistory read;
    read.Battery = battery;
    QVector<StepRecord> steps;
    const auto close = [&] {
        if (read.Entries.isEmpty())
            return;
        read.Entries.last().Capacities = CapacitiesOfSteps(steps);
        read.Entries.last().Result = ResultOfSteps(steps);
        steps.clear();
    };
    while (rows.next()) {
        const int serviceID = rows.value(0).toInt();
        if (read.Entries.isEmpty() || read.Entries.last().ServiceID != serviceID) {
            close();
            HistoryEntry entry;
            entry.ServiceID = serviceID;
            entry.Date = QDate::fromString(rows.value(1).toString().left(10), Qt::ISODate);
            entry.Time = QTime::fromString(rows.value(2).toString().left(8), Qt::ISODate);
            entry.Program = rows.value(3).toInt();
            read.Entries.append(entry);
        }
        if (rows.value(4).isNull())
            continue;
        StepRecord step;
        step.ServiceID = serviceID;
        step.Step = rows.value(4).toInt();
        step.Function = rows.value(5).toInt();
        step.Capacity = rows.value(6).toInt();
        step.State = rows.value(7).toInt();
        steps.append(step);
    }
    close();
    history = std::move(read);
    return true;
}

namespace {

QString percentText(int percent)
{
    return percent < 0 ? QStringLiteral("-") : QStringLiteral("%1 %").arg(percent);
}

QString csvField(QString text)
{
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')))
        return QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

QString csvNumber(int value)
{
    return value < 0 ? QString() : QString::number(value);
}

} // namespace

QString HistoryText(const BatteryHistory &history)
{
    const BatteryRecord &battery = history.Battery;
    QString text = QStringLiteral("Akku %1%2, %3 mAh %4, %5 Behandlung%6\n")
                       .arg(battery.ID)
                       .arg(battery.Brand.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(battery.Brand))
                       .arg(battery.Capacity)
                       .arg(TypeName(battery.Type))
                       .arg(history.Entries.size())
                       .arg(history.Entries.size() == 1 ? QString() : QStringLiteral("en"));
    text += QStringLiteral("Datum       Uhrzeit   Aufz.  Programm               geladen      entladen     Ergebnis\n");
    for (const HistoryEntry &entry : history.Entries) {
        const MeasuredCapacities &c = entry.Capacities;
        const auto figure = [&](int mAh) {
            return (mAh < 0 ? QStringLiteral("-") : QString::number(mAh) + QStringLiteral(" mAh")).rightJustified(8)
                   + QLatin1Char(' ')
                   + (mAh < 0 ? QString() : QStringLiteral("%1 %").arg(PercentOfNominal(mAh, battery.Capacity)))
                         .leftJustified(4);
        };
        text += QStringLiteral("%1  %2  %3  %4 %5 %6 %7\n")
                    .arg(entry.Date.toString(Qt::ISODate).leftJustified(10))
                    .arg(entry.Time.toString(QStringLiteral("HH:mm:ss")).leftJustified(8))
                    .arg(QString::number(entry.ServiceID).rightJustified(5))
                    .arg(ProgramName(entry.Program).leftJustified(22))
                    .arg(figure(c.Charged))
                    .arg(figure(c.Discharged))
                    .arg(entry.Result);
    }
    text += QStringLiteral("Zustand: %1 der Nennkapazität").arg(percentText(history.Health()));
    const CapacityTrend trend = DischargeTrend(history);
    if (trend.Valid)
        text += QStringLiteral(", Trend %1%2 mAh je 100 Tage")
                    .arg(trend.Slope >= 0 ? QStringLiteral("+") : QString())
                    .arg(std::lround(trend.Slope * 100));
    text += QLatin1Char('\n');
    return text;
}

QString HistoryCsv(const BatteryHistory &history)
{
    const int nominal = history.Battery.Capacity;
    QStringList lines{QStringLiteral("Datum,Uhrzeit,Aufzeichnung,Programm,Geladen_mAh,Geladen_Prozent,"
                                     "Entladen_mAh,Entladen_Prozent,Ergebnis")};
    for (const HistoryEntry &entry : history.Entries) {
        const MeasuredCapacities &c = entry.Capacities;
        lines << QStringList{entry.Date.toString(Qt::ISODate),
                             entry.Time.toString(QStringLiteral("HH:mm:ss")),
                             QString::number(entry.ServiceID),
                             csvField(ProgramName(entry.Program)),
                             csvNumber(c.Charged),
                             csvNumber(PercentOfNominal(c.Charged, nominal)),
                             csvNumber(c.Discharged),
                             csvNumber(PercentOfNominal(c.Discharged, nominal)),
                             csvField(entry.Result)}
                     .join(QLatin1Char(','));
    }
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}
