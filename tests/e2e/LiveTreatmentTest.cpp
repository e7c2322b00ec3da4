// A treatment from the user's first key press to its stored records: the
// whole program against a simulated Lumo, driven through its real widgets.
#include <gtest/gtest.h>

#include "ProgramDriver.h"
#include "SimulatorProcess.h"

#include "database/Datamodule.h"
#include "diagrams/Diagform.h"
#include "diagrams/MultiChart.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/StepListModel.h"
#include "mainwindow/Mainform.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QTabWidget>
#include <QTableView>

#include <vector>

namespace {

// Generous: a loaded two-core machine may run the ticks much slower.
constexpr int StartTimeoutMs = 30000;
constexpr int TreatmentTimeoutMs = 60000;

std::vector<Sample> StoredSamples(TBRASKDataModule& db, int serviceID)
{
    std::vector<Sample> samples;
    db.SelectSamples(serviceID);
    for (bool more = db.FirstSample(); more; more = db.NextSample()) {
        Sample sample;
        db.GetSample(sample);
        samples.push_back(sample);
    }
    return samples;
}

StepRecord StoredStep(TBRASKDataModule& db, int serviceID, int step)
{
    StepRecord record;
    record.ServiceID = serviceID;
    record.Step = step;
    EXPECT_TRUE(db.GetSubService(record)) << "step " << step;
    return record;
}

QString GridText(const QTableView& grid, int row, int column)
{
    return grid.model()->index(row, column).data().toString();
}

} // namespace

TEST(EndToEnd, DischargeChargeOnASimulatedLumoIsShownLiveAndRecorded)
{
    if (!QFileInfo::exists(QString::fromStdString(SimTest::SimulatorProcess::simulatorPath())))
        GTEST_SKIP() << "braskon-sim is not built";
    // 40 % charged: at C/10 the discharge takes about 4 h and the charge about
    // 10 h of model time, a few seconds at this speed.
    SimTest::SimulatorProcess simulator({"--port", "1=lumo", "--speed", "6000", "--soc", "40"});
    simulator.start();

    E2e::Program program;
    E2e::ModalDriver driver;
    TMainForm& form = program.Form();
    TBRASKDataModule& db = program.Parts().DataModule();

    // A battery through the new-battery dialog: 300 mAh, NMH, 4 cells.
    const int batteryID = program.CreateBatteryWithInsertKey(driver, {"300", 1, "4", "E2E Lumo"});
    ASSERT_GT(batteryID, 0);
    TBRASKDataModule::Battery battery;
    battery.ID = batteryID;
    ASSERT_TRUE(db.LoadBattery(battery));
    EXPECT_EQ(battery.Capacity, 300);
    EXPECT_EQ(battery.Type, 1);
    EXPECT_EQ(battery.Cells, 4);
    EXPECT_EQ(battery.Brand, "E2E Lumo");

    form.TheTimer->setInterval(50);

    // Program 3 at C/10 on the Lumo, from "Service > Starten...".
    TAccuControlForm* live =
        program.StartTreatment(driver, {"Lumo an COM1", "Entladen-Laden", E2e::Current::C10, E2e::Current::C10},
                               StartTimeoutMs);
    ASSERT_NE(live, nullptr) << driver.unexpected.join('\n').toStdString();
    const QString caption = QStringLiteral("Akku %1").arg(batteryID);
    EXPECT_EQ(program.AccuPage(caption), live);
    EXPECT_EQ(live->TerminalLabel->text(), QStringLiteral("Lumo an COM1: Akku %1").arg(batteryID));
    EXPECT_EQ(live->NominalCapacity(), 300);
    EXPECT_EQ(live->VoltageGauge->End(), 8.0);    // 4.8 V nominal
    EXPECT_EQ(live->CurrentGauge->End(), 0.6);    // a Lumo gives at most 500 mA
    // The page is lower than the window's design height: the step grid gives
    // way, the gauges and the value texts above it stay whole.
    EXPECT_EQ(live->Panel2->height(), 121);
    EXPECT_GT(live->SubServicesDBGrid->y(), live->Panel2->geometry().bottom());
    TTreatmentEngine& engine = program.Parts().Engine();
    ASSERT_EQ(engine.Treatments().size(), 1u);
    const TreatmentInfo started = engine.Treatments().front();
    const int serviceID = started.ServiceID;
    ASSERT_NE(serviceID, 0);
    EXPECT_EQ(started.Program, 3);
    EXPECT_EQ(started.DischargeCurrent, 30);
    EXPECT_EQ(started.ChargeCurrent, 30);
    const auto state = [&] { return engine.FindService(serviceID) ? *engine.FindService(serviceID) : TreatmentInfo(); };

    // The discharge is seen live before the treatment moves on.
    ASSERT_TRUE(E2e::WaitFor([&] { return live->VoltageGauge->Value() > 0 && live->PercentLabel->isVisible(); },
                             TreatmentTimeoutMs));

    // "U - Spannungskurve" of the running treatment (the newest record of the
    // battery is the selected one): the tick extends the curve live.
    ASSERT_EQ(db.SelectedServiceID(), serviceID);
    ASSERT_TRUE(form.PopupMenuShowVoltage->isEnabled());
    form.PopupMenuShowVoltage->trigger();
    ASSERT_EQ(form.DiagramTab->count(), 1);
    auto* diagram = form.DiagramTab->widget(0)->findChild<TDiagramForm*>();
    ASSERT_NE(diagram, nullptr);
    const TDiagramForm::CurveKey* key = diagram->FindCurveKey(serviceID, 0);
    ASSERT_NE(key, nullptr);
    const Curve* voltageCurve = diagram->Chart()->GetCurve(key->Name);
    ASSERT_NE(voltageCurve, nullptr);
    const size_t pointsAtOpening = voltageCurve->Data.size();
    ASSERT_TRUE(E2e::WaitFor([&] { return voltageCurve->Data.size() > pointsAtOpening + 2; }, TreatmentTimeoutMs));

    // Ended, and everything the engine sent the windows has arrived.
    ASSERT_TRUE(E2e::WaitFor([&] { return state().State == Service::Ended && !engine.Busy(); }, TreatmentTimeoutMs))
        << "step " << state().CurrentStep << "\n" << simulator.logText();

    // The steps as the database holds them.
    const StepRecord discharge = StoredStep(db, serviceID, 1);
    const StepRecord charge = StoredStep(db, serviceID, 2);
    EXPECT_EQ(discharge.Function, 0);
    EXPECT_EQ(charge.Function, 1);
    EXPECT_EQ(discharge.State, 3);
    EXPECT_EQ(charge.State, 3);
    EXPECT_EQ(discharge.Parameter, 30);
    EXPECT_EQ(charge.Parameter, 30);
    EXPECT_GT(discharge.Duration, 0);
    EXPECT_GT(discharge.Capacity, 0);
    EXPECT_LE(discharge.Capacity, 120 + 2);   // at most the 40 % it held
    EXPECT_GT(charge.Duration, discharge.Duration);
    EXPECT_GT(charge.Capacity, 150);          // charged from (nearly) empty

    // The live window's step grid shows those rows.
    const QTableView& grid = *live->SubServicesDBGrid;
    ASSERT_EQ(grid.model()->rowCount(), 2);
    int row = 0;
    for (const StepRecord& step : {discharge, charge}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(GridText(grid, row, StepListModel::FunctionString), row == 0 ? "Entladen" : "Laden");
        EXPECT_EQ(GridText(grid, row, StepListModel::Parameter), QString::number(step.Parameter));
        EXPECT_EQ(GridText(grid, row, StepListModel::Capacity), QString::number(step.Capacity));
        EXPECT_EQ(GridText(grid, row, StepListModel::DurationString), StepListModel::DurationDisplay(step.Duration));
        EXPECT_EQ(GridText(grid, row, StepListModel::StateString), "OK");
        ++row;
    }

    // Samples of both steps were stored, in time order; the last one is the
    // poll that saw the end, and the gauges show its values.
    const std::vector<Sample> samples = StoredSamples(db, serviceID);
    ASSERT_GE(samples.size(), 4u);
    bool dischargeSampled = false, chargeSampled = false;
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].ServiceID, serviceID);
        dischargeSampled |= samples[i].Step == 1 && samples[i].Current > 0;
        chargeSampled |= samples[i].Step == 2 && samples[i].Current > 0;
        if (i > 0) {
            EXPECT_GE(samples[i].Time, samples[i - 1].Time) << "sample " << i;
        }
    }
    EXPECT_TRUE(dischargeSampled);
    EXPECT_TRUE(chargeSampled);
    EXPECT_GE(samples.back().Time, discharge.Duration + charge.Duration);
    const Sample& last = samples.back();
    EXPECT_DOUBLE_EQ(live->VoltageGauge->Value(), last.Voltage * 0.001);
    EXPECT_DOUBLE_EQ(live->CurrentGauge->Value(), last.Current * 0.001);
    EXPECT_EQ(live->VPanel->text(), TAccuControlForm::NumberText(last.Voltage * 0.001) + " V");
    EXPECT_EQ(live->APanel->text(), TAccuControlForm::NumberText(last.Current * 0.001) + " A");
    EXPECT_GT(last.Voltage, 4000);
    EXPECT_EQ(live->TimePanel->text(), TAccuControlForm::TimeText(state().LastStepTime));
    EXPECT_GE(live->pf->Points().size(), 2u);
    // The diagram got every poll after its opening, up to the last one.
    ASSERT_FALSE(voltageCurve->Data.empty());
    EXPECT_FLOAT_EQ(voltageCurve->Data.back().Value, static_cast<float>(last.Voltage * 0.001));
    // An ended treatment is "waiting": the percentage group is hidden.
    EXPECT_FALSE(live->PercentLabel->isVisible());

    // Every poll left its line in the log: discharging, charging, idle.
    engine.RunOnEngine([](TServiceManager& manager) { manager.FlushLog(); });
    QFile log(program.Directory() + "/log.txt");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray lines = log.readAll();
    EXPECT_TRUE(lines.startsWith("0\t2\n")) << lines.left(40).toStdString();
    EXPECT_TRUE(lines.contains("\n0\t1\n"));
    EXPECT_TRUE(lines.endsWith("\n0\t0\n"));

    // "Service > Abbrechen" closes the page; the records stay as they were.
    form.UpdateMenus();
    QAction* stop = E2e::MenuCommand(*form.menuBar(), "&Service", "&Abbrechen");
    ASSERT_NE(stop, nullptr);
    ASSERT_TRUE(stop->isEnabled());
    stop->trigger();
    ASSERT_TRUE(E2e::WaitFor([&] { return form.AccuTab->count() == 0 && !engine.Busy(); }, StartTimeoutMs));
    EXPECT_EQ(program.AccuPage(caption), nullptr);
    EXPECT_FALSE(engine.HasService(serviceID));
    EXPECT_EQ(form.DatabasePageControl->currentWidget(), form.TabSheetAkkus);
    TBRASKDataModule::Service record;
    record.ID = serviceID;
    ASSERT_TRUE(db.LoadService(record));
    EXPECT_EQ(record.BatteryID, batteryID);
    EXPECT_EQ(record.Program, 3);
    const StepRecord dischargeAfter = StoredStep(db, serviceID, 1);
    const StepRecord chargeAfter = StoredStep(db, serviceID, 2);
    EXPECT_EQ(dischargeAfter.State, 3);
    EXPECT_EQ(chargeAfter.State, 3);
    EXPECT_EQ(chargeAfter.Duration, charge.Duration);
    EXPECT_EQ(chargeAfter.Capacity, charge.Capacity);
    EXPECT_EQ(StoredSamples(db, serviceID).size(), samples.size());
    // The battery is free again for the next treatment.
    EXPECT_TRUE(form.MenuStartService->isEnabled());
    EXPECT_TRUE(form.ButtonStartService->isEnabled());
    EXPECT_TRUE(form.MenuDeleteAkku->isEnabled());
    EXPECT_TRUE(driver.unexpected.isEmpty()) << driver.unexpected.join('\n').toStdString();
}
