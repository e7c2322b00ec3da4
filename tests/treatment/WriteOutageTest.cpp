// braskon-cli run with the database locked past the busy time-out: every poll's
// sample is stored once, in order, and the steps end as the charger reported.

#include "tests/treatment/TreatmentFixture.h"

#include "tests/support/SimulatorProcess.h"
#include "tests/support/SqliteLock.h"

using namespace TreatmentTest;
using std::make_tuple;

using WriteOutageTest = TreatmentFixture;

TEST_F(WriteOutageTest, LockLongerThanTheBusyTimeOutLosesNothingAndStepsEndAsTheChargerDid)
{
    SimTest::SimulatorProcess sim({"--port", "1=lumo", "--speed", "100", "--soc", "60"});
    sim.start();
    sim.allowSpeed(3000);   // the recorder runs on through the speed-ups below
    QProcess recorder;
    StartCli(recorder, Program3());
    QString output;
    const auto contains = [](const char *text) { return [text](const QString &out) { return out.contains(text); }; };
    const auto waitingInStep2 = [](const QString &out) {
        const std::vector<PollLine> lines = PollLines(out);
        return std::count_if(lines.begin(), lines.end(), [](const PollLine &l) { return l.Waiting && l.Step == 2; }) >= 5;
    };
    ASSERT_TRUE(ReadUntil(recorder, output, [](const QString &out) { return PollLines(out).size() >= 5; }))
        << output.toStdString();
    // Another program takes the file for longer than the recorder's busy time-out (10 s).
    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    const auto locked = Clock::now();
    ASSERT_TRUE(ReadUntil(recorder, output, contains("Speichern fehlgeschlagen: "), 30)) << output.toStdString();
    EXPECT_GE(Clock::now() - locked, std::chrono::seconds(9)) << "the first write waited for the lock";
    EXPECT_TRUE(output.contains("gesperrt")) << output.toStdString();
    // During the outage the battery runs empty and the charger goes on to charging.
    sim.control("set-soc 1 1");
    sim.control("set-speed 1000");
    ASSERT_TRUE(ReadUntil(recorder, output, waitingInStep2, 60)) << output.toStdString();
    EXPECT_GT(Clock::now() - locked, std::chrono::seconds(10));
    lock->Release();
    ASSERT_TRUE(ReadUntil(recorder, output, contains("Speichern wieder m\u00f6glich: "), 30)) << output.toStdString();
    // Now the charge runs to its end.
    sim.control("set-soc 1 95");
    sim.control("set-speed 3000");
    ASSERT_TRUE(recorder.waitForFinished(120000)) << output.toStdString();
    output += QString::fromUtf8(recorder.readAll());
    EXPECT_EQ(0, recorder.exitCode()) << output.toStdString();
    // Finished as the charger did, and the rows that waited are said to be in late.
    const QString end = output.trimmed().section('\n', -1);
    EXPECT_TRUE(end.startsWith("beendet (") && end.endsWith(" nach einem Speicherausfall nachgetragen)"))
        << output.toStdString();

    const std::vector<PollLine> polls = PollLines(output);
    const std::vector<Sample> stored = SamplesOf(1);
    // Every poll is one sample (no delta thresholds), stored exactly once, in
    // order; but the last: it read the idle charger after the last step.
    ASSERT_EQ(polls.size(), stored.size() + 1) << output.toStdString();
    EXPECT_EQ(polls.back().Function, QStringLiteral("Warten"));
    size_t waiting = 0, waitingInStep1 = 0;
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(make_tuple(polls[i].Step, polls[i].Voltage, polls[i].Current),
                  make_tuple(stored[i].Step, stored[i].Voltage, stored[i].Current)) << "poll " << i;
        EXPECT_GE(stored[i].Time, i > 0 ? stored[i - 1].Time : 0) << "poll " << i;
        waiting += polls[i].Waiting;
        waitingInStep1 += polls[i].Waiting && polls[i].Step == 1;
    }
    EXPECT_GE(waitingInStep1, 1u) << "the step change fell into the outage";
    EXPECT_GE(waiting, 6u);
    // Each step's result is its last poll's time and capacity, as the charger reported them.
    for (const auto &[step, function] : {std::pair{1, "Entladen"}, std::pair{2, "Laden"}}) {
        PollLine last;
        for (const PollLine &line : polls)
            if (line.Function == function)
                last = line;
        EXPECT_EQ(make_tuple(int(OK), last.Time, last.Capacity), Step(1, step)) << function;
        EXPECT_GT(last.Time * last.Capacity, 0) << function;
    }
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_EQ(RecordStore::RecordingState::Ended, database_->StateOf(1));
    // The log goes to the per-user state folder, never into the current one.
    EXPECT_NE(std::string::npos, FileText(dir_.path().toStdString() + "/state/braskon/log.txt").find("0\t2\n"));
    EXPECT_TRUE(QDir(dir_.filePath("cwd")).isEmpty());
}
