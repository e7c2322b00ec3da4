// Treatments against braskon-sim: four Varn channels at once (in one program
// and in four), refused commands, settings that do not fit the program
// message, and braskon-cli run.

#include "tests/treatment/TreatmentFixture.h"

#include "tests/support/SimulatorProcess.h"

#include <QRegularExpression>

#include <algorithm>
#include <memory>
#include <set>
#include <thread>

using namespace TreatmentTest;
using std::make_tuple;

namespace {

// The command bytes the simulator received on COM1 from trace line `from` on.
std::vector<std::string> CommandsSince(const SimTest::SimulatorProcess &sim, size_t from)
{
    std::vector<std::string> commands;
    const std::vector<std::string> trace = sim.trace();
    for (size_t i = from; i < trace.size(); ++i)
        if (trace[i].rfind("COM1 rx ", 0) == 0)
            commands.push_back(trace[i].substr(8, 2));
    return commands;
}

} // namespace

class SimulatedChargerTest : public TreatmentFixture {
protected:
    // Starts braskon-sim with `args` and files its terminals.
    std::unique_ptr<SimTest::SimulatorProcess> Simulator(const std::vector<std::string> &args)
    {
        auto sim = std::make_unique<SimTest::SimulatorProcess>(args);
        sim->start();
        terminals_->Scan();
        return sim;
    }
    // Ticks until every treatment has ended or the deadline passed.
    bool TickUntilEnded(const std::vector<Service *> &services, int seconds = 40, int pauseMs = 5)
    {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        auto ended = [](const Service *s) { return s->ServiceState() == Service::Ended; };
        while (!std::all_of(services.begin(), services.end(), ended) && Clock::now() < until) {
            Tick();
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        return std::all_of(services.begin(), services.end(), ended);
    }
    // Every step OK with time and capacity; only its own samples, in order.
    void ExpectCompletedInOrder(const Service &service)
    {
        const std::vector<Sample> samples = SamplesOf(service.ID());
        for (int step = 1; step <= service.StepCount(); ++step) {
            const StepRecord row = StepRow(service.ID(), step);
            EXPECT_EQ(make_tuple(int(OK), true, true), make_tuple(row.State, row.Duration > 0, row.Capacity > 0)) << step;
        }
        for (size_t i = 1; i < samples.size(); ++i)
            EXPECT_EQ(make_tuple(service.ID(), true, true),
                      make_tuple(samples[i].ServiceID, samples[i].Step >= samples[i - 1].Step, samples[i].Time >= samples[i - 1].Time))
                << "sample " << i;
        EXPECT_GT(samples.size(), size_t(service.StepCount()));
    }
};

TEST_F(SimulatedChargerTest, FourVarnChannelsRunDifferentTreatmentsInTurn)
{
    // Real time while the channels start (a Varn start waits 2 s), fast afterwards.
    const auto sim = Simulator({"--port", "2=varn", "--speed", "1", "--soc", "60"});
    ASSERT_EQ(4u, terminals_->Count());
    const int types[] = {1, 0, 1, 1}, cells[] = {4, 6, 5, 4};
    std::vector<Service *> services;
    for (int i = 0; i < 4; ++i) {
        AddBattery(11 + i, 600, types[i], cells[i]);
        services.push_back(Started(manager_->StartStandardService(11 + i, 1 + i, 600, 600,
                                                          "Varn/Akku" + std::to_string(1 + i) + " an COM2")));
    }
    const TServiceManager::TickResult first = manager_->Tick();
    pages_.Feed(first.Reports);
    EXPECT_EQ(services, first.Polled) << "one tick polls the port's four channels in turn";
    sim->control("set-speed 3000");
    ASSERT_TRUE(TickUntilEnded(services));
    for (size_t i = 0; i < services.size(); ++i) {
        EXPECT_EQ(static_cast<int>(11 + i), services[i]->BatteryID());
        ExpectCompletedInOrder(*services[i]);
    }
    // The log shows the four channels in turn, as long as all were running.
    const std::string log = Log();
    EXPECT_EQ(0u, log.find("0\t1\n40\t2\n80\t2\nc0\t1\n0\t")) << log.substr(0, 80);
    // Each channel was loaded with its own program and battery.
    for (const std::string program : {"COM2 rx 14 01 01 01 04 02 58 02 58 02 58", "COM2 rx 54 02 01 00 06",
                                      "COM2 rx 94 03 01 01 05", "COM2 rx D4 04 01 01 04"})
        EXPECT_GE(sim->waitForTrace(program, std::chrono::milliseconds(0)), 0) << program;
}

TEST_F(SimulatedChargerTest, RefusedCommandEndsTheTreatmentWithFehler)
{
    const auto sim = Simulator({"--port", "1=ohmrida", "--speed", "1"});
    // The refused command, and what then goes on the wire: the refusal asked
    // once more, nothing more of the start sequence, one stop to leave the
    // terminal stopped (asked twice as well when it is the refused one).
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"0x13", {"13", "13", "13", "13"}}, {"0x14", {"13", "14", "14", "13"}}, {"0x15", {"13", "14", "15", "15", "13"}}};
    for (const auto &[refused, wire] : cases) {
        SCOPED_TRACE(refused);
        sim->control("clear 1");
        sim->control("fault 1 refuse=" + refused);
        const size_t from = sim->trace().size();
        Service *service = StartStandard(3);
        const int id = service->ID();
        EXPECT_EQ(service, Tick());
        EXPECT_EQ(Service::Ended, service->ServiceState());
        EXPECT_EQ(make_tuple(Fehler, Folgt), make_tuple(StepRow(id, 1).State, StepRow(id, 2).State));
        EXPECT_TRUE(SamplesOf(id).empty());
        EXPECT_EQ(CommandsSince(*sim, from), wire);
        // The message names the refusal, the command and the terminal.
        const QString fault = FaultText(service->LastFault(), service->Terminal());
        EXPECT_TRUE(fault.startsWith(QStringLiteral("Ohmrida an COM1 hat den Befehl ")) && fault.contains("abgelehnt"))
            << fault.toStdString();
        Stop(service);
        EXPECT_EQ(Fehler, StepRow(id, 1).State) << "closing an ended treatment writes nothing";
    }

    // A user program whose second step the charger refuses to start.
    sim->control("clear 1");
    sim->control("set-speed 600");
    Service *user = Started(manager_->StartUserService(BatteryID, {{Laden, 300, 60}, {Entladen, 200, 0}},
                                               "Ohmrida an COM1"));
    EXPECT_EQ(user, Tick());
    sim->control("fault 1 refuse=0x15");
    EXPECT_TRUE(TickUntilEnded({user}, 20, 20));
    EXPECT_EQ(make_tuple(OK, Fehler), make_tuple(StepRow(user->ID(), 1).State, StepRow(user->ID(), 2).State));
}

TEST_F(SimulatedChargerTest, BadStartsAreRefusedBeforeAnythingIsWrittenOrSent)
{
    const auto sim = Simulator({"--port", "1=ohmrida"});
    // Such batteries may be stored; they only cannot be treated.
    AddBattery(30, 70000, 1, 4);
    AddBattery(31, 1000, 1, 260);
    const size_t from = sim->trace().size();
    const std::vector<std::pair<std::function<Service *()>, QString>> starts = {
        {[&] { return StartStandard(3, 500, 200, "Ohmrida an COM9"); }, "Ohmrida an COM9"},
        {[&] { return Started(manager_->StartStandardService(99, 3, 500, 200, "Ohmrida an COM1")); }, ""},
        {[&] { return StartStandard(7); }, ""},   // programs without steps
        {[&] { return Started(manager_->StartUserService(BatteryID, {}, "Ohmrida an COM1")); }, ""},
        {[&] { return Started(manager_->StartStandardService(30, 1, 500, 500, "Ohmrida an COM1")); },
         "die Kapazität 70000 mAh"},
        {[&] { return Started(manager_->StartStandardService(31, 1, 500, 500, "Ohmrida an COM1")); },
         "die Zellenzahl 260 Zellen"},
        {[&] { return StartStandard(3, 500, 70000); }, "der Strom 70000 mA"},
        {[&] { return Started(manager_->StartUserService(BatteryID, {{Laden, 300, 0}, {Entladen, 66000, 0}},
                                                 "Ohmrida an COM1")); },
         "der Strom 66000 mA"},
    };
    for (const auto &[start, reason] : starts) {
        try {
            start();
            ADD_FAILURE() << "started: " << reason.toStdString();
        } catch (const ServiceStartError &error) {
            const QString message = QString::fromUtf8(error.what());
            // A setting that does not fit ("die .../der ...") names the program message.
            EXPECT_TRUE(message.contains(reason) && (!reason.startsWith('d') || message.contains("Programmnachricht")))
                << message.toStdString();
        }
    }
    EXPECT_EQ(0, manager_->Count());
    EXPECT_TRUE(pages_.pages.empty());
    EXPECT_EQ(1, database_->AllocateServiceID()) << "no treatment row was written, no ID used up";
    EXPECT_TRUE(CommandsSince(*sim, from).empty());
}

using RunCommandTest = TreatmentFixture;

TEST_F(RunCommandTest, BadCallsStoreNothingAndTouchNoCharger)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "3000"});
    sim.start();
    const QStringList run = {"run", "--battery", "7", "--terminal", "Ohmrida an COM1"},
                      program = {"--program", "1", "--charge", "100", "--discharge", "100"};
    const QStringList bad[] = {QStringList{"run", "--battery", "7", "--terminal", "Lumo an COM1"} + program,
                               QStringList{"run", "--battery", "99", "--terminal", "Ohmrida an COM1"} + program,
                               run + QStringList{"--step", "X:100"}, run + program + QStringList{"--charge", "5000"}};
    for (const QStringList &args : bad) {
        const auto [code, output] = Cli(args);
        EXPECT_TRUE(code != 0 && output.startsWith("braskon-cli run: ")) << output.toStdString();
    }
    EXPECT_EQ(1, database_->AllocateServiceID()) << "nothing was stored";
    for (const std::string &line : sim.trace())
        EXPECT_EQ(0u, line.find("COM1 rx 16")) << "only the search talked to the charger: " << line;
}

TEST_F(RunCommandTest, TerminateSignalAbortsTheTreatment)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "1"});
    sim.start();
    QProcess cli;
    StartCli(cli, {"run", "--battery", "7", "--terminal", "Ohmrida an COM1", "--step", "L:300:600", "--step", "E:200",
                   "--tick-ms", "50"});
    QString output;
    ASSERT_TRUE(ReadUntil(cli, output, [](const QString &out) { return out.contains(" mAh  Laden"); }))
        << output.toStdString();
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    ASSERT_TRUE(cli.waitForFinished(10000));
    output += QString::fromUtf8(cli.readAll());
    EXPECT_EQ(128 + SIGTERM, cli.exitCode()) << output.toStdString();
    EXPECT_TRUE(output.contains("abgebrochen")) << output.toStdString();
    EXPECT_EQ(make_tuple(Abgebrochen, Folgt), make_tuple(StepRow(1, 1).State, StepRow(1, 2).State));
    EXPECT_FALSE(SamplesOf(1).empty()) << "the records stay";
    EXPECT_EQ(0u, sim.trace().back().find("COM1 rx 13")) << "the terminal was stopped";
}

// Four programs, one per channel of one Varn, started together: each waits
// for the others' exchanges on the shared port instead of losing its own, so
// all start and every poll is answered and stored; none invents a step result.
TEST_F(RunCommandTest, FourProgramsOnTheChannelsOfOneVarnAllStartAndEveryPollIsAnsweredAndStored)
{
    SimTest::SimulatorProcess sim({"--port", "2=varn", "--speed", "60", "--soc", "60"});
    sim.start();
    constexpr int channels = 4, polls = 15;
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int channel = 1; channel <= channels; ++channel) {
        AddBattery(10 + channel, 600, 1, 4);
        runs.push_back(std::make_unique<QProcess>());
        StartCli(*runs.back(), {"run", "--battery", QString::number(10 + channel), "--terminal",
                                QStringLiteral("Varn/Akku%1 an COM2").arg(channel), "--program", "1", "--charge", "300",
                                "--discharge", "300", "--tick-ms", "100", "--min-delta-u", "0", "--min-delta-i", "0"});
    }
    std::vector<QString> outputs(channels);
    for (int i = 0; i < channels; ++i)
        EXPECT_TRUE(ReadUntil(*runs[i], outputs[i], [](const QString &out) { return PollLines(out).size() >= polls; }, 60))
            << outputs[i].toStdString();
    for (int i = 0; i < channels; ++i) {
        ::kill(static_cast<pid_t>(runs[i]->processId()), SIGTERM);
        ASSERT_TRUE(runs[i]->waitForFinished(20000));
        outputs[i] += QString::fromUtf8(runs[i]->readAll());
    }
    std::set<int> services;
    for (int i = 0; i < channels; ++i) {
        SCOPED_TRACE(outputs[i].toStdString());
        const QRegularExpressionMatch started = QRegularExpression("^Behandlung (\\d+): Varn/Akku(\\d) an COM2",
                                                                   QRegularExpression::MultilineOption)
                                                    .match(outputs[i]);
        ASSERT_TRUE(started.hasMatch());
        EXPECT_EQ(started.captured(2).toInt(), i + 1);
        const int service = started.captured(1).toInt();
        services.insert(service);
        EXPECT_FALSE(outputs[i].contains("keine Antwort"));
        EXPECT_FALSE(outputs[i].contains("OK (Dauer"));
        const std::vector<PollLine> lines = PollLines(outputs[i]);
        EXPECT_GE(lines.size(), size_t(polls));
        EXPECT_EQ(SamplesOf(service).size(), lines.size()) << "every answered poll is one stored sample";
        EXPECT_EQ(make_tuple(int(Abgebrochen), true), make_tuple(StepRow(service, 1).State, StepRow(service, 1).Duration > 0));
    }
    EXPECT_EQ(services.size(), size_t(channels));
}

// Each fault is named for what it is, with the terminal and its port: a
// refused command, an unintelligible answer, no answer.
TEST_F(RunCommandTest, MessagesNameTheFault)
{
    SimTest::SimulatorProcess sim({"--port", "1=ohmrida", "--speed", "1"});
    sim.start();
    const QStringList run = {"run", "--battery", "7", "--terminal", "Ohmrida an COM1", "--program", "1", "--charge",
                             "100", "--discharge", "100", "--tick-ms", "50"};
    sim.control("fault 1 refuse=0x15");
    const auto [code, refused] = Cli(run);
    EXPECT_EQ(1, code);
    EXPECT_TRUE(refused.contains("Ohmrida an COM1 hat den Befehl Start (0x15) abgelehnt (Antwort 15 01 15 01)"))
        << refused.toStdString();
    EXPECT_FALSE(refused.contains("keine Antwort")) << refused.toStdString();

    sim.control("clear 1");
    QProcess cli;
    StartCli(cli, run);
    QString output;
    const std::vector<std::pair<std::string, QString>> faults = {
        {"fault 1 wrong-echo",
         QStringLiteral("unverst\u00e4ndliche Antwort von Ohmrida an COM1 auf Status (0x11): Antwort beginnt mit ")},
        {"fault 1 silent",
         QStringLiteral("keine Antwort von Ohmrida an COM1 (%1)").arg(QString::fromStdString(sim.portPath(1)))}};
    for (const auto &[fault, expected] : faults) {
        ASSERT_TRUE(ReadUntil(cli, output, [](const QString &out) { return out.contains(" mAh  Laden"); }))
            << output.toStdString();
        sim.control(fault);
        ASSERT_TRUE(ReadUntil(cli, output, [&](const QString &out) { return out.contains(expected); }))
            << output.toStdString();
        sim.control("clear 1");
        output.clear();
    }
    ::kill(static_cast<pid_t>(cli.processId()), SIGTERM);
    ASSERT_TRUE(cli.waitForFinished(10000));
}
