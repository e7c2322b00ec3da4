// The main window driven through its real widgets: command enabling, the
// layout rule, the battery, search, delete and options flows, the remarks
// memo, the list keys and quitting.

#include "ProgramFixture.h"

#include "mainwindow/Commands.h"
#include "mainwindow/Dialogs.h"
#include "mainwindow/Mainform.h"

#include "charger/Terminal.h"
#include "charger/TerminalManager.h"
#include "database/Datamodule.h"
#include "treatment/Serviceman.h"

#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCursor>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

// A treatment held by the service manager, on a terminal of port 1, with a
// page in the treatment area; nothing is sent until it is polled.
Service *AddHeldTreatment(Program &program, int batteryID)
{
    Ohmrida::Terminal terminal("Ohmrida COM1", &program.Parts().Terminals().Port(1), Ohmrida::DeviceOhmrida, 0);
    ServiceControlWindow *window = program.Form().CreateServicePage(batteryID);
    auto service = std::make_unique<Service>(program.Db(), batteryID, terminal, window, 1, 100, 100);
    window->SetService(service.get());
    return program.Parts().ServiceManager().Add(std::move(service));
}

void Fill(QDialog *dialog, const char *field, const QString &text)
{
    auto *edit = dialog->findChild<QLineEdit *>(QLatin1String(field));
    QVERIFY2(edit, field);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QCOMPARE(edit->text(), text);
}

void ClickOk(QDialog *dialog, const char *button = "OKBtn")
{
    auto *ok = dialog->findChild<QPushButton *>(QLatin1String(button));
    QVERIFY(ok);
    QTest::mouseClick(ok, Qt::LeftButton);
}

// The new-battery dialog filled with an ID (empty: keep the proposal) and
// optionally a capacity, then OK.
ModalDriver::DialogHandler NewBattery(const QString &id = QString(), const QString &capacity = QString())
{
    return [id, capacity](QDialog *dialog) {
        if (!id.isEmpty())
            Fill(dialog, "IDEdit", id);
        if (!capacity.isEmpty())
            Fill(dialog, "CapEdit", capacity);
        ClickOk(dialog);
    };
}

ModalDriver::DialogHandler Search(int id)
{
    return [id](QDialog *dialog) {
        auto *field = dialog->findChild<QSpinBox *>(QStringLiteral("edID"));
        QVERIFY(field);
        field->selectAll();
        QTest::keyClicks(field, QString::number(id));
        ClickOk(dialog, "Button1");
    };
}

ModalDriver::DialogHandler Options(const QString &seconds, const QString &mV, const QString &mA,
                                   QStringList *shown = nullptr)
{
    return [=](QDialog *dialog) {
        if (shown) {
            for (const char *name : {"edTimer", "edMinDeltaU", "edMinDeltaI"})
                shown->append(dialog->findChild<QLineEdit *>(QLatin1String(name))->text());
        }
        Fill(dialog, "edTimer", seconds);
        Fill(dialog, "edMinDeltaU", mV);
        Fill(dialog, "edMinDeltaI", mA);
        ClickOk(dialog, "Button1");
    };
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void commandEnablingFollowsTheData();
    void layoutThresholds();
    void newBatteryFlow();
    void newBatteryDialogKeepsAndResetsFields();
    void searchSelectsTheBattery();
    void deleteQuestionsCarryTheNumber();
    void optionsFlow();
    void optionsStopAtTheFirstBadField();
    void remarksReachTheBatteryRow();
    void listKeysAndTitleClick();
    void aboutBoxClosesOnAnyKey();
    void quittingLeavesTreatmentsAlone();
    void commandParsing();
    void damagedDatabaseStopsTheStart();
};

void MainWindowTest::commandEnablingFollowsTheData()
{
    Program program;
    TMainForm &form = program.Form();
    ModalDriver driver;
    form.UpdateMenus();

    // Empty database.
    for (QAction *off : {form.MenuSearch, form.ButtonSearch, form.MenuDeleteAkku, form.PopupMenuDeleteAkku,
                         form.MenuStartService, form.ButtonStartService, form.MenuCopyTable, form.MenuCopyInfo,
                         form.MenuPrintInfo, form.MenuExportInfo, form.MenuDeleteService,
                         form.PopupMenuShowVoltage, form.MenuStopService, form.ButtonStopService})
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    QVERIFY(form.MenuNewAkku->isEnabled());
    form.BatteryDBGrid->setFocus();
    QTest::keyClick(form.BatteryDBGrid, Qt::Key_Delete);
    QCoreApplication::processEvents();
    QVERIFY(driver.messages.isEmpty());

    // One battery.
    program.AddBattery(1);
    QTRY_VERIFY(form.MenuCopyTable->isEnabled());
    for (QAction *on : {form.MenuSearch, form.ButtonSearch, form.MenuDeleteAkku, form.PopupMenuDeleteAkku,
                        form.MenuStartService, form.ButtonStartService, form.PopupMenuStartService,
                        form.MenuCopyInfo, form.MenuPrintInfo, form.MenuExportTable, form.ButtonPrintInfo})
        QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
    QVERIFY(!form.MenuDeleteService->isEnabled());
    QVERIFY(!form.PopupMenuShowCurrent->isEnabled());
    QVERIFY(!form.MenuCopyProtocol->isEnabled());

    // The battery with a treatment held by the service manager.
    AddHeldTreatment(program, 1);
    program.Db().ReopenBatteries(1);
    QTRY_VERIFY(form.MenuStopService->isEnabled());
    QVERIFY(!form.MenuDeleteAkku->isEnabled());
    QVERIFY(!form.PopupMenuDeleteAkku->isEnabled());
    QVERIFY(!form.MenuStartService->isEnabled());
    QVERIFY(!form.ButtonStartService->isEnabled());
    QVERIFY(!form.MenuDeleteService->isEnabled());
    QVERIFY(form.PopupMenuShowVoltage->isEnabled());
    QVERIFY(form.MenuStopService->isEnabled());
    QVERIFY(form.ButtonStopService->isEnabled());
    form.BatteryDBGrid->setFocus();
    QTest::keyClick(form.BatteryDBGrid, Qt::Key_Delete);
    form.ServicesDBGrid->setFocus();
    QTest::keyClick(form.ServicesDBGrid, Qt::Key_Delete);
    QCoreApplication::processEvents();
    QVERIFY(driver.messages.isEmpty());
    QCOMPARE(driver.unexpectedDialogs, 0);
    QCOMPARE(program.BatteryCount(), 1);
    QCOMPARE(program.Db().ServiceQuery()->rowCount(), 1);

    // On the records page the protocol can be copied ...
    form.DatabasePageControl->setCurrentWidget(form.TabSheetServices);
    QTRY_VERIFY(form.MenuCopyProtocol->isEnabled());
    QVERIFY(form.MenuPrintProtocol->isEnabled());
    // ... until the database area is switched off.
    form.MenuShowDB->trigger();
    QVERIFY(!form.ButtonShowDB->isChecked());
    QVERIFY(form.BottomPanel->isHidden());
    QTRY_VERIFY(!form.MenuCopyTable->isEnabled());
    for (QAction *off : {form.MenuCopyInfo, form.MenuCopyProtocol, form.MenuExportTable, form.MenuExportInfo,
                         form.MenuExportProtocol, form.MenuPrintTable, form.MenuPrintInfo, form.MenuPrintProtocol})
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    form.ButtonShowDB->trigger();
    QVERIFY(form.MenuShowDB->isChecked());
    QTRY_VERIFY(form.MenuCopyTable->isEnabled());

    // Diagram commands: only new and open without a diagram page.
    QList<QAction *> diagramCommands = {form.MenuExportDiagram, form.MenuPrintDiagram, form.ButtonPrintDiagram,
                                        form.MenuCopyDiagram, form.MenuCloseDiagram, form.MenuSaveDiagram,
                                        form.ButtonSaveDiagram, form.MenuCloseAllDiagrams, form.MenuSetupDiagram,
                                        form.ButtonSetupDiagram, form.PopupMenuCloseDiagram,
                                        form.PopupMenuPrintDiagram, form.PopupMenuDiagramCurveProps,
                                        form.PopupMenuDiagramScalaProps, form.PopupMenuDiagramPaintProps};
    for (QAction *off : diagramCommands)
        QVERIFY2(!off->isEnabled(), qPrintable(off->objectName()));
    QVERIFY(!form.MenuZoomBack->isEnabled());
    QVERIFY(form.MenuNewDiagram->isEnabled() && form.MenuOpenDiagram->isEnabled());
    form.ButtonNewDiagram->trigger();
    QCOMPARE(form.DiagramTab->count(), 1);
    QTRY_VERIFY(form.MenuSaveDiagram->isEnabled());
    for (QAction *on : diagramCommands)
        QVERIFY2(on->isEnabled(), qPrintable(on->objectName()));
    QVERIFY(!form.MenuZoomBack->isEnabled());
    QVERIFY(!form.ButtonZoomBack->isEnabled());
    form.MenuCloseDiagram->trigger();
    QCOMPARE(form.DiagramTab->count(), 0);
    QTRY_VERIFY(!form.MenuSaveDiagram->isEnabled());

    // Stopping removes the page; the battery may be deleted again.
    form.MenuStopService->trigger();
    QTRY_COMPARE(form.AccuTab->count(), 0);
    QTRY_VERIFY(!form.MenuStopService->isEnabled());
    QVERIFY(form.MenuDeleteAkku->isEnabled());
    QCOMPARE(driver.Failures(), 0);
}

void MainWindowTest::layoutThresholds()
{
    Program program;
    TMainForm &form = program.Form();
    // The rule looks at the outer size, frame included.
    const QSize frame = form.frameGeometry().size() - form.size();
    auto resizeTo = [&form, frame](int width, int height) {
        form.resize(QSize(width, height) - frame);
        QTRY_COMPARE(form.frameGeometry().size(), QSize(width, height));
    };
    QVERIFY(!form.BottomPanel->isHidden());   // the start size shows everything
    QVERIFY(!form.RightPanel->isHidden());

    resizeTo(599, 500);
    QVERIFY(form.RightPanel->isHidden());
    QVERIFY(form.BatteryPanel->isHidden());
    QVERIFY(!form.BottomPanel->isHidden());
    QVERIFY(!form.ClientPanel->isHidden());

    resizeTo(600, 450);
    QVERIFY(!form.RightPanel->isHidden());
    QVERIFY(!form.BatteryPanel->isHidden());
    QVERIFY(!form.BottomPanel->isHidden());

    resizeTo(700, 449);
    QVERIFY(form.BottomPanel->isHidden());
    QVERIFY(!form.RightPanel->isHidden());

    // A switched-off area stays hidden when the window grows again.
    resizeTo(700, 500);
    form.MenuShowControls->trigger();
    QVERIFY(!form.ButtonShowControls->isChecked());
    QVERIFY(form.RightPanel->isHidden());
    QVERIFY(!form.BatteryPanel->isHidden());
    resizeTo(500, 500);
    resizeTo(800, 500);
    QVERIFY(form.RightPanel->isHidden());
    form.MenuShowControls->trigger();
    QVERIFY(!form.RightPanel->isHidden());
    form.MenuShowDiagrams->trigger();
    QVERIFY(form.ClientPanel->isHidden());
    // Small sizes are not held up by the fixed panels.
    resizeTo(300, 200);
    QVERIFY(form.BottomPanel->isHidden() && form.RightPanel->isHidden());
}

void MainWindowTest::newBatteryFlow()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    while (db.PeekBatteryID() < 7)
        db.AdvanceBatteryID();
    ModalDriver driver;

    // A typed ID leaves the counter alone.
    driver.OnDialog(NewBattery(QStringLiteral("30")));
    form.MenuNewAkku->trigger();
    QCOMPARE(db.PeekBatteryID(), 7);
    QCOMPARE(program.SelectedBatteryID(), 30);

    // The proposal accepted moves it on.
    driver.OnDialog(NewBattery());
    form.ButtonNewBattery->trigger();
    QCOMPARE(program.SelectedBatteryID(), 7);
    QCOMPARE(db.PeekBatteryID(), 8);
    QCOMPARE(driver.Failures(), 0);

    // The proposal 9 collides with a typed 9: one failure, counter moved on.
    driver.OnDialog(NewBattery(QStringLiteral("9")));
    form.MenuNewAkku->trigger();
    driver.OnDialog(NewBattery());
    form.MenuNewAkku->trigger();   // 8
    QCOMPARE(db.PeekBatteryID(), 9);
    const int before = program.BatteryCount();
    driver.OnDialog(NewBattery());
    form.MenuNewAkku->trigger();
    QCOMPARE(driver.Failures(), 1);
    QCOMPARE(db.PeekBatteryID(), 10);
    QCOMPARE(program.BatteryCount(), before);

    // Letters in the capacity store nothing.
    driver.OnDialog(NewBattery(QStringLiteral("40"), QStringLiteral("abc")));
    form.MenuNewAkku->trigger();
    QCOMPARE(driver.Failures(), 2);
    QCOMPARE(program.BatteryCount(), before);
    QCOMPARE(db.PeekBatteryID(), 10);

    // Cancel stores nothing and keeps the counter.
    driver.OnDialog([](QDialog *dialog) { dialog->reject(); });
    form.MenuNewAkku->trigger();
    QCOMPARE(program.BatteryCount(), before);
    QCOMPARE(db.PeekBatteryID(), 10);
    QCOMPARE(driver.dialogsHandled, 7);
    QCOMPARE(driver.unexpectedDialogs, 0);
    QCOMPARE(driver.messages.size(), 2);

    // The Insert key in the battery list creates a battery too; the dialog
    // still holds the bad capacity.
    driver.OnDialog(NewBattery(QString(), QStringLiteral("600")));
    form.BatteryDBGrid->setFocus();
    QTest::keyClick(form.BatteryDBGrid, Qt::Key_Insert);
    QCOMPARE(driver.Failures(), 2);
    QCOMPARE(driver.dialogsHandled, 8);
    QCOMPARE(program.SelectedBatteryID(), 10);
}

void MainWindowTest::newBatteryDialogKeepsAndResetsFields()
{
    Program program;
    TMainForm &form = program.Form();
    ModalDriver driver;
    driver.OnDialog([](QDialog *dialog) {
        Fill(dialog, "CapEdit", QStringLiteral("1200"));
        Fill(dialog, "ZellenEdit", QStringLiteral("6"));
        Fill(dialog, "BezEdit", QStringLiteral("Sender"));
        dialog->findChild<QComboBox *>(QStringLiteral("TypCombo"))->setCurrentIndex(2);
        dialog->findChild<QComboBox *>(QStringLiteral("FormCombo"))->setCurrentIndex(5);
        ClickOk(dialog);
    });
    form.MenuNewAkku->trigger();
    TBRASKDataModule::Battery stored;
    program.Db().ReadSelectedBattery(stored);
    QCOMPARE(stored.Capacity, 1200);
    QCOMPARE(stored.Cells, 6);
    QCOMPARE(stored.Type, 2);
    QCOMPARE(stored.Form, 5);
    QCOMPARE(stored.Brand, QStringLiteral("Sender"));
    QCOMPARE(form.DBTextBezeichnung->text(), QStringLiteral("Sender"));

    QStringList second;
    driver.OnDialog([&second](QDialog *dialog) {
        for (const char *name : {"IDEdit", "CapEdit", "ZellenEdit", "BezEdit"})
            second << dialog->findChild<QLineEdit *>(QLatin1String(name))->text();
        second << QString::number(dialog->findChild<QComboBox *>(QStringLiteral("TypCombo"))->currentIndex());
        second << QString::number(dialog->findChild<QComboBox *>(QStringLiteral("FormCombo"))->currentIndex());
        dialog->reject();
    });
    form.MenuNewAkku->trigger();
    QCOMPARE(second, (QStringList{"2", "1200", "6", "Sender", "0", "0"}));
}

void MainWindowTest::searchSelectsTheBattery()
{
    Program program;
    TMainForm &form = program.Form();
    for (int id : {1, 2, 3})
        program.AddBattery(id);
    ModalDriver driver;
    QVERIFY(form.MenuSearch->isEnabled());

    form.MenuGotoAkkus->trigger();
    QCOMPARE(program.SelectedBatteryID(), 1);
    driver.OnDialog(Search(0));
    form.MenuSearch->trigger();
    QCOMPARE(program.SelectedBatteryID(), 3);

    form.MenuGotoAkkus->trigger();
    driver.OnDialog(Search(99));
    form.ButtonSearch->trigger();
    QCOMPARE(program.SelectedBatteryID(), 3);

    driver.OnDialog(Search(2));
    form.MenuSearch->trigger();
    QCOMPARE(program.SelectedBatteryID(), 2);
    QCOMPARE(form.BatteryDBGrid->currentIndex().row(), 1);
    QCOMPARE(form.DatabasePageControl->currentWidget(), form.TabSheetAkkus);

    // IDs beyond 16 bits can be typed.
    program.AddBattery(100000);
    form.MenuGotoAkkus->trigger();
    driver.OnDialog(Search(100000));
    form.MenuSearch->trigger();
    QCOMPARE(program.SelectedBatteryID(), 100000);
    QCOMPARE(driver.Failures(), 0);

    // The spinner's arrows stop at 0.
    auto &find = program.Parts().FindAccuDialog();
    find.edID->setValue(1);
    find.edID->stepBy(-5);
    QCOMPARE(find.edID->value(), 0);
}

void MainWindowTest::deleteQuestionsCarryTheNumber()
{
    Program program;
    TMainForm &form = program.Form();
    for (int id : {4, 5, 6})
        program.AddBattery(id);
    TBRASKDataModule::Service record;
    record.BatteryID = 5;
    record.Program = 1;
    program.Db().ReopenBatteries(5);
    program.Db().InsertService(record);
    ModalDriver driver;

    driver.Answer(QMessageBox::No);
    form.MenuDeleteAkku->trigger();
    QCOMPARE(driver.messages.size(), 1);
    QCOMPARE(driver.messages[0].caption, QStringLiteral("Akku löschen"));
    QCOMPARE(driver.messages[0].text, QStringLiteral("Akku 5 und alle zugehörigen Aufzeichnungen wirklich löschen?"));
    QCOMPARE(driver.messages[0].icon, QMessageBox::Question);
    QCOMPARE(program.BatteryCount(), 3);
    QCOMPARE(program.SelectedBatteryID(), 5);

    driver.Answer(QMessageBox::No);
    form.ServicesDBGrid->setFocus();
    QTest::keyClick(form.ServicesDBGrid, Qt::Key_Delete);
    QCOMPARE(driver.messages.size(), 2);
    QCOMPARE(driver.messages[1].caption, QStringLiteral("Aufzeichnung Löschen"));
    QCOMPARE(driver.messages[1].text, QStringLiteral("Ausgewählte Aufzeichnung wirklich löschen?"));
    QCOMPARE(program.Db().ServiceQuery()->rowCount(), 1);

    driver.Answer(QMessageBox::Yes);
    form.PopupMenuDeleteAkku->trigger();
    QCOMPARE(driver.messages.size(), 3);
    QCOMPARE(program.BatteryCount(), 2);
    QCOMPARE(program.SelectedBatteryID(), 6);   // the last row
    QCOMPARE(program.Db().ServiceQuery()->rowCount(), 0);
    QCOMPARE(driver.Failures(), 0);
}

void MainWindowTest::optionsFlow()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    ModalDriver driver;
    QStringList shown;

    driver.OnDialog(Options(QStringLiteral("0"), QStringLiteral("-20"), QStringLiteral("3"), &shown));
    form.MenuOptions->trigger();
    QCOMPARE(shown, (QStringList{"10", "10", "1"}));   // the defaults
    QCOMPARE(form.TheTimer->interval(), 1000);
    QCOMPARE(db.MinDeltaU(), 20);
    QCOMPARE(db.MinDeltaI(), 3);

    shown.clear();
    driver.OnDialog(Options(QStringLiteral("-5"), QStringLiteral("0"), QStringLiteral("-2"), &shown));
    form.MenuOptions->trigger();
    QCOMPARE(shown, (QStringList{"1", "20", "3"}));
    QCOMPARE(form.TheTimer->interval(), 5000);
    QCOMPARE(db.MinDeltaU(), 0);
    QCOMPARE(db.MinDeltaI(), 2);

    shown.clear();
    driver.OnDialog([&shown](QDialog *dialog) {
        shown << dialog->findChild<QLineEdit *>(QStringLiteral("edTimer"))->text();
        Fill(dialog, "edTimer", QStringLiteral("99"));
        dialog->reject();
    });
    form.MenuOptions->trigger();
    QCOMPARE(shown, QStringList{"5"});
    QCOMPARE(form.TheTimer->interval(), 5000);
    QCOMPARE(driver.Failures(), 0);
    QVERIFY(form.TheTimer->isActive());
}

void MainWindowTest::optionsStopAtTheFirstBadField()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    ModalDriver driver;

    driver.OnDialog(Options(QStringLiteral("3"), QStringLiteral("1x"), QStringLiteral("7")));
    form.MenuOptions->trigger();
    QCOMPARE(driver.Failures(), 1);
    QCOMPARE(driver.messages.size(), 1);
    QCOMPARE(db.MinDeltaI(), 7);
    QCOMPARE(db.MinDeltaU(), 10);
    QCOMPARE(form.TheTimer->interval(), 10000);

    // A clock beyond the timer's range is refused, the fields before it taken.
    driver.OnDialog(Options(QStringLiteral("3000000"), QStringLiteral("15"), QStringLiteral("4")));
    form.MenuOptions->trigger();
    QCOMPARE(driver.Failures(), 2);
    QCOMPARE(db.MinDeltaU(), 15);
    QCOMPARE(form.TheTimer->interval(), 10000);
}

void MainWindowTest::remarksReachTheBatteryRow()
{
    Program program;
    TMainForm &form = program.Form();
    for (int id : {1, 2})
        program.AddBattery(id);
    TBRASKDataModule &db = program.Db();
    auto stored = [&db](int id) {
        TBRASKDataModule::Battery battery;
        battery.ID = id;
        db.LoadBattery(battery);
        return battery.Info;
    };
    form.MenuGotoAkkus->trigger();
    QCOMPARE(program.SelectedBatteryID(), 1);

    // Focus leaving the memo.
    QPlainTextEdit *memo = form.DBMemoInfo->Editor();
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("Zelle 3 schwach"));
    form.BatteryDBGrid->setFocus();
    QTRY_COMPARE(stored(1), QStringLiteral("Zelle 3 schwach"));

    // A row change made by the keyboard while the memo still had the focus
    // (no focus change), and a page change.
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, QStringLiteral("!"));
    db.BatteryQuery()->last();
    QCOMPARE(stored(1), QStringLiteral("Zelle 3 schwach!"));
    QCOMPARE(memo->toPlainText(), QString());
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("neu"));
    form.DatabasePageControl->setCurrentWidget(form.TabSheetServices);
    QCOMPARE(stored(2), QStringLiteral("neu"));

    // At most 250 characters.
    form.DatabasePageControl->setCurrentWidget(form.TabSheetAkkus);
    memo->setFocus();
    memo->selectAll();
    QTest::keyClicks(memo, QString(260, QLatin1Char('x')));
    QCOMPARE(memo->toPlainText().size(), 250);

    // Quitting.
    form.close();
    QCOMPARE(stored(2), QString(250, QLatin1Char('x')));
}

void MainWindowTest::listKeysAndTitleClick()
{
    Program program;
    TMainForm &form = program.Form();
    program.AddBattery(1, 600, QStringLiteral("c"));
    program.AddBattery(2, 300, QStringLiteral("a"));
    program.AddBattery(3, 900, QStringLiteral("b"));
    TBRASKDataModule::Battery lead;
    lead.ID = 4;
    lead.Type = 2;
    lead.Brand = QStringLiteral("0");
    program.Db().InsertBattery(lead);
    TBRASKDataModule::Battery nc;
    nc.ID = 5;
    nc.Type = 0;
    nc.Brand = QStringLiteral("d");
    program.Db().InsertBattery(nc);
    TBRASKDataModule::Service record;
    record.BatteryID = 5;
    program.Db().InsertService(record);
    ModalDriver driver;

    // Enter opens the context menu; Backspace returns to the battery page.
    form.PopupMenuGotoServicesClick();
    QCOMPARE(form.DatabasePageControl->currentWidget(), form.TabSheetServices);
    QTest::keyClick(form.ServicesDBGrid, Qt::Key_Return);
    QTRY_VERIFY(form.PopupMenuServices->isVisible());
    form.PopupMenuServices->hide();
    QTest::keyClick(form.ServicesDBGrid, Qt::Key_Backspace);
    QCOMPARE(form.DatabasePageControl->currentWidget(), form.TabSheetAkkus);
    QVERIFY(form.BatteryDBGrid->hasFocus());
    QCOMPARE(program.SelectedBatteryID(), 1);
    QTest::keyClick(form.BatteryDBGrid, Qt::Key_Enter);
    QTRY_VERIFY(form.PopupMenuAkkus->isVisible());
    form.PopupMenuAkkus->hide();
    form.DatabasePageControl->setCurrentWidget(form.TabSheetSubServices);
    form.SubServicesDBGrid->setFocus();
    QTest::keyClick(form.SubServicesDBGrid, Qt::Key_Backspace);
    QCOMPARE(form.DatabasePageControl->currentWidget(), form.TabSheetServices);
    // Ctrl+A goes to the batteries from any list.
    program.Db().ReopenBatteries(3);
    QTest::keyClick(form.ServicesDBGrid, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(form.DatabasePageControl->currentWidget(), form.TabSheetAkkus);
    QCOMPARE(program.SelectedBatteryID(), 1);

    // Title clicks order by the stored field; the type by its code.
    QHeaderView *header = form.BatteryDBGrid->horizontalHeader();
    auto clickTitle = [&](const char *column) {
        const int logical = program.Db().BatteryQuery()->columnIndex(QLatin1String(column));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(logical) + 5, header->height() / 2));
    };
    auto order = [&program] {
        QList<int> ids;
        for (int row = 0; row < program.BatteryCount(); ++row)
            ids << program.Db().BatteryQuery()->value(row, QStringLiteral("F_ID")).toInt();
        return ids;
    };
    clickTitle("F_Capacity");
    QCOMPARE(order().mid(2), (QList<int>{2, 1, 3}));   // 4 and 5 have capacity 0
    clickTitle("F_TypeString");
    QCOMPARE(order().first(), 5);
    QCOMPARE(order().last(), 4);   // Blei after NMH
    clickTitle("F_Brand");
    QCOMPARE(order(), (QList<int>{4, 2, 3, 1, 5}));
    clickTitle("F_ID");
    QCOMPARE(order(), (QList<int>{1, 2, 3, 4, 5}));
    QCOMPARE(driver.Failures(), 0);

    // The grid and the query keep the same current row both ways.
    form.BatteryDBGrid->setFocus();
    QTest::keyClick(form.BatteryDBGrid, Qt::Key_Down);
    QCOMPARE(program.SelectedBatteryID(), 2);
    QCOMPARE(form.DBTextBezeichnung->text(), QStringLiteral("a"));
    program.Db().ReopenBatteries(4);
    QCOMPARE(form.BatteryDBGrid->currentIndex().row(), 3);
    QCOMPARE(form.DBTextBezeichnung->text(), QStringLiteral("0"));
}

void MainWindowTest::aboutBoxClosesOnAnyKey()
{
    Program program;
    ModalDriver driver;
    bool closed = false;
    driver.OnDialog([&closed](QDialog *dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Info über Braskon"));
        QObject::connect(dialog, &QDialog::rejected, [&closed] { closed = true; });
        QTest::keyClick(dialog, Qt::Key_A);
    });
    QTest::mouseDClick(program.Form().Image1, Qt::LeftButton);
    QVERIFY(closed);
    QCOMPARE(driver.dialogsHandled, 1);
}

void MainWindowTest::quittingLeavesTreatmentsAlone()
{
    // The charger's port is one end of a pseudo-terminal; whatever the
    // program sent would arrive at the other end.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    qputenv("BRASKON_COM1", ptsname(master));

    {
        Program program;
        TMainForm &form = program.Form();
        program.AddBattery(1);
        program.AddBattery(2);
        Service *first = AddHeldTreatment(program, 1);
        AddHeldTreatment(program, 2);
        const int serviceID = first->ID();
        QCOMPARE(form.AccuTab->count(), 2);
        QCOMPARE(form.AccuTab->tabText(0), QStringLiteral("Akku 1"));
        ModalDriver driver;

        form.MenuQuit->trigger();
        QTRY_VERIFY(!form.isVisible());
        QVERIFY(!form.TheTimer->isActive());
        QCOMPARE(driver.messages.size(), 0);
        QCOMPARE(driver.unexpectedDialogs, 0);
        QCOMPARE(program.Parts().ServiceManager().Count(), 2);
        program.Destroy();

        // The first step is still waiting: nothing was aborted.
        TBRASKDataModule database(program.Directory());
        StepRecord step;
        step.ServiceID = serviceID;
        step.Step = 1;
        QVERIFY(database.GetSubService(step));
        QCOMPARE(step.State, static_cast<int>(Folgt));
    }
    char buffer[64];
    QCOMPARE(read(master, buffer, sizeof buffer), ssize_t(-1));
    close(master);
    qunsetenv("BRASKON_COM1");
}

void MainWindowTest::commandParsing()
{
    using MainCommands::ParseDecimal;
    QCOMPARE(ParseDecimal(QStringLiteral(" 42 ")), 42);
    QCOMPARE(ParseDecimal(QStringLiteral("-7")), -7);
    QCOMPARE(ParseDecimal(QStringLiteral("2147483647")), 2147483647);
    for (const char *bad : {"", "abc", "1x", "2147483648", "1.5", "0x10"})
        QVERIFY_THROWS_EXCEPTION(MainCommands::InputError, ParseDecimal(QLatin1String(bad)));
    QCOMPARE(MainCommands::TimerPeriodForSeconds(0), 1000);
    QCOMPARE(MainCommands::TimerPeriodForSeconds(-5), 5000);
    QVERIFY_THROWS_EXCEPTION(MainCommands::InputError, MainCommands::TimerPeriodForSeconds(-2147483647 - 1));
}

void MainWindowTest::damagedDatabaseStopsTheStart()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("braskon.db")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const QByteArray before = QByteArray(4096, 'x');
    QVERIFY_THROWS_EXCEPTION(DatabaseError, TBraskon(dir.path(), dir.filePath(QStringLiteral("log.txt")).toStdString()));
    for (QWidget *window : QApplication::topLevelWidgets())
        QVERIFY(!window->isVisible());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);   // nothing lost
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
