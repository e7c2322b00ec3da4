// Treatments against braskon-sim: the four channels of a Varn at once, a
// complete program 5, and the command line run command.

#include "TreatmentFixture.h"

#include "SimulatorProcess.h"

#include <QProcess>

#include <algorithm>

#include <chrono>
#include <csignal>
#include <thread>

using namespace TreatmentTest;

namespace {

using Clock = std::chrono::steady_clock;

// Ticks until every treatment has ended or the deadline passed.
bool TickUntilEnded(TServiceManager &manager, ServiceHost &host, const std::vector<Service *> &services,
                    std::chrono::seconds deadline)
{
    const auto until = Clock::now() + deadline;
    while (Clock::now() < until) {
        bool allEnded = true;
        for (const Service *service : services)
            allEnded = allEnded && service->ServiceState() == Service::Ended;
        if (allEnded)
            return true;
        manager.Tick(host);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace

class SimulatedChargerTest : public TreatmentFixture {
protected:
    void ExpectEveryStepOK(const Service &service)
    {
        for (int step = 1; step <= service.StepCount(); ++step) {
            const StepRecord row = StepRow(service.ID(), step);
            EXPECT_EQ(OK, row.State) << "treatment " << service.ID() << " step " << step;
            EXPECT_GT(row.Duration, 0) << "treatment " << service.ID() << " step " << step;
            EXPECT_GT(row.Capacity, 0) << "treatment " << service.ID() << " step " << step;
        }
    }

    // Samples of one treatment: only its own, steps and times never going back.
    void ExpectOrderedSamples(const Service &service)
    {
        const std::vector<Sample> samples = SamplesOf(service.ID());
        ASSERT_FALSE(samples.empty());
        for (size_t i = 1; i < samples.size(); ++i) {
            EXPECT_EQ(service.ID(), samples[i].ServiceID);
            EXPECT_GE(samples[i].Step, samples[i - 1].Step);
            EXPECT_GE(samples[i].Time, samples[i - 1].Time) << "sample " << i;
        }
        // Every step has at least its change sample; the poll that saw the
        // end files its sample after the last step.
        for (int step = 1; step <= service.StepCount(); ++step)
            EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [step](const Sample &s) { return s.Step == step; }))
                << "treatment " << service.ID() << " step " << step;
        EXPECT_LE(samples.back().Step, service.StepCount() + 1);
    }
};

TEST_F(SimulatedChargerTest, FourVarnChannelsRunDifferentTreatmentsRoundRobin)
{
    // Real time while the channels start (a Varn start waits 2 s), fast afterwards.
    SimTest::SimulatorProcess sim({"--port", "2=varn", "--speed", "1", "--soc", "60"});
    sim.start();
    terminals_->Scan();
    ASSERT_EQ(4u, terminals_->Count());
    AddBattery(11, 600, 1, 4);
    AddBattery(12, 600, 0, 6);
    AddBattery(13, 600, 1, 5);
    AddBattery(14, 600, 1, 4);
    std::vector<Service *> services = {
        manager_->StartStandardService(host_, 11, 1, 600, 600, "Varn/Akku1 an COM2"),
        manager_->StartStandardService(host_, 12, 2, 600, 600, "Varn/Akku2 an COM2"),
        manager_->StartStandardService(host_, 13, 3, 600, 600, "Varn/Akku3 an COM2"),
        manager_->StartStandardService(host_, 14, 4, 600, 600, "Varn/Akku4 an COM2")};
    for (Service *service : services)
        EXPECT_EQ(service, manager_->Tick(host_));
    sim.control("set-speed 3000");
    ASSERT_TRUE(TickUntilEnded(*manager_, host_, services, std::chrono::seconds(40)));

    for (size_t i = 0; i < services.size(); ++i) {
        EXPECT_EQ(static_cast<int>(11 + i), services[i]->BatteryID());
        ExpectEveryStepOK(*services[i]);
        ExpectOrderedSamples(*services[i]);
    }
    // The log shows the four channels in turn, as long as all were running.
    const std::string log = Log();
    EXPECT_EQ(0u, log.find("0\t1\n40\t2\n80\t2\nc0\t1\n0\t")) << log.substr(0, 80);

    // Each channel was loaded with its own program and battery.
    const std::vector<std::string> trace = sim.trace();
    const std::string programs[] = {"COM2 rx 14 01 01 01 04 02 58 02 58 02 58", "COM2 rx 54 02 01 00 06",
                                    "COM2 rx 94 03 01 01 05", "COM2 rx D4 04 01 01 04"};
    for (const std::string &program : programs) {
        EXPECT_GE(sim.waitForTrace(program, std::chrono::milliseconds(0)), 0) << program;
    }
}

TEST_F(SimulatedChargerTest, ProgramFiveOnNiMHRunsEveryStepToOK)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "3000", "--soc", "40"});
    sim.start();
    terminals_->Scan();
    AddBattery(21, 500, 1, 4);
    Service *service = manager_->StartStandardService(host_, 21, 5, 500, 500, "Ohmrida an COM1");
    ASSERT_TRUE(TickUntilEnded(*manager_, host_, {service}, std::chrono::seconds(40)));
    ASSERT_EQ(4, service->StepCount());
    ExpectEveryStepOK(*service);
    ExpectOrderedSamples(*service);
    const std::vector<std::string> trace = sim.trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(0u, trace.back().find("COM1 rx 13")) << "the ended treatment stopped its terminal: " << trace.back();
}

class RunCommandTest : public SimulatedChargerTest {
protected:
    QProcess cli_;

    void StartCli(const QStringList &treatment)
    {
        QStringList args = {"--database", dir_.path(), "run", "--battery", QString::number(BatteryID),
                            "--terminal", "Ohmrida an COM1"};
        args += treatment;
        cli_.setWorkingDirectory(dir_.path());
        cli_.start(QStringLiteral(BRASKON_CLI_PATH), args);
        ASSERT_TRUE(cli_.waitForStarted(5000));
    }
    QString Output() { return QString::fromUtf8(cli_.readAllStandardOutput()); }
};

TEST_F(RunCommandTest, ProgramThreeRunsToTheEnd)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "3000"});
    sim.start();
    StartCli({"--program", "3", "--charge", "500", "--discharge", "500", "--tick-ms", "50"});
    ASSERT_TRUE(cli_.waitForFinished(40000)) << Output().toStdString();
    const QString output = Output();
    EXPECT_EQ(QProcess::NormalExit, cli_.exitStatus());
    EXPECT_EQ(0, cli_.exitCode()) << output.toStdString() << cli_.readAllStandardError().toStdString();
    EXPECT_TRUE(output.contains("Schritt 1 Entladen 500 mA: OK")) << output.toStdString();
    EXPECT_TRUE(output.contains("Schritt 2 Laden 500 mA: OK")) << output.toStdString();
    EXPECT_TRUE(output.contains("Zeit ")) << output.toStdString();
    EXPECT_EQ(OK, StepRow(1, 2).State);
    EXPECT_FALSE(SamplesOf(1).empty());
    EXPECT_NE(std::string::npos, FileText(dir_.path().toStdString() + "/log.txt").find("0\t2\n"));
}

TEST_F(RunCommandTest, TerminateSignalAbortsTheTreatment)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "1"});
    sim.start();
    StartCli({"--step", "L:300:600", "--step", "E:200", "--tick-ms", "50"});
    const auto until = Clock::now() + std::chrono::seconds(20);
    QString output;
    while (!output.contains(" mAh  Laden") && Clock::now() < until) {
        cli_.waitForReadyRead(200);
        output += Output();
    }
    ASSERT_TRUE(output.contains(" mAh  Laden")) << output.toStdString();
    ::kill(static_cast<pid_t>(cli_.processId()), SIGTERM);
    ASSERT_TRUE(cli_.waitForFinished(10000));
    output += Output();
    EXPECT_EQ(128 + SIGTERM, cli_.exitCode()) << output.toStdString();
    EXPECT_TRUE(output.contains("abgebrochen")) << output.toStdString();
    EXPECT_EQ(Abgebrochen, StepRow(1, 1).State);
    EXPECT_EQ(Folgt, StepRow(1, 2).State);
    EXPECT_FALSE(SamplesOf(1).empty()) << "the records stay";
    EXPECT_EQ(0u, sim.trace().back().find("COM1 rx 13")) << "the terminal was stopped";
}

TEST_F(RunCommandTest, UnknownTerminalOrBatteryIsAnErrorWithNothingStored)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida"});
    sim.start();
    cli_.setWorkingDirectory(dir_.path());
    const QStringList common = {"--database", dir_.path(), "run", "--program", "1", "--charge", "100",
                                "--discharge", "100"};
    const QStringList cases[] = {
        common + QStringList{"--battery", "7", "--terminal", "Lumo an COM1"},
        common + QStringList{"--battery", "99", "--terminal", "Ohmrida an COM1"},
        {"--database", dir_.path(), "run", "--battery", "7", "--terminal", "Ohmrida an COM1", "--step", "X:100"},
        common + QStringList{"--battery", "7", "--terminal", "Ohmrida an COM1", "--charge", "5000"}};
    for (const QStringList &args : cases) {
        cli_.start(QStringLiteral(BRASKON_CLI_PATH), args);
        ASSERT_TRUE(cli_.waitForFinished(20000));
        EXPECT_NE(0, cli_.exitCode()) << args.join(' ').toStdString();
        const QStringList errors = QString::fromUtf8(cli_.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(errors.isEmpty());
        EXPECT_TRUE(errors.first().startsWith("braskon-cli run: ")) << errors.first().toStdString();
    }
    TBRASKDataModule::Service record;
    record.ID = 1;
    EXPECT_FALSE(database_->LoadService(record)) << "nothing was stored";
    for (const std::string &line : sim.trace())
        EXPECT_EQ(0u, line.find("COM1 rx 16")) << "only the search talked to the charger: " << line;
}
