#include "treatment/ServiceViews.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>

void SetUpControlWindow(ServiceControlWindow &window, const TreatmentSetup &setup)
{
    window.SetupService(setup.ServiceID, setup.Caption, setup.NominalVoltage, setup.MaxCurrentA);
    window.SetNominalCapacity(setup.NominalCapacity);
}

void FeedControlWindow(ServiceControlWindow &window, const PollReport &report)
{
    if (report.Polled && report.Answered) {
        const double volts = report.Voltage * 0.001;
        window.ShowTime(report.StepTime);
        window.ShowVoltage(volts);
        window.ShowCurrent(report.Current * 0.001);
        window.AddVoltagePoint(volts);
        window.SetStepFunction(report.Function);
        window.ShowCapacity(report.Capacity);
    } else if (report.Polled) {
        // A step that was started shows once its row is written.
        window.ShowNoAnswer(report.SilentSeconds, report.FaultLabel);
    }
    if (report.WriteShown)
        window.ShowWriteStatus(report.Write);
    if (report.StepsWritten)
        window.RefreshSteps();
}

void FeedDiagrams(const std::vector<LiveSampleSink *> &diagrams, const PollReport &report)
{
    if (!report.Polled || !report.Answered)
        return;
    for (LiveSampleSink *diagram : diagrams) {
        if (!diagram)
            continue;
        diagram->AddLiveSample(report.ServiceID, 0, report.SampleTime, report.Voltage * 0.001, report.Function);
        diagram->AddLiveSample(report.ServiceID, 1, report.SampleTime, report.Current, report.Function);
    }
}

QString PacesText(const std::vector<PortPace> &paces, int clockMs)
{
    QStringList lines;
    for (const PortPace &pace : paces) {
        if (!pace.Stretched)
            continue;
        const int period = std::max(pace.PeriodMs, pace.RoundMs);
        lines << QStringLiteral("COM%1: eine Runde \u00fcber %2 Behandlung%3 dauert %4 s; sie werden alle %5 s statt "
                                "alle %6 s abgefragt.")
                     .arg(pace.Port)
                     .arg(pace.Treatments)
                     .arg(pace.Treatments == 1 ? QString() : QStringLiteral("en"))
                     .arg(QLocale().toString(pace.RoundMs / 1000.0, 'f', 1))
                     .arg(QLocale().toString(period / 1000.0, 'f', 1))
                     .arg(QLocale().toString(clockMs / 1000.0, 'f', 1));
    }
    return lines.join(QLatin1Char('\n'));
}
