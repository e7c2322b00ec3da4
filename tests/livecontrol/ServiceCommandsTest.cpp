// The start and stop commands from the dialog to a treatment page and back,
// with the real data module, treatment engine (and its port search) and
// treatment pages, against scripted chargers that acknowledge every command
// but never answer a status read.
#include <gtest/gtest.h>

#include "tests/support/WindowParts.h"

#include "database/Datamodule.h"
#include "database/SqlStore.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "treatment/TreatmentEngine.h"

#include "tests/support/ScriptedPeer.h"
#include "tests/support/SqliteLock.h"
#include "tests/support/TestRows.h"

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

// Nothing else on the ports: set before the chargers attach to theirs.
struct NoOtherPorts {
    NoOtherPorts() { ChargerTest::DetachAllPorts(); }
    ~NoOtherPorts() { ChargerTest::DetachAllPorts(); }
};

class ServiceCommandsTest : public ::testing::Test {
protected:
    ServiceCommandsTest()
        : ohmrida(1, ChargerTest::ChargerScript(1)),
          lumo(2, ChargerTest::ChargerScript(2)),
          store(std::make_shared<SqlStore>(directory.path())),
          database(store),
          engine(store, directory.filePath("log.txt").toStdString()),
          pages(accuTab, database, engine, {}),
          dialog([this] { return engine.SearchTerminals(); },
                 [this](const std::string& name) { return engine.HasTerminal(name); })
    {
        QObject::connect(&engine, &TTreatmentEngine::TerminalsFound, &dialog, &TSelectServiceDialog::TerminalsFound);
        QObject::connect(&engine, &TTreatmentEngine::SearchFinished, &dialog, &TSelectServiceDialog::SearchFinished);
        QObject::connect(&pages, &TLivePages::PageRemoved, [this] { ++pagesRemoved; });
        QObject::connect(&engine, &TTreatmentEngine::RecordsWritten, &database, &TBRASKDataModule::Follow);
        InsertBattery(database, batteryID, capacity);
    }

    // Runs the modal start command and lets `choose` act on the dialog once its search is done.
    int RunStartCommand(const std::function<void()>& choose)
    {
        bool chosen = false;
        bool searched = false;
        const auto connection = QObject::connect(&dialog, &TSelectServiceDialog::SearchEnded, [&] { searched = true; });
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
            Part<QComboBox>(dialog, "TerminalCombo")->setCurrentIndex(Part<QComboBox>(dialog, "TerminalCombo")->findText(terminal));
            Part<QRadioButton>(dialog, "rbChargeC10")->click();
            Part<QRadioButton>(dialog, "rbDischargeC10")->click();
            QTest::mouseClick(Part<QPushButton>(dialog, "StartButton"), Qt::LeftButton);
        };
    }

    // The treatment of a ticket once the engine has started it (and its page is there).
    TreatmentInfo Started(int ticket)
    {
        TreatmentInfo found;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            for (const TreatmentInfo& info : engine.Treatments())
                if (info.Ticket == ticket && info.ServiceID != 0 && !engine.Busy() && pages.FormOf(ticket))
                    found = info;
            return found.ServiceID != 0;
        }));
        return found;
    }

    NoOtherPorts noOtherPorts;
    ChargerTest::ScriptedPeer ohmrida, lumo;
    QTemporaryDir directory;
    std::shared_ptr<SqlStore> store;
    TBRASKDataModule database;
    TTreatmentEngine engine;
    QTabWidget accuTab;
    TLivePages pages;
    TSelectServiceDialog dialog;
    int pagesRemoved = 0;
    const int batteryID = 1, capacity = 1000;
};

}  // namespace

TEST_F(ServiceCommandsTest, StartsFromBothPagesAndAStopClickedTwiceStopsTheActivePageOnly)
{
    EXPECT_EQ(RunStartCommand([&] { QTest::mouseClick(Part<QPushButton>(dialog, "Button4"), Qt::LeftButton); }), 0);   // cancelled
    EXPECT_EQ(accuTab.count(), 0);
    const TreatmentInfo first = Started(RunStartCommand(Program1On("Ohmrida an COM1")));
    EXPECT_EQ(std::make_tuple(first.Terminal, first.Program, first.ChargeCurrent, first.DischargeCurrent),
              std::make_tuple(std::string("Ohmrida an COM1"), 1, 100, 100));
    ASSERT_NE(ActiveAccuForm(accuTab), nullptr);
    EXPECT_EQ(Part<QLabel>(*ActiveAccuForm(accuTab), "TerminalLabel")->text(), QString("Ohmrida an COM1: Akku %1").arg(batteryID));

    // A user program from the grid, on the one terminal still free.
    const TreatmentInfo second = Started(RunStartCommand([&] {
        Part<QTabWidget>(dialog, "ProgramPageControl")->setCurrentWidget(Part<QWidget>(dialog, "SpecialTabSheet"));
        Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(0, 0, new QTableWidgetItem("L"));
        Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(0, 1, new QTableWidgetItem("100"));
        Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(0, 2, new QTableWidgetItem("600"));
        Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(2, 0, new QTableWidgetItem("E"));
        Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(2, 1, new QTableWidgetItem("50"));
        QTest::mouseClick(Part<QPushButton>(dialog, "StartButton"), Qt::LeftButton);
    }));
    EXPECT_EQ(second.Program, 0);
    StepRecord discharge{second.ServiceID, 2};
    ASSERT_TRUE(database.GetSubService(discharge));
    EXPECT_EQ(std::make_pair(discharge.Function, discharge.Parameter), std::make_pair(int(Entladen), 50));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Part<StepListModel>(*ActiveAccuForm(accuTab), "SubServiceQuery")->rowCount() == 2; }));

    // The second treatment's page is the active one; a double click on stop
    // stops it alone, never the first one.
    ASSERT_TRUE(ExecuteStopServiceCommand(engine, pages));
    EXPECT_FALSE(ExecuteStopServiceCommand(engine, pages)) << "its stop is under way";
    ASSERT_TRUE(QTest::qWaitFor([&] { return accuTab.count() == 1 && !engine.Busy(); }));
    EXPECT_EQ(pagesRemoved, 1);
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
    engine.SetWriteWaits(100, 20);
    const TreatmentInfo started = Started(RunStartCommand(Program1On("Ohmrida an COM1")));
    TAccuControlForm* form = ActiveAccuForm(accuTab);
    ASSERT_NE(form, nullptr);

    // No status answer (the script acknowledges a status request as if it
    // were a command: a short answer, asked again as often as a poll may),
    // but the first poll starts the step ("läuft"); its row cannot be written
    // while another program holds the file.
    auto lock = std::make_unique<SimTest::SqliteLock>(database.DatabaseFile());
    ASSERT_TRUE(engine.Tick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->WriteFailing() && !engine.Busy(); }, 20000));
    const QLabel* status = Part<QLabel>(*form, "StatusLabel");
    const StepListModel* steps = Part<StepListModel>(*form, "SubServiceQuery");
    EXPECT_TRUE(status->isVisibleTo(form));
    const QString text = status->toolTip().isEmpty() ? status->text() : status->toolTip();
    EXPECT_TRUE(text.contains("Speichern fehlgeschlagen seit ") && text.contains("1 Schrittergebnis")) << text.toStdString();
    EXPECT_EQ(steps->index(0, StepListModel::StateString).data().toString(), "folgt");

    lock.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.Tick(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->WriteFailing() && !engine.Busy(); }, 20000));
    // The charger stays silent; that is all the line still says.
    EXPECT_FALSE(status->text().contains("Speichern")) << status->text().toStdString();
    StepRecord stored{started.ServiceID, 1};
    ASSERT_TRUE(database.GetSubService(stored));
    EXPECT_EQ(stored.State, Laeuft);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return steps->index(0, StepListModel::StateString).data().toString() == "läuft";
    }));
}
