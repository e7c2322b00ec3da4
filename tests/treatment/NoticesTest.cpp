// What the user is told about, decided from the engine's reports: each end
// once with its result and measured capacities, a silent charger and failing
// writes once per outage after a minute, and the end command's environment.
#include <gtest/gtest.h>

#include "treatment/Service.h"
#include "treatment/TreatmentNotices.h"

#include <QProcess>

namespace {

StepRecord Step(int number, int function, int state, int capacity)
{
    StepRecord step;
    step.ServiceID = 7;
    step.Step = number;
    step.Function = function;
    step.State = state;
    step.Capacity = capacity;
    return step;
}

class Notices : public ::testing::Test {
protected:
    Notices()
    {
        QObject::connect(&notices, &TTreatmentNotices::Noticed, [this](const TreatmentNotice &n) { seen.push_back(n); });
        TreatmentSetup setup;
        setup.ServiceID = 7;
        setup.BatteryID = 3;
        setup.BatteryName = "Mignon 1";
        setup.Terminal = "Lumo an COM1";
        setup.Program = 3;
        setup.NominalCapacity = 2000;
        setup.Steps = {Step(1, Entladen, Laeuft, 0), Step(2, Laden, Folgt, 0)};
        notices.Started(setup);
    }

    PollReport Report(int state, QVector<StepRecord> steps)
    {
        PollReport report;
        report.ServiceID = 7;
        report.Polled = report.Sent = report.Answered = true;
        report.State = state;
        report.Steps = std::move(steps);
        return report;
    }

    TTreatmentNotices notices;
    std::vector<TreatmentNotice> seen;
    const QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(14, 0));
};

} // namespace

TEST_F(Notices, AnEndIsToldOnceWithItsResultAndCapacities)
{
    notices.Polled(Report(Service::Running, {Step(1, Entladen, OK, 1900), Step(2, Laden, Laeuft, 800)}), now);
    EXPECT_TRUE(seen.empty());
    const QVector<StepRecord> done{Step(1, Entladen, OK, 1900), Step(2, Laden, OK, 2150)};
    notices.Polled(Report(Service::Ended, done), now);
    notices.Polled(Report(Service::Ended, done), now);
    notices.Stopped(7);   // the page closed afterwards: no second end
    ASSERT_EQ(seen.size(), 1u);
    const TreatmentNotice &end = seen.front();
    EXPECT_EQ(end.What, TreatmentNotice::Ended);
    EXPECT_FALSE(end.ByUser);
    EXPECT_EQ(end.Title, "Behandlung beendet: OK");
    EXPECT_EQ(end.Text, "Akku 3 (Mignon 1) an Lumo an COM1, Entladen-Laden (Behandlung 7): entladen 1900 mAh (95 %), "
                        "geladen 2150 mAh (108 %).");
    EXPECT_EQ(std::make_tuple(end.Facts.Result, end.Facts.Charged, end.Facts.Discharged),
              std::make_tuple(QString("OK"), 2150, 1900));

    const QProcessEnvironment env = TTreatmentNotices::EndEnvironment(end.Facts, "Nachricht", QProcessEnvironment());
    const std::map<QString, QString> expected = {
        {"BRASKON_RESULT", "OK"},           {"BRASKON_SERVICE_ID", "7"},
        {"BRASKON_BATTERY_ID", "3"},        {"BRASKON_BATTERY", "Mignon 1"},
        {"BRASKON_NOMINAL_MAH", "2000"},    {"BRASKON_TERMINAL", "Lumo an COM1"},
        {"BRASKON_PROGRAM", "Entladen-Laden"}, {"BRASKON_CHARGED_MAH", "2150"},
        {"BRASKON_DISCHARGED_MAH", "1900"}, {"BRASKON_STEPS", "1 Entladen OK 1900 mAh; 2 Laden OK 2150 mAh"},
        {"BRASKON_MESSAGE", "Nachricht"}};
    for (const auto &[key, value] : expected)
        EXPECT_EQ(env.value(key), value) << key.toStdString();
    EXPECT_EQ(env.keys().size(), int(expected.size()));
}

TEST_F(Notices, FailedAndStoppedEnds)
{
    notices.Polled(Report(Service::Ended, {Step(1, Entladen, Fehler, 300), Step(2, Laden, Folgt, 0)}), now);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Title, "Behandlung beendet: Fehler");
    EXPECT_EQ(std::make_pair(seen[0].Facts.Charged, seen[0].Facts.Discharged), std::make_pair(-1, -1));
    EXPECT_EQ(TTreatmentNotices::EndEnvironment(seen[0].Facts, {}, {}).value("BRASKON_DISCHARGED_MAH"), "");

    // A treatment the user stops: its running step is "abgebrochen", told as his own doing.
    TreatmentSetup second;
    second.ServiceID = 8;
    second.Steps = {Step(1, Laden, Folgt, 0)};
    notices.Started(second);
    PollReport running = Report(Service::Running, {Step(1, Laden, Laeuft, 120)});
    running.ServiceID = 8;
    notices.Polled(running, now);
    notices.Stopped(8);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[1].ByUser);
    EXPECT_EQ(seen[1].Title, "Behandlung abgebrochen");
    EXPECT_EQ(seen[1].Facts.Result, "abgebrochen");
    EXPECT_EQ(seen[1].Facts.Steps.front().State, int(Abgebrochen));
}

TEST_F(Notices, SilenceAndFailingWritesAreToldOncePerOutageAfterAMinute)
{
    const QVector<StepRecord> steps{Step(1, Entladen, Laeuft, 10)};
    const auto silent = [&](int seconds, bool sent = true) {
        PollReport report = Report(Service::Running, steps);
        report.Answered = false;
        report.Sent = sent;
        report.SilentSeconds = seconds;
        notices.Polled(report, now);
    };
    silent(30);
    silent(75, false);   // the port was held elsewhere: the charger is not known silent
    EXPECT_TRUE(seen.empty());
    silent(61);
    silent(90);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].What, TreatmentNotice::ChargerSilent);
    EXPECT_EQ(seen[0].Text, "Akku 3 (Mignon 1) an Lumo an COM1: seit 0:1:1 keine Antwort (Behandlung 7).");
    notices.Polled(Report(Service::Running, steps), now);   // answered again
    silent(60);
    EXPECT_EQ(seen.size(), 2u);

    const auto failing = [&](int secondsAgo) {
        PollReport report = Report(Service::Running, steps);
        report.Write.Failing = true;
        report.Write.Since = now.addSecs(-secondsAgo);
        report.Write.WaitingSamples = 4;
        report.Write.Reason = "database is locked";
        notices.Polled(report, now);
    };
    failing(59);
    EXPECT_EQ(seen.size(), 2u);
    failing(60);
    failing(200);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[2].What, TreatmentNotice::SavingFailed);
    EXPECT_TRUE(seen[2].Text.contains("Speichern fehlgeschlagen seit 13:59:00")) << seen[2].Text.toStdString();
    EXPECT_TRUE(seen[2].Text.endsWith("database is locked"));
    notices.Polled(Report(Service::Running, steps), now);   // written again
    failing(61);
    EXPECT_EQ(seen.size(), 4u);
}
