#include "treatment/TreatmentNotices.h"

#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include "database/BatteryHistory.h"
#include "database/Texts.h"

#include <QProcess>
#include <QStringList>

namespace {

QString stepsText(const QVector<StepRecord> &steps)
{
    QStringList parts;
    for (const StepRecord &step : steps)
        parts << QStringLiteral("%1 %2 %3 %4 mAh")
                     .arg(step.Step)
                     .arg(FunctionName(step.Function), StateName(step.State))
                     .arg(step.Capacity);
    return parts.join(QStringLiteral("; "));
}

QString figure(int mAh, int nominal)
{
    const int percent = PercentOfNominal(mAh, nominal);
    return percent < 0 ? QStringLiteral("%1 mAh").arg(mAh) : QStringLiteral("%1 mAh (%2 %)").arg(mAh).arg(percent);
}

} // namespace

TTreatmentNotices::TTreatmentNotices(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<TreatmentNotice>();
}

void TTreatmentNotices::Follow(TTreatmentEngine &engine)
{
    connect(&engine, &TTreatmentEngine::TreatmentStarted, this, &TTreatmentNotices::Started);
    connect(&engine, &TTreatmentEngine::Polled, this, [this](const PollReport &report) { Polled(report); });
    connect(&engine, &TTreatmentEngine::TreatmentStopped, this, [this](int, int serviceID) { Stopped(serviceID); });
}

void TTreatmentNotices::Started(const TreatmentSetup &setup)
{
    Watched &watched = watched_[setup.ServiceID];
    watched.Setup = setup;
    watched.Steps = setup.Steps;
    ended_.erase(setup.ServiceID);
}

QString TTreatmentNotices::who(const Watched &watched) const
{
    const TreatmentSetup &setup = watched.Setup;
    QString battery = QStringLiteral("Akku %1").arg(setup.BatteryID);
    if (!setup.BatteryName.isEmpty())
        battery += QStringLiteral(" (%1)").arg(setup.BatteryName);
    return QStringLiteral("%1 an %2").arg(battery, setup.Terminal);
}

void TTreatmentNotices::Polled(const PollReport &report, const QDateTime &now)
{
    const auto found = watched_.find(report.ServiceID);
    if (found == watched_.end())
        return;
    Watched &watched = found->second;
    if (!report.Steps.isEmpty())
        watched.Steps = report.Steps;

    // A charger's silence counts only for polls that reached its port.
    if (report.Polled && report.Answered) {
        watched.SilenceNoticed = false;
    } else if (report.Polled && report.Sent && report.SilentSeconds >= AlarmSeconds && !watched.SilenceNoticed
               && report.State != Service::Ended) {
        watched.SilenceNoticed = true;
        TreatmentNotice notice;
        notice.What = TreatmentNotice::ChargerSilent;
        notice.ServiceID = report.ServiceID;
        notice.Title = QStringLiteral("Ladegerät antwortet nicht");
        notice.Text = QStringLiteral("%1: seit %2 keine Antwort (Behandlung %3).")
                          .arg(who(watched), DurationText(report.SilentSeconds))
                          .arg(report.ServiceID);
        emit Noticed(notice);
    }

    if (!report.Write.Failing) {
        watched.SavingNoticed = false;
    } else if (!watched.SavingNoticed && report.Write.Since.isValid()
               && report.Write.Since.secsTo(now) >= AlarmSeconds) {
        watched.SavingNoticed = true;
        TreatmentNotice notice;
        notice.What = TreatmentNotice::SavingFailed;
        notice.ServiceID = report.ServiceID;
        notice.Title = QStringLiteral("Speichern fehlgeschlagen");
        notice.Text = QStringLiteral("%1: %2. %3")
                          .arg(who(watched), WriteStatusText(report.Write), report.Write.Reason)
                          .trimmed();
        emit Noticed(notice);
    }

    if (report.State == Service::Ended)
        ended(watched, false);
}

void TTreatmentNotices::Stopped(int serviceID)
{
    const auto found = watched_.find(serviceID);
    if (found == watched_.end())
        return;
    // A stop makes the running step "abgebrochen" with what it reached.
    for (StepRecord &step : found->second.Steps) {
        if (step.State == Laeuft)
            step.State = Abgebrochen;
    }
    ended(found->second, true);
    watched_.erase(found);
    ended_.erase(serviceID);
}

void TTreatmentNotices::ended(Watched &watched, bool byUser)
{
    const int serviceID = watched.Setup.ServiceID;
    if (!ended_.insert(serviceID).second)
        return;
    EndFacts facts;
    facts.ServiceID = serviceID;
    facts.BatteryID = watched.Setup.BatteryID;
    facts.BatteryName = watched.Setup.BatteryName;
    facts.NominalCapacity = watched.Setup.NominalCapacity;
    facts.Terminal = watched.Setup.Terminal;
    facts.Program = watched.Setup.Program;
    facts.Steps = watched.Steps;
    facts.Result = ResultOfSteps(watched.Steps);
    if (facts.Result != StateName(OK) && facts.Result != StateName(Fehler).remove(QLatin1Char('!')))
        facts.Result = StateName(Abgebrochen);
    const MeasuredCapacities measured = CapacitiesOfSteps(watched.Steps);
    facts.Charged = measured.Charged;
    facts.Discharged = measured.Discharged;

    TreatmentNotice notice;
    notice.What = TreatmentNotice::Ended;
    notice.ServiceID = serviceID;
    notice.ByUser = byUser;
    notice.Title = facts.Result == StateName(Abgebrochen) ? QStringLiteral("Behandlung abgebrochen")
                                                          : QStringLiteral("Behandlung beendet: %1").arg(facts.Result);
    QStringList measuredText;
    if (facts.Discharged >= 0)
        measuredText << QStringLiteral("entladen ") + figure(facts.Discharged, facts.NominalCapacity);
    if (facts.Charged >= 0)
        measuredText << QStringLiteral("geladen ") + figure(facts.Charged, facts.NominalCapacity);
    notice.Text = QStringLiteral("%1, %2 (Behandlung %3)")
                      .arg(who(watched), ProgramName(facts.Program))
                      .arg(serviceID);
    if (!measuredText.isEmpty())
        notice.Text += QStringLiteral(": ") + measuredText.join(QStringLiteral(", "));
    notice.Text += QLatin1Char('.');
    notice.Facts = facts;
    emit Noticed(notice);
}

QProcessEnvironment TTreatmentNotices::EndEnvironment(const EndFacts &facts, const QString &message,
                                                      QProcessEnvironment base)
{
    const auto number = [](int value) { return value < 0 ? QString() : QString::number(value); };
    base.insert(QStringLiteral("BRASKON_RESULT"), facts.Result);
    base.insert(QStringLiteral("BRASKON_SERVICE_ID"), QString::number(facts.ServiceID));
    base.insert(QStringLiteral("BRASKON_BATTERY_ID"), QString::number(facts.BatteryID));
    base.insert(QStringLiteral("BRASKON_BATTERY"), facts.BatteryName);
    base.insert(QStringLiteral("BRASKON_NOMINAL_MAH"), QString::number(facts.NominalCapacity));
    base.insert(QStringLiteral("BRASKON_TERMINAL"), facts.Terminal);
    base.insert(QStringLiteral("BRASKON_PROGRAM"), ProgramName(facts.Program));
    base.insert(QStringLiteral("BRASKON_CHARGED_MAH"), number(facts.Charged));
    base.insert(QStringLiteral("BRASKON_DISCHARGED_MAH"), number(facts.Discharged));
    base.insert(QStringLiteral("BRASKON_STEPS"), stepsText(facts.Steps));
    base.insert(QStringLiteral("BRASKON_MESSAGE"), message);
    return base;
}

QProcess *TTreatmentNotices::EndProcess(const QString &command, const TreatmentNotice &notice, QObject *parent)
{
    auto *process = new QProcess(parent);
    process->setProgram(QStringLiteral("/bin/sh"));
    process->setArguments({QStringLiteral("-c"), command});
    process->setProcessEnvironment(EndEnvironment(notice.Facts, notice.Title + QStringLiteral(": ") + notice.Text));
    // Its output is the user's (the terminal the program was started from).
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    return process;
}
