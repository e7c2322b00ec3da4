// The treatment selection dialog driven through its real widgets, with a
// stand-in port search that answers as the engine does (the end-to-end tests
// run the real one).
#include <gtest/gtest.h>

#include "tests/support/WindowParts.h"

#include "charger/Terminal.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/StartReason.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <set>
#include <tuple>

namespace {

// Label, port, device type and address of a terminal the search finds.
using FoundTerminal = std::tuple<std::string, int, uint8_t, uint8_t>;

class SelectServiceDialogTest : public ::testing::Test {
protected:
    SelectServiceDialogTest()
        : dialog([this] { return StartSearch(); }, [this](const std::string& name) { return busy.count(name) > 0; })
    {
        dialog.SetAlertSound([this] { ++beeps; });
    }

    // A search whose answers come from the event loop, port by port and then
    // all together, unless the test answers itself (answerAtOnce false).
    int StartSearch()
    {
        const int number = ++searches;
        if (answerAtOnce)
            QTimer::singleShot(0, &dialog, [this, number] { Answer(number); });
        return number;
    }
    void Answer(int number)
    {
        QVector<TerminalInfo> all;
        for (const auto& [label, port, deviceType, address] : found) {
            TerminalInfo info;
            info.Name = QString::fromStdString(label) + QStringLiteral("COM%1").arg(port);
            info.Kind = deviceType;
            info.Port = port;
            info.Address = address;
            info.MinCurrent = Ohmrida::Terminal::MinCurrentOf(deviceType);
            info.MaxCurrent = Ohmrida::Terminal::MaxCurrentOf(deviceType);
            dialog.TerminalsFound(number, {info});
            all.append(info);
        }
        dialog.SearchFinished(number, all);
    }

    ~SelectServiceDialogTest() override { dialog.hide(); }

    // Shows the dialog and waits until the search of the showing is through.
    void Show(int capacity)
    {
        dialog.SetCapacity(capacity);
        const int before = searches;
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return searches > before && !dialog.IsSearching(); }));
        QApplication::processEvents();
    }

    void Click(QWidget* widget)
    {
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(8, widget->height() / 2));
        QApplication::processEvents();
    }

    void ShowPage(int index)
    {
        QTabBar* bar = Part<QTabWidget>(dialog, "ProgramPageControl")->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        QApplication::processEvents();
    }

    // Types text into a grid cell as the user does: select, type, Enter.
    void TypeIntoCell(int row, int column, const QString& text)
    {
        QTableWidget* grid = Part<QTableWidget>(dialog, "UserProgStringGrid");
        grid->setFocus();
        grid->setCurrentCell(row, column);
        QTest::keyClick(grid, Qt::Key_F2);
        auto* line = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(line, nullptr) << "no cell editor opened";
        line->selectAll();
        QTest::keyClick(line, Qt::Key_Delete);
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
        QApplication::processEvents();
    }

    QString Cell(int row, int column) const
    {
        const QTableWidgetItem* item = Part<QTableWidget>(dialog, "UserProgStringGrid")->item(row, column);
        return item ? item->text() : QString();
    }

    QStringList Terminals() const
    {
        QStringList items;
        for (int i = 0; i < Part<QComboBox>(dialog, "TerminalCombo")->count(); ++i)
            items << Part<QComboBox>(dialog, "TerminalCombo")->itemText(i);
        return items;
    }

    std::set<std::string> busy;
    std::vector<FoundTerminal> found{{"Ohmrida an ", 1, Ohmrida::DeviceOhmrida, 0x00},
                                     {"Varn/Akku1 an ", 2, Ohmrida::DeviceVarn, 0x00},
                                     {"Varn/Akku2 an ", 2, Ohmrida::DeviceVarn, 0x40}};
    int searches = 0;
    int beeps = 0;
    bool answerAtOnce = true;
    TSelectServiceDialog dialog;
};

}  // namespace

TEST_F(SelectServiceDialogTest, CurrentsFromCapacityAgainstTerminalLimits)
{
    Show(1000);
    ASSERT_EQ(Part<QComboBox>(dialog, "TerminalCombo")->currentText(), "Ohmrida an COM1");
    // Every showing starts on "Kapazitätswert C": 1000 mA is above the 500 mA limit.
    EXPECT_TRUE(Part<QRadioButton>(dialog, "rbChargeC")->isChecked());
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
    // The dialog says why, and what the terminal takes.
    EXPECT_EQ(Part<QLabel>(dialog, "ReasonLabel")->text(),
              "Ladestrom 1000 mA liegt \u00fcber 500 mA, dem H\u00f6chstwert von Ohmrida an COM1");
    EXPECT_EQ(Part<QLabel>(dialog, "RangeLabel")->text(), "Strombereich Ohmrida an COM1: 10 bis 500 mA");

    Click(Part<QRadioButton>(dialog, "rbChargeC10"));
    Click(Part<QRadioButton>(dialog, "rbDischargeC10"));
    EXPECT_EQ(std::make_pair(dialog.ChargeCurrent(), dialog.DischargeCurrent()), std::make_pair(100, 100));
    EXPECT_TRUE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
    EXPECT_EQ(Part<QLabel>(dialog, "ReasonLabel")->text(), "");

    // Typed currents ("Eingabe:").
    Click(Part<QRadioButton>(dialog, "rbChargeUser"));
    ASSERT_TRUE(Part<QLineEdit>(dialog, "ChargeCurrentEdit")->isEnabled());
    Part<QLineEdit>(dialog, "ChargeCurrentEdit")->selectAll();
    QTest::keyClicks(Part<QLineEdit>(dialog, "ChargeCurrentEdit"), "5x01");   // the letter is refused
    EXPECT_EQ(Part<QLineEdit>(dialog, "ChargeCurrentEdit")->text(), "501");
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
    QTest::keyClick(Part<QLineEdit>(dialog, "ChargeCurrentEdit"), Qt::Key_Backspace);
    EXPECT_EQ(dialog.ChargeCurrent(), 50);
    EXPECT_TRUE(Part<QPushButton>(dialog, "StartButton")->isEnabled());

    // C/3 drops the remainder.
    dialog.SetCapacity(100);
    Click(Part<QRadioButton>(dialog, "rbDischargeCThird"));
    EXPECT_EQ(dialog.DischargeCurrent(), 33);
}

TEST_F(SelectServiceDialogTest, UserProgramGridRulesAndBeep)
{
    Show(1000);
    ShowPage(1);
    ASSERT_TRUE(dialog.IsSpecialPageActive());
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled()) << "empty grid";

    TypeIntoCell(0, TSelectServiceDialog::FunctionColumn, "l");   // shown in upper case
    EXPECT_EQ(Cell(0, 0), "L");
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled()) << "letter without current is no step";
    TypeIntoCell(0, TSelectServiceDialog::CurrentColumn, "10012");   // four digits at most
    EXPECT_EQ(Cell(0, 1), "1001");
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled()) << "1001 mA above the 500 mA limit";
    TypeIntoCell(0, TSelectServiceDialog::CurrentColumn, "100");
    TypeIntoCell(1, TSelectServiceDialog::FunctionColumn, "E");   // no current: does not count
    EXPECT_TRUE(Part<QPushButton>(dialog, "StartButton")->isEnabled());

    TypeIntoCell(2, TSelectServiceDialog::FunctionColumn, "E");
    TypeIntoCell(2, TSelectServiceDialog::CurrentColumn, "600");
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled()) << "second step above MaxCurrent";
    EXPECT_EQ(Part<QLabel>(dialog, "ReasonLabel")->text(),
              "Schritt 3: Strom 600 mA liegt \u00fcber 500 mA, dem H\u00f6chstwert von Ohmrida an COM1");
    TypeIntoCell(2, TSelectServiceDialog::CurrentColumn, "50");
    TypeIntoCell(2, TSelectServiceDialog::LimitColumn, "1234567");   // six digits at most
    EXPECT_EQ(Cell(2, 2), "123456");
    EXPECT_TRUE(Part<QPushButton>(dialog, "StartButton")->isEnabled());

    const std::vector<UserStep> steps = dialog.UserSteps();
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(std::make_tuple(steps[0].Function, steps[0].Current, steps[0].TimeLimit, steps[1].Function,
                              steps[1].Current, steps[1].TimeLimit),
              std::make_tuple(int(Laden), 100, 0, int(Entladen), 50, 123456));

    // A bad letter beeps and empties the cell, also when it comes by another
    // path than the editor; digits never reach it.
    TypeIntoCell(0, TSelectServiceDialog::FunctionColumn, "x");
    TypeIntoCell(0, TSelectServiceDialog::FunctionColumn, "7");
    Part<QTableWidget>(dialog, "UserProgStringGrid")->setItem(3, 0, new QTableWidgetItem("Q"));
    EXPECT_EQ(std::make_pair(beeps, Cell(0, 0) + Cell(3, 0)), std::make_pair(2, QString()));

    // The standard page judges its own currents, whatever the grid holds.
    ShowPage(0);
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
}

TEST_F(SelectServiceDialogTest, BusyTerminalsAreLeftOutAndSuchenSearchesAgain)
{
    busy = {"Ohmrida an COM1"};
    Show(1000);
    EXPECT_EQ(Terminals(), QStringList({"Varn/Akku1 an COM2", "Varn/Akku2 an COM2"}));
    EXPECT_EQ(Part<QComboBox>(dialog, "ProgramCombo")->count(), 4);

    // The Varn is gone, a Lumo appeared, and the Ohmrida's treatment was closed.
    found = {{"Ohmrida an ", 1, Ohmrida::DeviceOhmrida, 0x00}, {"Lumo an ", 3, Ohmrida::DeviceLumo, 0x00}};
    busy.clear();
    const int before = searches;
    QTest::mouseClick(Part<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return searches > before && !dialog.IsSearching(); }));
    EXPECT_EQ(Terminals(), QStringList({"Lumo an COM3", "Ohmrida an COM1"}));
    EXPECT_EQ(Part<QComboBox>(dialog, "ProgramCombo")->count(), 5);

    // No free terminal at all keeps Start disabled.
    busy = {"Ohmrida an COM1", "Lumo an COM3"};
    QTest::mouseClick(Part<QPushButton>(dialog, "Button1"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return searches > before + 1 && !dialog.IsSearching(); }));
    EXPECT_EQ(Part<QComboBox>(dialog, "TerminalCombo")->count(), 0);
    Click(Part<QRadioButton>(dialog, "rbChargeC10"));
    Click(Part<QRadioButton>(dialog, "rbDischargeC10"));
    EXPECT_FALSE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
}

// The dialog answers the user while its search runs: the list says so and
// fills as the ports answer, a page can be switched and Escape closes it at
// once; answers after the close are dropped.
TEST_F(SelectServiceDialogTest, SearchRunsBesideTheUserAndTheListFillsAsAnswersArrive)
{
    answerAtOnce = false;
    dialog.SetCapacity(1000);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ASSERT_TRUE(dialog.IsSearching());
    EXPECT_TRUE(Part<QLabel>(dialog, "SearchLabel")->isVisible());
    EXPECT_EQ(Part<QComboBox>(dialog, "TerminalCombo")->placeholderText(), "Suche Ladegeräte...");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    ShowPage(1);
    EXPECT_TRUE(dialog.IsSpecialPageActive());
    ShowPage(0);
    TerminalInfo varn;
    varn.Name = "Varn/Akku1 an COM2";
    varn.Kind = Ohmrida::DeviceVarn;
    varn.MinCurrent = 50;
    varn.MaxCurrent = 2000;
    dialog.TerminalsFound(searches, {varn});
    EXPECT_EQ(Terminals(), QStringList({"Varn/Akku1 an COM2"}));
    EXPECT_EQ(Part<QComboBox>(dialog, "ProgramCombo")->count(), 4) << "chosen while the other ports are still asked";
    EXPECT_TRUE(Part<QPushButton>(dialog, "StartButton")->isEnabled());
    EXPECT_TRUE(dialog.IsSearching());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.IsSearching());
    Answer(searches);   // the ports that answered late
    EXPECT_EQ(Terminals(), QStringList({"Varn/Akku1 an COM2"}));
}

// Every reason the start can be refused for, worded for the user.
TEST(StartReason, EveryRefusalIsExplained)
{
    StartChoice choice;
    choice.Searching = true;
    EXPECT_EQ(StartBlockedReason(choice), "Die Ladeger\u00e4te werden noch gesucht");
    choice.Searching = false;
    EXPECT_EQ(StartBlockedReason(choice), "Kein freies Ladeger\u00e4t gefunden");
    choice.TerminalsListed = 2;
    choice.Terminal = "Lumo an COM7";
    EXPECT_EQ(StartBlockedReason(choice), "\"Lumo an COM7\" ist kein gefundenes Ladeger\u00e4t");
    EXPECT_EQ(CurrentRangeText(choice), "");

    choice.Terminal = "Lumo an COM1";
    choice.TerminalKnown = true;
    choice.MinCurrent = 10;
    choice.MaxCurrent = 500;
    choice.ChargeCurrent = 2000;   // C of a 2000 mAh battery
    choice.DischargeCurrent = 666;
    EXPECT_EQ(StartBlockedReason(choice), "Ladestrom 2000 mA liegt \u00fcber 500 mA, dem H\u00f6chstwert von Lumo an COM1");
    choice.ChargeCurrent = 200;
    EXPECT_EQ(StartBlockedReason(choice),
              "Entladestrom 666 mA liegt \u00fcber 500 mA, dem H\u00f6chstwert von Lumo an COM1");
    choice.DischargeCurrent = 5;
    EXPECT_EQ(StartBlockedReason(choice), "Entladestrom 5 mA liegt unter 10 mA, dem Mindestwert von Lumo an COM1");
    choice.DischargeCurrent = 10;
    EXPECT_EQ(StartBlockedReason(choice), "");
    EXPECT_EQ(CurrentRangeText(choice), "Lumo an COM1: 10 bis 500 mA");

    choice.StandardPage = false;
    EXPECT_EQ(StartBlockedReason(choice), "Noch kein Schritt eingetragen (Funktion L oder E und Strom)");
    choice.Rows = {{"L", "100", ""}, {"", "", ""}, {"E", "9", ""}};
    EXPECT_EQ(StartBlockedReason(choice), "Schritt 3: Strom 9 mA liegt unter 10 mA, dem Mindestwert von Lumo an COM1");
    choice.Rows[2] = {"E", "50", "x"};
    EXPECT_FALSE(StartBlockedReason(choice).isEmpty()) << "a limit the start could not read";
    choice.Rows[2].Limit = "600";
    EXPECT_EQ(StartBlockedReason(choice), "");
}
