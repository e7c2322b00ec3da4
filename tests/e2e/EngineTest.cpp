// The treatment engine, on its own thread, inside the whole program against braskon-sim.
#include <gtest/gtest.h>

#include <QMessageBox>

#include "tests/support/StallProbe.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TestDatabase.h"

#include "charger/TerminalManager.h"
#include "database/Datamodule.h"
#include "database/RecordStore.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QAbstractItemModel>
#include <QTableView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <map>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

constexpr int TimeoutMs = 30000;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SimulatorBuilt())
            GTEST_SKIP() << "braskon-sim is not built";
    }

    // A standard treatment of a new battery on the terminal, started through the engine.
    static TreatmentInfo StartOn(Program &program, const std::string &terminal, int batteryID = 1)
    {
        TTreatmentEngine &engine = program.Parts().Engine();
        const int ticket = engine.StartStandard(InsertBattery(program.Db(), batteryID, 300), 3, 50, 50, terminal);
        TreatmentInfo started;
        EXPECT_TRUE(WaitFor(
            [&] {
                for (const TreatmentInfo &info : engine.Treatments())
                    if (info.Ticket == ticket && !engine.Busy())
                        started = info;
                return started.ServiceID != 0;
            },
            TimeoutMs));
        return started;
    }

    // Ticks until the engine has polled `count` times more.
    static void RunTicks(TTreatmentEngine &engine, int count)
    {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(WaitFor([&] { return engine.Tick(); }, TimeoutMs));
            ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }, TimeoutMs));
        }
    }
};

} // namespace

TEST_F(EngineTest, WindowHandlesInputWhileAPollWaitsOnASilentCharger)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "600"});
    simulator.start();
    Program program;
    TMainForm &form = program.Form();
    const TreatmentInfo treatment = StartOn(program, "Lumo an COM1");
    TTreatmentEngine &engine = program.Parts().Engine();
    RunTicks(engine, 2);

    simulator.control("fault 1 silent");
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(engine.Busy());
    // While the engine waits for the answer (about 1.5 s) the window takes keys and opens its menu.
    QElapsedTimer clock;
    clock.start();
    StallProbe probe;
    probe.Start();
    QLineEdit edit;
    edit.show();
    QTest::keyClicks(&edit, "Akku");
    QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    ASSERT_TRUE(WaitFor([&] { return edit.text() == "Akkux"; }, 200));
    form.activateWindow();
    Part<QMenu>(form, "MenuFile")->popup(form.mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(Part<QMenu>(form, "MenuFile")->isVisible());
    EXPECT_TRUE(engine.Busy()) << "the poll was still waiting meanwhile";
    Part<QMenu>(form, "MenuFile")->close();
    ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }, TimeoutMs));
    EXPECT_GE(clock.elapsed(), 1000) << "the silent poll took its time-out on the engine thread";
    EXPECT_LT(probe.Longest(), 250) << "ms the window's event loop stood still";
    // A tick given while the engine is busy is skipped, never queued up.
    ASSERT_TRUE(engine.Tick());
    EXPECT_FALSE(engine.Tick());
    ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }, TimeoutMs));
    EXPECT_TRUE(engine.HasService(treatment.ServiceID));
}

TEST_F(EngineTest, StopDuringTheVarnStartSequenceStopsThatTreatmentOnly)
{
    SimTest::SimulatorProcess simulator({"--port", "2=varn", "--speed", "600"});
    simulator.start();
    Program program;
    TMainForm &form = program.Form();
    TTreatmentEngine &engine = program.Parts().Engine();
    const TreatmentInfo first = StartOn(program, "Varn/Akku1 an COM2");
    const TreatmentInfo second = StartOn(program, "Varn/Akku2 an COM2", 2);
    ASSERT_EQ(Part<QTabWidget>(form, "AccuTab")->count(), 2);
    RunTicks(engine, 1);   // channel 1 started

    // Channel 2's first poll runs the start sequence (two 1 s waits); its page is stopped meanwhile, twice.
    const size_t traceBefore = simulator.trace().size();
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(WaitFor([&] { return simulator.trace().size() > traceBefore; }, TimeoutMs));
    ASSERT_TRUE(engine.Busy());
    Part<QTabWidget>(form, "AccuTab")->setCurrentIndex(1);
    form.UpdateMenus();
    ASSERT_TRUE(form.CommandAction(Command::StopService)->isEnabled());
    ModalDriver driver;
    driver.Answer(QMessageBox::Yes);   // "Behandlung abbrechen"
    form.CommandAction(Command::StopService)->trigger();
    form.UpdateMenus();
    EXPECT_FALSE(form.CommandAction(Command::StopService)->isEnabled()) << "its stop is under way";
    Part<QToolButton>(form, "ButtonStopService")->click();   // a second click meanwhile does nothing
    ASSERT_TRUE(WaitFor([&] { return Part<QTabWidget>(form, "AccuTab")->count() == 1 && !engine.Busy(); }, TimeoutMs));

    EXPECT_TRUE(engine.HasService(first.ServiceID));
    EXPECT_FALSE(engine.HasService(second.ServiceID));
    TBRASKDataModule &db = program.Parts().DataModule();
    StepRecord stopped{second.ServiceID, 1}, running{first.ServiceID, 1};
    ASSERT_TRUE(db.GetSubService(stopped) && db.GetSubService(running));
    EXPECT_EQ(stopped.State, Abgebrochen);
    EXPECT_EQ(running.State, Laeuft);
    RunTicks(engine, 1);   // channel 1 goes on being polled
    EXPECT_TRUE(engine.HasService(first.ServiceID));
}

TEST_F(EngineTest, ClosingTheProgramInTheMiddleOfAnExchangeKeepsEveryRow)
{
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "6000"});
    simulator.start();
    auto program = std::make_unique<Program>();
    ASSERT_NE(StartOn(*program, "Lumo an COM1").ServiceID, 0);
    TTreatmentEngine &engine = program->Parts().Engine();
    RunTicks(engine, 6);
    // Stored samples, treatment, steps and running steps (of the only treatment).
    const auto stored = [&] {
        std::vector<int> counts;
        for (const char *sql : {"SELECT COUNT(*) FROM samples", "SELECT COUNT(*) FROM services",
                                "SELECT COUNT(*) FROM sub", "SELECT COUNT(*) FROM sub WHERE F_State = 1"})
            counts.push_back(QueryOnce(program->Directory(), sql).toInt());
        return counts;
    };
    const std::vector<int> before = stored();
    ASSERT_GT(before[0], 0);

    simulator.control("fault 1 silent");
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(engine.Busy());
    QElapsedTimer clock;
    clock.start();
    program->Form().QuitWithoutQuestion();   // as a logout ends it: no question
    program->Destroy();   // waits for the poll under way, then drops the treatment
    EXPECT_LT(clock.elapsed(), 5000);
    // Nothing was aborted: the charger goes on, the step is still running.
    EXPECT_EQ(stored(), (std::vector<int>{before[0], 1, 2, 1}));
}

// A standard and a user treatment send the same bytes through the engine as
// through the manager called on the test's own thread (the engine's search
// of the ports aside).
TEST_F(EngineTest, WireIsTheSameAsWithTheManagerOnTheWindowThread)
{
    const std::vector<UserStep> userSteps{{Laden, 120, 600}, {Entladen, 60, 0}};
    // The bytes sent for three polls and a stop of a fresh treatment.
    const auto sentBytes = [&](bool user, bool viaEngine) {
        SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "10"});
        simulator.start();
        Program program;
        TBRASKDataModule &db = program.Parts().DataModule();
        const int batteryID = InsertBattery(db, 1, 300);
        if (viaEngine) {
            TTreatmentEngine &engine = program.Parts().Engine();
            const int ticket = user ? engine.StartUser(batteryID, userSteps, "Lumo an COM1")
                                    : engine.StartStandard(batteryID, 3, 30, 30, "Lumo an COM1");
            EXPECT_TRUE(WaitFor([&] { return !engine.Busy() && engine.HasBattery(batteryID); }, TimeoutMs));
            RunTicks(engine, 3);
            EXPECT_TRUE(engine.Stop(ticket));
            EXPECT_TRUE(WaitFor([&] { return !engine.Busy() && engine.Treatments().empty(); }, TimeoutMs));
        } else {
            RecordStore records(db.SharedStore());
            Ohmrida::TerminalManager terminals;
            terminals.RegisterTerminal("Lumo an ", terminals.Port(1), Ohmrida::DeviceLumo, 0);
            TServiceManager manager(records, terminals, (program.Directory() + "/direct.txt").toStdString());
            if (user)
                manager.StartUserService(batteryID, userSteps, "Lumo an COM1");
            else
                manager.StartStandardService(batteryID, 3, 30, 30, "Lumo an COM1");
            for (int i = 0; i < 3; ++i)
                manager.Tick();
            manager.StopService(manager.At(0));
        }
        std::vector<std::string> sent;
        for (const std::string &line : simulator.trace())
            if (line.rfind("COM1 rx 16 ", 0) != 0)
                sent.push_back(line.substr(0, line.find(" tx ")));
        return sent;
    };
    for (const bool user : {false, true}) {
        SCOPED_TRACE(user ? "user program" : "program 3");
        const std::vector<std::string> direct = sentBytes(user, false);
        EXPECT_GE(direct.size(), 10u);
        EXPECT_EQ(sentBytes(user, true), direct);
    }
}

// The selection dialog searches two chargers that never answer (each port
// costs its full time-out) and a Lumo that does: the Lumo is listed at once,
// and the dialog closes within a tenth of a second of Escape, and switches
// pages as fast, while the search goes on.
TEST_F(EngineTest, SelectionDialogAnswersEscapeAndPageSwitchesWhileItSearchesSilentPorts)
{
    int masters[2];
    for (int i = 0; i < 2; ++i) {
        masters[i] = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_TRUE(masters[i] >= 0 && grantpt(masters[i]) == 0 && unlockpt(masters[i]) == 0);
    }
    SimTest::SimulatorProcess lumo({"--port", "9=lumo"});   // the other ports point nowhere
    lumo.start();
    qputenv("BRASKON_COM1", ptsname(masters[0]));
    qputenv("BRASKON_COM2", ptsname(masters[1]));
    {
        Program program;
        TSelectServiceDialog &dialog = program.Parts().SelectServiceDialog();
        int searchesDone = 0;
        QObject::connect(&program.Parts().Engine(), &TTreatmentEngine::SearchFinished, [&] { ++searchesDone; });
        for (int round = 0; round < 2; ++round) {
            dialog.SetCapacity(1000);
            dialog.open();
            ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
            ASSERT_TRUE(WaitFor([&] { return Part<QComboBox>(dialog, "TerminalCombo")->count() == 1; }, 1000));
            EXPECT_EQ(Part<QComboBox>(dialog, "TerminalCombo")->currentText(), "Lumo an COM9");
            ASSERT_TRUE(dialog.IsSearching());
            EXPECT_TRUE(Part<QLabel>(dialog, "SearchLabel")->isVisible());
            QElapsedTimer clock;
            clock.start();
            if (round == 0) {
                QTabBar *bar = Part<QTabWidget>(dialog, "ProgramPageControl")->tabBar();
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
                ASSERT_TRUE(WaitFor([&] { return dialog.IsSpecialPageActive(); }, 100));
                EXPECT_LT(clock.elapsed(), 100);
                Part<QTabWidget>(dialog, "ProgramPageControl")->setCurrentIndex(0);
                clock.restart();
            }
            QTest::keyClick(dialog.windowHandle(), Qt::Key_Escape);
            ASSERT_TRUE(WaitFor([&] { return !dialog.isVisible(); }, 100));
            EXPECT_LT(clock.elapsed(), 100) << "ms from Escape to the closed dialog";
            EXPECT_FALSE(dialog.IsSearching());
            EXPECT_TRUE(program.Form().statusBar()->currentMessage().isEmpty());
        }
        // The searches' late answers go nowhere.
        ASSERT_TRUE(WaitFor([&] { return searchesDone == 2; }, TimeoutMs));
        EXPECT_EQ(Part<QComboBox>(dialog, "TerminalCombo")->count(), 1);
        EXPECT_FALSE(Part<QLabel>(dialog, "SearchLabel")->isVisible());
    }
    qunsetenv("BRASKON_COM1");
    qunsetenv("BRASKON_COM2");
    for (int master : masters)
        close(master);
}

// Two Varns, all eight channels recording: every treatment is polled once in
// each clock period, the two ports side by side.
TEST_F(EngineTest, TwoVarnsEightTreatmentsArePolledOncePerClockPeriod)
{
    SimTest::SimulatorProcess simulator({"--port", "1=varn", "--port", "2=varn", "--speed", "1"});
    simulator.start();
    Program program;
    TTreatmentEngine &engine = program.Parts().Engine();
    std::vector<int> services;
    for (int port = 1; port <= 2; ++port)
        for (int channel = 1; channel <= 4; ++channel)
            services.push_back(StartOn(program,
                                       QStringLiteral("Varn/Akku%1 an COM%2").arg(channel).arg(port).toStdString(),
                                       int(services.size()) + 1)
                                   .ServiceID);
    ASSERT_EQ(std::count(services.begin(), services.end(), 0), 0);
    RunTicks(engine, 1);   // the start sequences (each Varn channel waits 2 s)

    std::map<int, int> polls;
    QObject::connect(&engine, &TTreatmentEngine::Polled, [&](const PollReport &report) {
        if (report.Polled && report.Answered)
            ++polls[report.ServiceID];
    });
    constexpr int clockMs = 500, periods = 8;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] { engine.Tick(); });
    clock.start(clockMs);
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(WaitFor([&] { return elapsed.elapsed() >= periods * clockMs; }, TimeoutMs));
    clock.stop();
    ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }, TimeoutMs));
    for (const int id : services)
        EXPECT_NEAR(polls[id], periods, 1) << "treatment " << id;
    for (const PortPace &pace : engine.Paces())
        EXPECT_FALSE(pace.Stretched) << "COM" << pace.Port << " round of " << pace.RoundMs << " ms";
    EXPECT_TRUE(PacesText(engine.Paces(), clockMs).isEmpty());
}

// A battery that another program adds to the database file shows in the
// window's list within two seconds, the selected battery kept.
TEST_F(EngineTest, BatteryAddedByAnotherProgramAppearsInTheWindowsList)
{
    Program program;
    program.Parts().DataModule().FollowOtherPCs();
    InsertBattery(program.Parts().DataModule(), 1, 300);
    program.Parts().DataModule().ReopenBatteries(1);
    QAbstractItemModel *batteries = Part<QTableView>(program.Form(), "BatteryDBGrid")->model();
    const int before = batteries->rowCount();
    QProcess cli;
    cli.start(QStringLiteral(BRASKON_CLI_PATH), {"--database", program.Directory(), "battery", "add", "--capacity",
                                                 "800", "--type", "NMH", "--cells", "4"});
    ASSERT_TRUE(cli.waitForFinished(TimeoutMs));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitFor([&] { return batteries->rowCount() == before + 1; }, 5000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(program.Parts().DataModule().SelectedBatteryID(), 1);
}
