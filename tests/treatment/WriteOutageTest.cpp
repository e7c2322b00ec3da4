// braskon-cli run against braskon-sim while another program holds the
// database file locked for longer than the busy time-out: the polls go on,
// the output says that writing fails and when it works again, and afterwards
// every poll's sample is stored once, in order, and both steps of program 3
// end "OK" with the duration and capacity the charger reported.

#include "TreatmentFixture.h"

#include "SimulatorProcess.h"
#include "SqliteLock.h"

#include <QProcess>
#include <QRegularExpression>

#include <chrono>
#include <csignal>

using namespace TreatmentTest;
using Clock = std::chrono::steady_clock;

namespace {

// One poll line, stored at once or noted as waiting.
struct PollLine {
    int Step = 0, Time = 0, Voltage = 0, Current = 0, Capacity = 0;
    QString Function;
    bool Waiting = false;
};

int Seconds(const QString &hms)
{
    const QStringList parts = hms.split(':');
    return parts.size() == 3 ? parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt() : -1;
}

std::vector<PollLine> PollLines(const QString &output)
{
    static const QRegularExpression line(
        QStringLiteral("^Schritt (\\d+)  Zeit (\\S+)  (-?[\\d.]+) V  (-?[\\d.]+) A  (-?\\d+) mAh  (\\S+)"
                       "(  \\(nicht gespeichert, \\d+ warten\\))?$"),
        QRegularExpression::MultilineOption);
    std::vector<PollLine> lines;
    for (auto match = line.globalMatch(output); match.hasNext();) {
        const auto m = match.next();
        lines.push_back({m.captured(1).toInt(), Seconds(m.captured(2)), qRound(m.captured(3).toDouble() * 1000),
                         qRound(m.captured(4).toDouble() * 1000), m.captured(5).toInt(), m.captured(6),
                         !m.captured(7).isEmpty()});
    }
    return lines;
}

} // namespace

class WriteOutageTest : public TreatmentFixture {
protected:
    SimTest::SimulatorProcess sim_{{"--port", "1=lumo", "--speed", "100", "--soc", "60"}};

    void SetUp() override
    {
        TreatmentFixture::SetUp();
        sim_.start();
    }
    void TearDown() override
    {
        if (recorder_.state() == QProcess::Running && recorder_.processId() > 0)
            ::kill(static_cast<pid_t>(recorder_.processId()), SIGKILL);
        recorder_.waitForFinished(5000);
        TreatmentFixture::TearDown();
    }

    // Reads the recorder's output until `done` holds for it (or the deadline).
    bool ReadUntil(const std::function<bool(const QString &)> &done, std::chrono::seconds deadline)
    {
        const auto until = Clock::now() + deadline;
        while (!done(output_) && Clock::now() < until && recorder_.state() == QProcess::Running) {
            recorder_.waitForReadyRead(100);
            output_ += QString::fromUtf8(recorder_.readAllStandardOutput());
        }
        output_ += QString::fromUtf8(recorder_.readAllStandardOutput());
        return done(output_);
    }
    static bool HasWaitingLineOfStep(const QString &output, int step, size_t count)
    {
        size_t found = 0;
        for (const PollLine &line : PollLines(output))
            found += line.Waiting && line.Step == step;
        return found >= count;
    }

    QProcess recorder_;
    QString output_;
};

TEST_F(WriteOutageTest, LockLongerThanTheBusyTimeOutLosesNothingAndStepsEndAsTheChargerDid)
{
    recorder_.setProcessChannelMode(QProcess::MergedChannels);
    recorder_.setWorkingDirectory(dir_.path());
    recorder_.start(QStringLiteral(BRASKON_CLI_PATH),
                    {"--database", dir_.path(), "run", "--battery", QString::number(BatteryID), "--terminal",
                     "Lumo an COM1", "--program", "3", "--charge", "500", "--discharge", "500", "--tick-ms", "50",
                     "--min-delta-u", "0", "--min-delta-i", "0"});
    ASSERT_TRUE(recorder_.waitForStarted(5000));
    ASSERT_TRUE(ReadUntil([](const QString &out) { return PollLines(out).size() >= 5; }, std::chrono::seconds(20)))
        << output_.toStdString();

    // Another program takes the file for longer than the recorder's busy time-out (10 s).
    auto lock = std::make_unique<SimTest::SqliteLock>(database_->DatabaseFile());
    const auto locked = Clock::now();
    ASSERT_TRUE(ReadUntil([](const QString &out) { return out.contains("Speichern fehlgeschlagen: "); },
                          std::chrono::seconds(30)))
        << output_.toStdString();
    EXPECT_GE(Clock::now() - locked, std::chrono::seconds(9)) << "the first write waited for the lock";
    EXPECT_TRUE(output_.contains("gesperrt")) << output_.toStdString();

    // During the outage the battery runs empty and the charger goes on to charging.
    sim_.control("set-soc 1 1");
    sim_.control("set-speed 1000");
    ASSERT_TRUE(ReadUntil([](const QString &out) { return HasWaitingLineOfStep(out, 2, 5); },
                          std::chrono::seconds(60)))
        << output_.toStdString();
    EXPECT_GT(Clock::now() - locked, std::chrono::seconds(10));
    lock->Release();

    ASSERT_TRUE(ReadUntil([](const QString &out) { return out.contains("Speichern wieder m\u00f6glich: "); },
                          std::chrono::seconds(30)))
        << output_.toStdString();
    // Now the charge runs to its end.
    sim_.control("set-soc 1 95");
    sim_.control("set-speed 3000");
    ASSERT_TRUE(recorder_.waitForFinished(120000)) << output_.toStdString();
    output_ += QString::fromUtf8(recorder_.readAllStandardOutput());
    EXPECT_EQ(0, recorder_.exitCode()) << output_.toStdString();
    EXPECT_TRUE(output_.trimmed().endsWith("beendet")) << output_.toStdString();

    const std::vector<PollLine> polls = PollLines(output_);
    const std::vector<Sample> stored = SamplesOf(1);
    // Every poll is one sample (no delta thresholds), stored exactly once, in order.
    ASSERT_EQ(polls.size(), stored.size()) << output_.toStdString();
    size_t waiting = 0, waitingInStep1 = 0;
    for (size_t i = 0; i < polls.size(); ++i) {
        EXPECT_EQ(polls[i].Step, std::min(stored[i].Step, 2)) << "poll " << i;
        EXPECT_EQ(polls[i].Voltage, stored[i].Voltage) << "poll " << i;
        EXPECT_EQ(polls[i].Current, stored[i].Current) << "poll " << i;
        if (i > 0)
            EXPECT_GE(stored[i].Time, stored[i - 1].Time) << "poll " << i;
        waiting += polls[i].Waiting;
        waitingInStep1 += polls[i].Waiting && polls[i].Step == 1;
    }
    EXPECT_GE(waitingInStep1, 1u) << "the step change fell into the outage";
    EXPECT_GE(waiting, 6u);

    // Each step's result is its last poll's time and capacity, as the charger reported them.
    const auto lastOf = [&](const QString &function) {
        PollLine last;
        for (const PollLine &line : polls)
            if (line.Function == function)
                last = line;
        return last;
    };
    const PollLine discharge = lastOf(QStringLiteral("Entladen"));
    const PollLine charge = lastOf(QStringLiteral("Laden"));
    const StepRecord first = StepRow(1, 1), second = StepRow(1, 2);
    EXPECT_EQ(OK, first.State);
    EXPECT_EQ(discharge.Time, first.Duration);
    EXPECT_EQ(discharge.Capacity, first.Capacity);
    EXPECT_GT(first.Duration, 0);
    EXPECT_EQ(OK, second.State);
    EXPECT_EQ(charge.Time, second.Duration);
    EXPECT_EQ(charge.Capacity, second.Capacity);
    EXPECT_GT(second.Capacity, 0);
    EXPECT_TRUE(database_->RunningTreatments().isEmpty());
    EXPECT_EQ(TBRASKDataModule::RecordingState::Ended, database_->StateOf(1));
}
