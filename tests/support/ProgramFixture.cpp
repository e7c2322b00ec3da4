#include "tests/support/ProgramFixture.h"

#include "tests/support/SimulatorProcess.h"

#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "mainwindow/Dialogs.h"
#include "treatment/TreatmentEngine.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <algorithm>

bool SimulatorBuilt()
{
    return QFileInfo::exists(QString::fromStdString(SimTest::SimulatorProcess::simulatorPath()));
}

QAction *MenuCommand(const QMenuBar &menuBar, const QString &menu, const QString &item)
{
    for (QAction *top : menuBar.actions())
        for (QAction *action : top->text() == menu && top->menu() ? top->menu()->actions() : QList<QAction *>())
            if (action->text() == item)
                return action;
    return nullptr;
}

Program::Program(const QString &database)
    : braskon_(std::make_unique<TBraskon>(database.isEmpty() ? dir_.path() : database,
                                          dir_.filePath(QStringLiteral("log.txt")).toStdString()))
{
    Form().show();
    if (!QTest::qWaitForWindowExposed(&Form()))
        qWarning("main window not exposed");
    QCoreApplication::processEvents();
}

ModalDriver::ModalDriver()
{
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalDriver::Poll);
    timer_.start();
}

int ModalDriver::Failures() const
{
    return int(std::count_if(messages.begin(), messages.end(), [](const Message &message) {
        return message.text == QStringLiteral("Ausführung fehlgeschlagen!") && message.caption == QStringLiteral("Fehler")
            && message.icon == QMessageBox::Critical;
    }));
}

QString ModalDriver::Report() const
{
    QStringList seen = unexpectedTitles_;
    for (const Message &message : messages)
        seen << message.caption + QStringLiteral(": ") + message.text;
    return seen.join(QStringLiteral("; "));
}

void ModalDriver::Poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        messages.push_back({box->windowTitle(), box->text(), box->icon(), box->informativeText()});
        QAbstractButton *button = nullptr;
        if (!answers_.empty()) {
            button = box->button(answers_.front());
            answers_.pop_front();
        }
        if (!button)
            button = box->escapeButton() ? box->escapeButton() : box->buttons().value(0);
        if (button)
            button->click();
        else
            box->reject();
    } else if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && dialog != handling_) {
        if (handlers_.empty()) {
            ++unexpectedDialogs;
            unexpectedTitles_ << dialog->windowTitle();
            dialog->reject();
            return;
        }
        std::function<bool(QDialog *)> handler = std::move(handlers_.front());
        handlers_.pop_front();
        handling_ = dialog;
        if (!handler(dialog))
            handlers_.push_front(std::move(handler));
        handling_ = nullptr;
    }
}

namespace {

// Replaces a line edit's text by typing, as a user does.
void TypeInto(QWidget *edit, const QString &text)
{
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Delete);
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(edit, ch.toLatin1());
        else   // no key code for umlauts: the event carries the text
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

// Moves a non-editable combo box to the row with that text by the arrow keys.
bool ChooseByKeys(QComboBox *combo, const QString &text)
{
    const int target = combo->findText(text);
    combo->setFocus();
    while (target >= 0 && combo->currentIndex() != target)
        QTest::keyClick(combo, combo->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
    return target >= 0;
}

void ClickCurrent(Current current, QRadioButton *c10, QRadioButton *cThird, QRadioButton *c)
{
    QTest::mouseClick(current == Current::C10 ? c10 : current == Current::CThird ? cThird : c, Qt::LeftButton);
}

bool FillSelectServiceDialog(TSelectServiceDialog *select, const StandardTreatment &treatment)
{
    const int terminalRow = Part<QComboBox>(*select, "TerminalCombo")->findText(treatment.terminal);
    if (terminalRow < 0)
        return false;
    Part<QComboBox>(*select, "TerminalCombo")->setCurrentIndex(terminalRow);
    Part<QTabWidget>(*select, "ProgramPageControl")->setCurrentWidget(Part<QWidget>(*select, "StandardTabSheet"));
    if (!ChooseByKeys(Part<QComboBox>(*select, "ProgramCombo"), treatment.programName))
        return false;
    ClickCurrent(treatment.charge, Part<QRadioButton>(*select, "rbChargeC10"), Part<QRadioButton>(*select, "rbChargeCThird"), Part<QRadioButton>(*select, "rbChargeC"));
    ClickCurrent(treatment.discharge, Part<QRadioButton>(*select, "rbDischargeC10"), Part<QRadioButton>(*select, "rbDischargeCThird"), Part<QRadioButton>(*select, "rbDischargeC"));
    if (!Part<QPushButton>(*select, "StartButton")->isEnabled())
        return false;
    QTest::mouseClick(Part<QPushButton>(*select, "StartButton"), Qt::LeftButton);
    return true;
}

}  // namespace

int Program::CreateBatteryWithInsertKey(ModalDriver &driver, const NewBattery &battery)
{
    TMainForm &form = Form();
    driver.OnDialog([battery](QDialog *dialog) {
        auto *newBattery = qobject_cast<TNewBatteryDialog *>(dialog);
        if (!newBattery)
            return dialog->reject();
        TypeInto(Part<QLineEdit>(*newBattery, "CapEdit"), battery.capacity);
        Part<QComboBox>(*newBattery, "TypCombo")->setFocus();
        Part<QComboBox>(*newBattery, "TypCombo")->setCurrentIndex(0);
        for (int row = 0; row < battery.type; ++row)
            QTest::keyClick(Part<QComboBox>(*newBattery, "TypCombo"), Qt::Key_Down);
        TypeInto(Part<QLineEdit>(*newBattery, "ZellenEdit"), battery.cells);
        TypeInto(Part<QLineEdit>(*newBattery, "BezEdit"), battery.brand);
        QTest::mouseClick(Part<QPushButton>(*newBattery, "OKBtn"), Qt::LeftButton);
    });
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetAkkus"));
    Part<QTableView>(form, "BatteryDBGrid")->setFocus();
    const int before = BatteryCount();
    QTest::keyClick(Part<QTableView>(form, "BatteryDBGrid"), Qt::Key_Insert);   // returns once the dialog has closed
    // The engine stores the battery; the list then selects it.
    WaitFor([&] { return BatteryCount() > before && !Parts().Engine().Busy(); });
    return BatteryCount() > 0 ? Db().SelectedBatteryID() : 0;
}

TAccuControlForm *Program::StartTreatment(ModalDriver &driver, const StandardTreatment &treatment,
                                          int timeoutMs)
{
    TMainForm &form = Form();
    form.UpdateMenus();
    QAction *start = MenuCommand(*form.menuBar(), QStringLiteral("&Service"), QStringLiteral("&Starten..."));
    if (!start || !start->isEnabled())
        return nullptr;
    const int pagesBefore = Part<QTabWidget>(form, "AccuTab")->count();
    driver.OnDialog([treatment](QDialog *dialog) {
        auto *select = qobject_cast<TSelectServiceDialog *>(dialog);
        if (select && select->IsSearching())
            return false;   // the list is complete once the search has ended
        if (!select || !FillSelectServiceDialog(select, treatment))
            dialog->reject();
        return true;
    });
    start->trigger();   // returns once the dialog has closed and the start is given
    // The engine starts the treatment on its thread; the page then follows.
    const TTreatmentEngine &engine = Parts().Engine();
    if (!WaitFor([&] { return driver.AllHandled() && Part<QTabWidget>(form, "AccuTab")->count() == pagesBefore + 1 && !engine.Busy(); },
                 timeoutMs))
        return nullptr;
    return Part<QTabWidget>(form, "AccuTab")->widget(pagesBefore)->findChild<TAccuControlForm *>();
}

