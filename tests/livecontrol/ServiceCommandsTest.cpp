// The start and stop commands from the dialog to a treatment page and back,
// with the real data module, treatment engine and treatment pages.
#include <gtest/gtest.h>

#include "charger/TerminalManager.h"
#include "database/Datamodule.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "treatment/TreatmentEngine.h"

#include "SqliteLock.h"
#include "TestRows.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <tuple>

namespace {

// The part of the main window the treatment operations use.
class TabHost : public ServiceHost {
public:
    explicit TabHost(TBRASKDataModule& db) : database(db) {}
    ServiceControlWindow* CreateServicePage(int batteryID) override
    {
        return AddAccuPage(AccuTab, database, batteryID);
    }
    void DeleteServicePage(ServiceControlWindow* window) override { DeleteAccuPage(AccuTab, window); }
    std::vector<LiveSampleSink*> DiagramWindows() override { return {}; }
    void ShowBatteryPage() override { ++batteryPageShown; }

    QTabWidget AccuTab;
    TBRASKDataModule& database;
    int batteryPageShown = 0;
};

class ServiceCommandsTest : public ::testing::Test {
protected:
    ServiceCommandsTest()
        : database(directory.path()),
          host(database),
          engine(database, terminals, host, directory.filePath("log.txt").toStdString()),
          dialog(terminals, [this](const std::string& name) { return engine.HasTerminal(name); })
    {
        // Nothing answers on the simulated ports: stop commands go nowhere.
        for (int port = 1; port <= 9; ++port)
            qputenv(QByteArray("BRASKON_COM") + QByteArray::number(port),
                    directory.filePath("no-such-port").toUtf8());
        dialog.SetSearchFunction([](Ohmrida::TerminalManager& manager) {
            manager.Clear();
            manager.RegisterTerminal("Ohmrida an ", manager.Port(1), Ohmrida::DeviceOhmrida, 0x00);
            manager.RegisterTerminal("Lumo an ", manager.Port(2), Ohmrida::DeviceLumo, 0x00);
        });
        InsertBattery(database, batteryID, capacity);
    }

    ~ServiceCommandsTest() override
    {
        for (int port = 1; port <= 9; ++port)
            qunsetenv(QByteArray("BRASKON_COM") + QByteArray::number(port));
    }

    // Runs the modal start command and lets `choose` act on the dialog once its search is done.
    int RunStartCommand(const std::function<void()>& choose)
    {
        bool chosen = false;
        bool searched = false;
        const auto connection =
            QObject::connect(&dialog, &TSelectServiceDialog::SearchFinished, [&] { searched = true; });
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (chosen || !searched || !dialog.isVisible() || dialog.IsSearching())
                return;
            chosen = true;
            choose();
        });
        driver.start(5);
        const int ticket = ExecuteStartServiceCommand(dialog, engine, batteryID, capacity);
        QObject::disconnect(connection);
        return ticket;
    }

    // Picks the terminal and program 1 at C/10 and starts.
    std::function<void()> Program1On(const QString& terminal)
    {
        return [this, terminal] {
            dialog.TerminalCombo->setCurrentIndex(dialog.TerminalCombo->findText(terminal));
            dialog.rbChargeC10->click();
            dialog.rbDischargeC10->click();
            QTest::mouseClick(dialog.StartButton, Qt::LeftButton);
        };
    }

    // The treatment of a ticket once the engine has started it.
    TreatmentInfo Started(int ticket)
    {
        TreatmentInfo found;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            for (const TreatmentInfo& info : engine.Treatments())
                if (info.Ticket == ticket && info.ServiceID != 0 && !engine.Busy())
                    found = info;
            return found.ServiceID != 0;
        }));
        return found;
    }

    QTemporaryDir directory;
    TBRASKDataModule database;
    Ohmrida::TerminalManager terminals;
    TabHost host;
    TTreatmentEngine engine;
    TSelectServiceDialog dialog;
    const int batteryID = 1, capacity = 1000;
};

}  // namespace

TEST_F(ServiceCommandsTest, StartsFromBothPagesAndAStopClickedTwiceStopsTheActivePageOnly)
{
    EXPECT_EQ(RunStartCommand([&] { QTest::mouseClick(dialog.Button4, Qt::LeftButton); }), 0);   // cancelled
    EXPECT_EQ(host.AccuTab.count(), 0);
    const TreatmentInfo first = Started(RunStartCommand(Program1On("Ohmrida an COM1")));
    EXPECT_EQ(std::make_tuple(first.Terminal, first.Program, first.ChargeCurrent, first.DischargeCurrent),
              std::make_tuple(std::string("Ohmrida an COM1"), 1, 100, 100));
    ASSERT_NE(ActiveAccuForm(host.AccuTab), nullptr);
    EXPECT_EQ(ActiveAccuForm(host.AccuTab)->TerminalLabel->text(), QString("Ohmrida an COM1: Akku %1").arg(batteryID));

    // A user program from the grid, on the one terminal still free.
    const TreatmentInfo second = Started(RunStartCommand([&] {
        dialog.ProgramPageControl->setCurrentWidget(dialog.SpecialTabSheet);
        dialog.UserProgStringGrid->setItem(0, 0, new QTableWidgetItem("L"));
        dialog.UserProgStringGrid->setItem(0, 1, new QTableWidgetItem("100"));
        dialog.UserProgStringGrid->setItem(0, 2, new QTableWidgetItem("600"));
        dialog.UserProgStringGrid->setItem(2, 0, new QTableWidgetItem("E"));
        dialog.UserProgStringGrid->setItem(2, 1, new QTableWidgetItem("50"));
        QTest::mouseClick(dialog.StartButton, Qt::LeftButton);
    }));
    EXPECT_EQ(second.Program, 0);
    StepRecord discharge{second.ServiceID, 2};
    ASSERT_TRUE(database.GetSubService(discharge));
    EXPECT_EQ(std::make_pair(discharge.Function, discharge.Parameter), std::make_pair(int(Entladen), 50));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ActiveAccuForm(host.AccuTab)->SubServiceQuery->rowCount() == 2; }));

    // The second treatment's page is the active one; a double click on stop
    // stops it alone, never the first one.
    ASSERT_TRUE(ExecuteStopServiceCommand(engine, host, host.AccuTab));
    EXPECT_FALSE(ExecuteStopServiceCommand(engine, host, host.AccuTab)) << "its stop is under way";
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.AccuTab.count() == 1 && !engine.Busy(); }));
    EXPECT_EQ(host.batteryPageShown, 1);
    EXPECT_TRUE(engine.HasService(first.ServiceID));
    EXPECT_FALSE(engine.HasService(second.ServiceID));
    for (const auto& [serviceID, state] : {std::pair{first.ServiceID, Folgt}, std::pair{second.ServiceID, Abgebrochen}}) {
        StepRecord stored{serviceID, 1};
        ASSERT_TRUE(database.GetSubService(stored));
        EXPECT_EQ(stored.State, state) << serviceID;
    }
}

// The page of a treatment whose rows cannot be written says so, through the
// engine thread, and the step list catches up once the file is free again.
TEST_F(ServiceCommandsTest, PageSaysThatWritingFailsUntilTheRowsAreIn)
{
    engine.RunOnEngine([](TServiceManager& manager) { manager.SetWriteWaits(100, 20); });
    const TreatmentInfo started = Started(RunStartCommand(Program1On("Ohmrida an COM1")));
    TAccuControlForm* form = ActiveAccuForm(host.AccuTab);
    ASSERT_NE(form, nullptr);

    // Nothing answers, but the first poll starts the step ("läuft"); its row
    // cannot be written while another program holds the file.
    auto lock = std::make_unique<SimTest::SqliteLock>(database.DatabaseFile());
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->WriteFailing() && !engine.Busy(); }));
    EXPECT_TRUE(form->StatusLabel->isVisibleTo(form));
    const QString text = form->StatusLabel->toolTip().isEmpty() ? form->StatusLabel->text() : form->StatusLabel->toolTip();
    EXPECT_TRUE(text.contains("Speichern fehlgeschlagen seit ") && text.contains("1 Schrittergebnis")) << text.toStdString();
    EXPECT_EQ(form->SubServiceQuery->index(0, StepListModel::StateString).data().toString(), "folgt");

    lock.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.Tick(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->WriteFailing() && !engine.Busy(); }));
    // The charger stays silent; that is all the line still says.
    EXPECT_FALSE(form->StatusLabel->text().contains("Speichern")) << form->StatusLabel->text().toStdString();
    StepRecord stored{started.ServiceID, 1};
    ASSERT_TRUE(database.GetSubService(stored));
    EXPECT_EQ(stored.State, Laeuft);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return form->SubServiceQuery->index(0, StepListModel::StateString).data().toString() == "läuft";
    }));
}
