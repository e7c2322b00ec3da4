// The treatment engine, on its own thread, inside the whole program against braskon-sim.
#include <gtest/gtest.h>

#include "ProgramFixture.h"
#include "SimulatorProcess.h"
#include "TestDatabase.h"

#include "charger/TerminalManager.h"
#include "database/Datamodule.h"
#include "livecontrol/ServiceCommands.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QTest>

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
        const int ticket = engine.StartStandard(InsertBattery(program.Db(), batteryID, 300), 3, 30, 30, terminal);
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
    program.Parts().Terminals().Scan();
    const TreatmentInfo treatment = StartOn(program, "Lumo an COM1");
    TTreatmentEngine &engine = program.Parts().Engine();
    RunTicks(engine, 2);

    simulator.control("fault 1 silent");
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(engine.Busy());
    // While the engine waits for the answer (about 1.5 s) the window takes keys and opens its menu.
    QElapsedTimer clock;
    clock.start();
    qint64 longestGap = 0, last = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    probe.start(5);
    QLineEdit edit;
    edit.show();
    QTest::keyClicks(&edit, "Akku");
    QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    ASSERT_TRUE(WaitFor([&] { return edit.text() == "Akkux"; }, 200));
    form.activateWindow();
    form.MenuFile->popup(form.mapToGlobal(QPoint(0, 0)));
    EXPECT_TRUE(form.MenuFile->isVisible());
    EXPECT_TRUE(engine.Busy()) << "the poll was still waiting meanwhile";
    form.MenuFile->close();
    ASSERT_TRUE(WaitFor([&] { return !engine.Busy(); }, TimeoutMs));
    EXPECT_GE(clock.elapsed(), 1000) << "the silent poll took its time-out on the engine thread";
    EXPECT_LT(longestGap, 250) << "ms the window's event loop stood still";
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
    program.Parts().Terminals().Scan();
    TTreatmentEngine &engine = program.Parts().Engine();
    const TreatmentInfo first = StartOn(program, "Varn/Akku1 an COM2");
    const TreatmentInfo second = StartOn(program, "Varn/Akku2 an COM2", 2);
    ASSERT_EQ(form.AccuTab->count(), 2);
    RunTicks(engine, 1);   // channel 1 started

    // Channel 2's first poll runs the start sequence (two 1 s waits); its page is stopped meanwhile, twice.
    const size_t traceBefore = simulator.trace().size();
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(WaitFor([&] { return simulator.trace().size() > traceBefore; }, TimeoutMs));
    ASSERT_TRUE(engine.Busy());
    form.AccuTab->setCurrentIndex(1);
    form.UpdateMenus();
    ASSERT_TRUE(form.MenuStopService->isEnabled());
    form.MenuStopService->trigger();
    form.UpdateMenus();
    EXPECT_FALSE(form.MenuStopService->isEnabled()) << "its stop is under way";
    form.ButtonStopService->trigger();   // a second click meanwhile does nothing
    ASSERT_TRUE(WaitFor([&] { return form.AccuTab->count() == 1 && !engine.Busy(); }, TimeoutMs));

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
    program->Parts().Terminals().Scan();
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
    program->Form().close();
    program->Destroy();   // waits for the poll under way, then drops the treatment
    EXPECT_LT(clock.elapsed(), 5000);
    // Nothing was aborted: the charger goes on, the step is still running.
    EXPECT_EQ(stored(), (std::vector<int>{before[0], 1, 2, 1}));
}

// A standard and a user treatment send the same bytes through the engine as
// through the manager called on the test's own thread.
TEST_F(EngineTest, WireIsTheSameAsWithTheManagerOnTheWindowThread)
{
    struct NoWindows : ServiceHost {
        ServiceControlWindow *CreateServicePage(int) override { return nullptr; }
        void DeleteServicePage(ServiceControlWindow *) override {}
        std::vector<LiveSampleSink *> DiagramWindows() override { return {}; }
        void ShowBatteryPage() override {}
    };
    const std::vector<UserStep> userSteps{{Laden, 120, 600}, {Entladen, 60, 0}};
    // The bytes sent for three polls and a stop of a fresh treatment.
    const auto sentBytes = [&](bool user, bool viaEngine) {
        SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "10"});
        simulator.start();
        Program program;
        Ohmrida::TerminalManager &terminals = program.Parts().Terminals();
        terminals.RegisterTerminal("Lumo an ", terminals.Port(1), Ohmrida::DeviceLumo, 0);
        TBRASKDataModule &db = program.Parts().DataModule();
        const int batteryID = InsertBattery(db, 1, 300);
        if (viaEngine) {
            TTreatmentEngine &engine = program.Parts().Engine();
            const int ticket = user ? engine.StartUser(batteryID, userSteps, "Lumo an COM1")
                                    : engine.StartStandard(batteryID, 3, 30, 30, "Lumo an COM1");
            RunTicks(engine, 3);
            EXPECT_TRUE(engine.Stop(ticket));
            EXPECT_TRUE(WaitFor([&] { return !engine.Busy() && engine.Treatments().empty(); }, TimeoutMs));
        } else {
            NoWindows windows;
            TServiceManager manager(db, terminals, (program.Directory() + "/direct.txt").toStdString());
            if (user)
                manager.StartUserService(windows, batteryID, userSteps, "Lumo an COM1");
            else
                manager.StartStandardService(windows, batteryID, 3, 30, 30, "Lumo an COM1");
            for (int i = 0; i < 3; ++i)
                manager.Tick(windows);
            manager.StopService(windows, manager.At(0));
        }
        std::vector<std::string> sent;
        for (const std::string &line : simulator.trace())
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
