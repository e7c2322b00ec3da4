// A treatment from the user's first key press to its stored records: the
// whole program against a simulated Lumo, driven through its real widgets.
#include <gtest/gtest.h>

#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/WindowParts.h"

#include "database/Datamodule.h"
#include "diagrams/Diagform.h"
#include "diagrams/MultiChart.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/StepListModel.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QAction>
#include <QMenuBar>
#include <QTabWidget>
#include <QTableView>

namespace {

// Generous: a loaded two-core machine may run the ticks much slower.
constexpr int StartTimeoutMs = 30000;
constexpr int TreatmentTimeoutMs = 60000;

std::vector<Sample> StoredSamples(TBRASKDataModule& db, int serviceID)
{
    std::vector<Sample> samples;
    db.SelectSamples(serviceID);
    for (bool more = db.FirstSample(); more; more = db.NextSample())
        db.GetSample(samples.emplace_back());
    return samples;
}

} // namespace

TEST(EndToEnd, DischargeChargeOnASimulatedLumoIsShownLiveAndRecorded)
{
    if (!SimulatorBuilt())
        GTEST_SKIP() << "braskon-sim is not built";
    // 40 % charged: about 4 h of discharge and 10 h of charge, seconds at this speed.
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "6000", "--soc", "40"});
    simulator.start();
    Program program;
    ModalDriver driver;
    TMainForm& form = program.Form();
    TBRASKDataModule& db = program.Parts().DataModule();

    // A battery through the new-battery dialog: 300 mAh, NMH, 4 cells.
    const int batteryID = program.CreateBatteryWithInsertKey(driver, {"300", 1, "4", "E2E Lumo"});
    TBRASKDataModule::Battery battery;
    battery.ID = batteryID;
    ASSERT_TRUE(batteryID > 0 && db.LoadBattery(battery));
    EXPECT_EQ(std::make_tuple(battery.Capacity, battery.Type, battery.Cells, battery.Brand),
              std::make_tuple(300, 1, 4, QString("E2E Lumo")));

    // Program 3 at C/10 on the Lumo, from "Service > Starten...".
    Part<QTimer>(form, "TheTimer")->setInterval(50);
    TAccuControlForm* live =
        program.StartTreatment(driver, {"Lumo an COM1", "Entladen-Laden", Current::C10, Current::C10},
                               StartTimeoutMs);
    ASSERT_NE(live, nullptr) << driver.Report().toStdString();
    EXPECT_EQ(Part<QTabWidget>(form, "AccuTab")->tabText(0), QStringLiteral("Akku %1").arg(batteryID));
    TTreatmentEngine& engine = program.Parts().Engine();
    ASSERT_EQ(engine.Treatments().size(), 1u);
    const TreatmentInfo started = engine.Treatments().front();
    const int serviceID = started.ServiceID;
    EXPECT_EQ(std::make_tuple(started.Program, started.DischargeCurrent, started.ChargeCurrent),
              std::make_tuple(3, 30, 30));
    const auto state = [&] { return engine.FindService(serviceID) ? *engine.FindService(serviceID) : TreatmentInfo(); };

    // The discharge is seen live before the treatment moves on.
    const TArcGauge* voltageGauge = Part<TArcGauge>(*live, "VoltageGauge");
    const QLabel* percent = Part<QLabel>(*live, "PercentLabel");
    ASSERT_TRUE(WaitFor([&] { return voltageGauge->Value() > 0 && percent->isVisible(); },
                             TreatmentTimeoutMs));

    // "U - Spannungskurve" of the running (selected) treatment grows with the ticks.
    ASSERT_EQ(db.SelectedServiceID(), serviceID);
    form.CommandAction(Command::ShowVoltage)->trigger();
    ASSERT_EQ(Part<QTabWidget>(form, "DiagramTab")->count(), 1);
    auto* diagram = Part<QTabWidget>(form, "DiagramTab")->widget(0)->findChild<TDiagramForm*>();
    ASSERT_TRUE(diagram && diagram->FindCurveKey(serviceID, 0));
    const Curve* voltageCurve = diagram->Chart()->GetCurve(diagram->FindCurveKey(serviceID, 0)->Name);
    ASSERT_NE(voltageCurve, nullptr);
    const size_t pointsAtOpening = voltageCurve->Data.size();
    ASSERT_TRUE(WaitFor([&] { return voltageCurve->Data.size() > pointsAtOpening + 2; }, TreatmentTimeoutMs));

    // Ended, and everything the engine sent the windows has arrived.
    ASSERT_TRUE(WaitFor([&] { return state().State == Service::Ended && !engine.Busy(); }, TreatmentTimeoutMs))
        << "step " << state().CurrentStep << "\n" << simulator.logText();

    // The steps as the database holds them, and as the live step grid shows them.
    StepRecord discharge{serviceID, 1}, charge{serviceID, 2};
    ASSERT_TRUE(db.GetSubService(discharge) && db.GetSubService(charge));
    EXPECT_EQ(std::make_tuple(discharge.Function, discharge.State, discharge.Parameter), std::make_tuple(0, 3, 30));
    EXPECT_EQ(std::make_tuple(charge.Function, charge.State, charge.Parameter), std::make_tuple(1, 3, 30));
    // Discharged at most the 40 % it held, charged from (nearly) empty.
    EXPECT_TRUE(discharge.Duration > 0 && discharge.Capacity > 0 && discharge.Capacity <= 122 &&
                charge.Duration > discharge.Duration && charge.Capacity > 150)
        << discharge.Duration << " " << discharge.Capacity << " " << charge.Duration << " " << charge.Capacity;
    const QAbstractItemModel& grid = *Part<QTableView>(*live, "SubServicesDBGrid")->model();
    ASSERT_EQ(grid.rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const StepRecord& step = row == 0 ? discharge : charge;
        QStringList shown;
        for (int column : {StepListModel::FunctionString, StepListModel::Parameter, StepListModel::Capacity,
                           StepListModel::DurationString, StepListModel::StateString})
            shown << grid.index(row, column).data().toString();
        EXPECT_EQ(shown, QStringList({row == 0 ? "Entladen" : "Laden", QString::number(step.Parameter),
                                      QString::number(step.Capacity), StepListModel::DurationDisplay(step.Duration),
                                      "OK"}));
    }

    // Samples of both steps and of no other, in time order. Gauges and diagram
    // show the last reading: the charger idle after the end, which belongs to
    // no step and is not stored.
    const std::vector<Sample> samples = StoredSamples(db, serviceID);
    ASSERT_GE(samples.size(), 4u);
    bool sampled[3] = {};
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].ServiceID, serviceID);
        ASSERT_TRUE(samples[i].Step == 1 || samples[i].Step == 2) << "sample " << i << " of step " << samples[i].Step;
        sampled[samples[i].Step] |= samples[i].Current > 0;
        EXPECT_GE(samples[i].Time, i > 0 ? samples[i - 1].Time : 0) << "sample " << i;
    }
    EXPECT_TRUE(sampled[1] && sampled[2]);
    const Sample& last = samples.back();
    EXPECT_TRUE(last.Step == 2 && last.Time > discharge.Duration && last.Time <= discharge.Duration + charge.Duration)
        << last.Step << " " << last.Time;
    EXPECT_GT(last.Voltage, 4000);
    EXPECT_EQ(Part<TArcGauge>(*live, "CurrentGauge")->Value(), 0.0);
    EXPECT_GT(voltageGauge->Value(), 4.0);
    EXPECT_FLOAT_EQ(voltageCurve->Data.back().Value, static_cast<float>(voltageGauge->Value()));
    EXPECT_FALSE(percent->isVisible());   // an ended treatment is "waiting"

    // "Service > Abbrechen" closes the page; the records stay as they were.
    form.UpdateMenus();
    QAction* stop = MenuCommand(*form.menuBar(), "&Service", "&Abbrechen");
    ASSERT_TRUE(stop && stop->isEnabled());
    stop->trigger();
    ASSERT_TRUE(WaitFor([&] { return Part<QTabWidget>(form, "AccuTab")->count() == 0 && !engine.Busy(); }, StartTimeoutMs));
    EXPECT_FALSE(engine.HasService(serviceID));
    StepRecord chargeAfter{serviceID, 2};
    ASSERT_TRUE(db.GetSubService(chargeAfter));
    EXPECT_EQ(std::make_tuple(chargeAfter.State, chargeAfter.Duration, chargeAfter.Capacity),
              std::make_tuple(3, charge.Duration, charge.Capacity));
    EXPECT_EQ(StoredSamples(db, serviceID).size(), samples.size());
    // The battery is free again for the next treatment.
    EXPECT_TRUE(form.CommandAction(Command::StartService)->isEnabled());
    EXPECT_TRUE(driver.Report().isEmpty()) << driver.Report().toStdString();
}
