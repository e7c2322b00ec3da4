// The dialog's terminal search against simulated chargers on pseudo-terminals.
#include <gtest/gtest.h>

#include "SimulatorProcess.h"
#include "charger/TerminalManager.h"
#include "livecontrol/Selservicedlg.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QTest>

TEST(TerminalSearchSim, ShowingScansThePortsAndLeavesBusyTerminalsOut)
{
    if (!QFileInfo::exists(QString::fromStdString(SimTest::SimulatorProcess::simulatorPath())))
        GTEST_SKIP() << "braskon-sim is not built";
    SimTest::SimulatorProcess simulator({"--port", "1=ohmrida", "--port", "2=varn"});
    simulator.start();

    Ohmrida::TerminalManager terminals;
    TSelectServiceDialog dialog(terminals, [](const std::string& name) { return name == "Varn/Akku2 an COM2"; });
    int searches = 0;
    QObject::connect(&dialog, &TSelectServiceDialog::SearchFinished, [&] { ++searches; });
    dialog.SetCapacity(1000);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return searches == 1 && !dialog.IsSearching(); }, 30000));
    QApplication::processEvents();

    QStringList listed;
    for (int i = 0; i < dialog.TerminalCombo->count(); ++i)
        listed << dialog.TerminalCombo->itemText(i);
    EXPECT_EQ(listed, QStringList({"Ohmrida an COM1", "Varn/Akku1 an COM2", "Varn/Akku3 an COM2",
                                   "Varn/Akku4 an COM2"}));
    EXPECT_EQ(terminals.Count(), 5u);
    EXPECT_EQ(dialog.ProgramCombo->count(), 5);
    EXPECT_EQ(dialog.MaxCurrent(), 500);
    dialog.hide();
}
