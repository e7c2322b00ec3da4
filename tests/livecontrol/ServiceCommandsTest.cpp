// The start and stop commands from the dialog to a treatment page and back,
// with the real data module, service manager and treatment pages.
#include <gtest/gtest.h>

#include "charger/TerminalManager.h"
#include "database/Datamodule.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "treatment/Serviceman.h"

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
          services(database, terminals, directory.filePath("log.txt").toStdString()),
          host(database),
          dialog(terminals, services)
    {
        // Nothing answers on the simulated ports: stop commands go nowhere.
        for (int port = 1; port <= 9; ++port)
            qputenv(QByteArray("BRASKON_COM") + QByteArray::number(port),
                    directory.filePath("no-such-port").toUtf8());
        dialog.SetSearchFunction([](Ohmrida::TerminalManager& manager) {
            manager.Clear();
            manager.RegisterTerminal("Ohmrida an ", manager.Port(1), Ohmrida::DeviceOhmrida, 0x00);
        });
        battery.ID = database.PeekBatteryID();
        battery.Capacity = 1000;
        battery.Type = 1;
        battery.Cells = battery.Form = 4;
        database.InsertBattery(battery);
        database.AdvanceBatteryID();
    }

    ~ServiceCommandsTest() override
    {
        for (int port = 1; port <= 9; ++port)
            qunsetenv(QByteArray("BRASKON_COM") + QByteArray::number(port));
    }

    // Runs the modal start command and lets `choose` act on the dialog once its search is done.
    Service* RunStartCommand(const std::function<void()>& choose)
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
        Service* started = ExecuteStartServiceCommand(dialog, services, host, battery.ID, battery.Capacity);
        QObject::disconnect(connection);
        return started;
    }

    QTemporaryDir directory;
    TBRASKDataModule database;
    Ohmrida::TerminalManager terminals;
    TServiceManager services;
    TabHost host;
    TSelectServiceDialog dialog;
    TBRASKDataModule::Battery battery;
};

}  // namespace

TEST_F(ServiceCommandsTest, StandardStartAddsAPageAndStopRemovesIt)
{
    Service* service = RunStartCommand([&] {
        dialog.rbChargeC10->click();
        dialog.rbDischargeC10->click();
        QTest::mouseClick(dialog.StartButton, Qt::LeftButton);
    });
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(std::make_tuple(service->Program(), service->ChargeCurrent(), service->DischargeCurrent()),
              std::make_tuple(1, 100, 100));

    ASSERT_EQ(host.AccuTab.count(), 1);
    EXPECT_EQ(host.AccuTab.tabText(0), QString("Akku %1").arg(battery.ID));
    TAccuControlForm* form = ActiveAccuForm(host.AccuTab);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->TerminalLabel->text(), QString("Ohmrida an COM1: Akku %1").arg(battery.ID));
    EXPECT_EQ(form->NominalCapacity(), 1000);
    EXPECT_EQ(form->VoltageGauge->End(), 8.0);   // 4 NMH cells: 4,8 V
    EXPECT_EQ(form->CurrentGauge->End(), 0.6);   // 500 mA terminal
    EXPECT_EQ(form->SubServiceQuery->index(0, StepListModel::StateString).data().toString(), "folgt");

    const int serviceID = service->ID();
    ASSERT_TRUE(ExecuteStopServiceCommand(services, host, host.AccuTab));
    EXPECT_EQ(services.Count(), 0);
    EXPECT_EQ(host.AccuTab.count(), 0);
    EXPECT_EQ(host.batteryPageShown, 1);
    StepRecord stored{serviceID, 1};
    ASSERT_TRUE(database.GetSubService(stored));
    EXPECT_EQ(stored.State, Abgebrochen);
    EXPECT_FALSE(ExecuteStopServiceCommand(services, host, host.AccuTab)) << "no page left";
}

TEST_F(ServiceCommandsTest, UserProgramStartsFromTheGridAndCancelStartsNothing)
{
    Service* cancelled = RunStartCommand([&] { QTest::mouseClick(dialog.Button4, Qt::LeftButton); });
    EXPECT_EQ(cancelled, nullptr);
    EXPECT_EQ(host.AccuTab.count(), 0);

    Service* service = RunStartCommand([&] {
        dialog.ProgramPageControl->setCurrentWidget(dialog.SpecialTabSheet);
        dialog.UserProgStringGrid->setItem(0, 0, new QTableWidgetItem("L"));
        dialog.UserProgStringGrid->setItem(0, 1, new QTableWidgetItem("100"));
        dialog.UserProgStringGrid->setItem(0, 2, new QTableWidgetItem("600"));
        dialog.UserProgStringGrid->setItem(2, 0, new QTableWidgetItem("E"));
        dialog.UserProgStringGrid->setItem(2, 1, new QTableWidgetItem("50"));
        QTest::mouseClick(dialog.StartButton, Qt::LeftButton);
    });
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->Program(), 0);
    ASSERT_EQ(service->StepCount(), 2);
    EXPECT_EQ(service->Step(0).TimeLimit, 600);
    EXPECT_EQ(service->Step(1).Function, Entladen);
    EXPECT_EQ(service->Step(1).Parameter, 50);
    EXPECT_EQ(ActiveAccuForm(host.AccuTab)->SubServiceQuery->rowCount(), 2);

    // The busy terminal is gone from the next showing: Start stays disabled.
    bool startEnabled = true;
    int listed = -1;
    Service* second = RunStartCommand([&] {
        listed = dialog.TerminalCombo->count();
        startEnabled = dialog.StartButton->isEnabled();
        dialog.reject();
    });
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(listed, 0);
    EXPECT_FALSE(startEnabled);
}
