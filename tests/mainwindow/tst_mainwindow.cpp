// The main window driven through its real widgets: command enabling, the
// battery, search, delete and options flows, the remarks memo, the list keys,
// quitting, kept settings, the legend and the live page.

#include "tests/support/CallerEnvironment.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/SimulatorProcess.h"

#include "mainwindow/Dialogs.h"
#include "livecontrol/Accuctrlform.h"

#include "charger/SerialPorts.h"
#include "diagrams/Diagdocs.h"
#include "diagrams/Diagform.h"
#include "diagrams/MultiChart.h"
#include "treatment/Localization.h"
#include "treatment/TreatmentEngine.h"

#include <QApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QTabBar>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextCursor>

#include <memory>

namespace {

// The charger of the held treatments: an Ohmrida on COM1 that only the
// engine's search asks, as long as the window's clock does not tick.
std::unique_ptr<SimTest::SimulatorProcess> OhmridaOnCom1()
{
    auto sim = std::make_unique<SimTest::SimulatorProcess>(std::vector<std::string>{"--port", "1=ohmrida"});
    sim->start();
    return sim;
}

// A treatment held by the engine on the Ohmrida at COM1, with a page in the
// treatment area; nothing but the search is sent until it is polled.
int AddHeldTreatment(Program &program, int batteryID, int programNumber = 1)
{
    TTreatmentEngine &engine = program.Parts().Engine();
    const int ticket = engine.StartStandard(batteryID, programNumber, 100, 100, "Ohmrida an COM1");
    int serviceID = 0;
    (void)QTest::qWaitFor([&] {
        for (const TreatmentInfo &info : engine.Treatments())
            if (info.Ticket == ticket && !engine.Busy())
                serviceID = info.ServiceID;
        return serviceID != 0;
    });
    return serviceID;
}

void ExpectEnabled(const QList<QAction *> &actions, bool enabled)
{
    for (QAction *action : actions)
        QVERIFY2(action->isEnabled() == enabled, qPrintable(action->objectName()));
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

// The new-battery dialog: ID (empty keeps the proposal) and capacity, then OK.
ModalDriver::DialogHandler AcceptNewBattery(const QString &id = QString(), const QString &capacity = QString())
{
    return [id, capacity](QDialog *dialog) {
        if (!id.isEmpty())
            Fill(dialog, "IDEdit", id);
        if (!capacity.isEmpty())
            Fill(dialog, "CapEdit", capacity);
        ClickOk(dialog);
    };
}

// The options dialog: notes the clock, mV and mA shown, enters the given ones, OK.
ModalDriver::DialogHandler Options(const QStringList &values, QStringList *shown = nullptr)
{
    return [=](QDialog *dialog) {
        const char *fields[] = {"edTimer", "edMinDeltaU", "edMinDeltaI"};
        for (int i = 0; i < 3; ++i) {
            if (shown)
                shown->append(dialog->findChild<QLineEdit *>(QLatin1String(fields[i]))->text());
            Fill(dialog, fields[i], values.value(i));
        }
        ClickOk(dialog, "Button1");
    };
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ForgetCallersEnvironment(); }
    void commandEnablingFollowsTheData();
    void newBatteryFlow();
    void searchAndDelete();
    void optionsFlow();
    void remarksReachTheBatteryRow();
    void listKeysAndTitleClick();
    void quittingLeavesTreatmentsAlone();
    void quittingCanStopEveryTreatmentFirst();
    void keyboardWalk();
    void settingsKeptAcrossStarts();
    void germanStandardTexts();
    void diagramLegendSwitch();
    void livePageShowsFourStepsAtFirstStartSize();
};

void MainWindowTest::commandEnablingFollowsTheData()
{
    Program program;
    TMainForm &form = program.Form();
    ModalDriver driver;
    form.UpdateMenus();
    const auto pressDelete = [](QWidget *grid) {
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Delete);
        QCoreApplication::processEvents();
    };

    // Empty database: Delete in the list asks nothing; the detail panel
    // shows no captions and units without values.
    ExpectEnabled({form.CommandAction(Command::DeleteAkku), form.CommandAction(Command::StartService), form.CommandAction(Command::CopyTable), form.CommandAction(Command::StopService)}, false);
    pressDelete(Part<QTableView>(form, "BatteryDBGrid"));
    QVERIFY(driver.messages.isEmpty());
    QVERIFY(Part<QWidget>(form, "BatteryDetails")->isHidden());

    InsertBattery(program.Db(), 1);
    QTRY_VERIFY(form.CommandAction(Command::CopyTable)->isEnabled());
    QVERIFY(!Part<QWidget>(form, "BatteryDetails")->isHidden());
    ExpectEnabled({form.CommandAction(Command::DeleteAkku), form.CommandAction(Command::StartService)}, true);
    ExpectEnabled({form.CommandAction(Command::DeleteService), form.CommandAction(Command::CopyProtocol)}, false);

    // A running treatment locks its battery and record: Delete asks nothing.
    const auto charger = OhmridaOnCom1();
    AddHeldTreatment(program, 1);
    program.Db().ReopenBatteries(1);
    QTRY_VERIFY(form.CommandAction(Command::StopService)->isEnabled());
    ExpectEnabled({form.CommandAction(Command::DeleteAkku), form.CommandAction(Command::DeleteAkku), form.CommandAction(Command::StartService), form.CommandAction(Command::DeleteService)},
                  false);
    pressDelete(Part<QTableView>(form, "BatteryDBGrid"));
    pressDelete(Part<QTableView>(form, "ServicesDBGrid"));
    QVERIFY(driver.messages.isEmpty());
    QCOMPARE(driver.unexpectedDialogs, 0);
    QCOMPARE(program.BatteryCount(), 1);
    QCOMPARE(program.Db().ServiceQuery()->rowCount(), 1);

    // Stopping (once confirmed) removes the page; the battery may be deleted again.
    driver.Answer(QMessageBox::Yes);
    form.CommandAction(Command::StopService)->trigger();
    QTRY_COMPARE(Part<QTabWidget>(form, "AccuTab")->count(), 0);
    QTRY_VERIFY(!form.CommandAction(Command::StopService)->isEnabled());
    QVERIFY(form.CommandAction(Command::DeleteAkku)->isEnabled());
    QCOMPARE(driver.Failures(), 0);
}

void MainWindowTest::newBatteryFlow()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    RecordStore &otherPC = Records(db);
    while (db.PeekBatteryID() < 7)
        otherPC.AdvanceBatteryID();
    ModalDriver driver;

    // A typed ID leaves the counter alone; every field reaches the row.
    driver.OnDialog([](QDialog *dialog) {
        Fill(dialog, "IDEdit", QStringLiteral("30"));
        Fill(dialog, "CapEdit", QStringLiteral("1200"));
        Fill(dialog, "ZellenEdit", QStringLiteral("6"));
        Fill(dialog, "BezEdit", QStringLiteral("Sender"));
        dialog->findChild<QComboBox *>(QStringLiteral("TypCombo"))->setCurrentIndex(2);
        dialog->findChild<QComboBox *>(QStringLiteral("FormCombo"))->setCurrentIndex(5);
        ClickOk(dialog);
    });
    form.CommandAction(Command::NewAkku)->trigger();
    QTRY_COMPARE(program.SelectedBatteryID(), 30);
    QCOMPARE(db.PeekBatteryID(), 7);
    TBRASKDataModule::Battery stored;
    db.ReadSelectedBattery(stored);
    QCOMPARE(QList<int>({stored.ID, stored.Capacity, stored.Cells, stored.Type, stored.Form}),
             QList<int>({30, 1200, 6, 2, 5}));
    QCOMPARE(stored.Brand, QStringLiteral("Sender"));

    // The proposal accepted moves it on.
    driver.OnDialog(AcceptNewBattery());
    Part<QToolButton>(form, "ButtonNewBattery")->click();
    QTRY_COMPARE(program.SelectedBatteryID(), 7);
    QCOMPARE(db.PeekBatteryID(), 8);

    // A typed 9 is passed by the proposals: 8, then 10.
    for (const QString &id : {QStringLiteral("9"), QString(), QString()}) {   // 9, 8, 10
        driver.OnDialog(AcceptNewBattery(id));
        form.CommandAction(Command::NewAkku)->trigger();
        QTRY_VERIFY(!program.Parts().Engine().Busy());
    }
    QTRY_COMPARE(program.BatteryCount(), 5);
    QCOMPARE(program.SelectedBatteryID(), 10);
    QCOMPARE(db.PeekBatteryID(), 11);

    // Another PC takes the proposal while the dialog is open: the battery gets
    // the next free ID, and the user is told which.
    driver.OnDialog([&otherPC](QDialog *dialog) {
        TBRASKDataModule::Battery taken;
        taken.ID = 11;
        otherPC.InsertBattery(taken);
        AcceptNewBattery()(dialog);
    });
    form.CommandAction(Command::NewAkku)->trigger();
    QTRY_COMPARE(program.SelectedBatteryID(), 12);
    QTRY_COMPARE(driver.messages.size(), 1);
    QCOMPARE(driver.messages.last().text, QStringLiteral("Die ID 11 wurde inzwischen an einem anderen Arbeitsplatz "
                                                         "vergeben; der neue Akku hat die ID 12 erhalten."));

    // A typed ID in use, letters in the capacity, and Cancel store nothing
    // and keep the counter.
    const int before = program.BatteryCount();
    driver.OnDialog(AcceptNewBattery(QStringLiteral("9")));
    form.CommandAction(Command::NewAkku)->trigger();
    QTRY_COMPARE(driver.Failures(), 1);
    QVERIFY(driver.messages.last().text == QStringLiteral("Ausführung fehlgeschlagen!"));
    driver.OnDialog(AcceptNewBattery(QStringLiteral("40"), QStringLiteral("abc")));
    form.CommandAction(Command::NewAkku)->trigger();
    driver.OnDialog([](QDialog *dialog) { dialog->reject(); });
    form.CommandAction(Command::NewAkku)->trigger();
    QTRY_VERIFY(!program.Parts().Engine().Busy());
    // A description with a tab in it (pasted, say) is refused with the reason.
    driver.OnDialog([](QDialog *dialog) {
        dialog->findChild<QLineEdit *>(QStringLiteral("BezEdit"))->setText(QStringLiteral("Sender\tEmpf\u00e4nger"));
        ClickOk(dialog);
    });
    form.CommandAction(Command::NewAkku)->trigger();
    QCOMPARE(driver.Failures(), 3);
    QCOMPARE(driver.messages.size(), 4);
    QVERIFY2(driver.messages.last().detail.contains(QStringLiteral("einen Tabulator")),
             qPrintable(driver.messages.last().detail));
    QCOMPARE(program.BatteryCount(), before);
    QCOMPARE(db.PeekBatteryID(), 13);
    QCOMPARE(driver.unexpectedDialogs, 0);
}

void MainWindowTest::searchAndDelete()
{
    Program program;
    TMainForm &form = program.Form();
    for (int id : {1, 2, 3, 5, 100000})
        InsertBattery(program.Db(), id);
    ModalDriver driver;

    // 0 and unknown IDs end on the last row; IDs beyond 16 bits can be typed.
    form.CommandAction(Command::GotoAkkus)->trigger();
    for (const auto &[typed, found] : QList<QPair<int, int>>{{0, 100000}, {99, 100000}, {100000, 100000}, {5, 5}}) {
        driver.OnDialog([typed = typed](QDialog *dialog) {
            auto *field = dialog->findChild<QSpinBox *>(QStringLiteral("edID"));
            field->selectAll();
            QTest::keyClicks(field, QString::number(typed));
            ClickOk(dialog, "Button1");
        });
        form.CommandAction(Command::Search)->trigger();
        QCOMPARE(program.SelectedBatteryID(), found);
    }
    QCOMPARE(Part<QTableView>(form, "BatteryDBGrid")->currentIndex().row(), 3);

    // The question names the battery; No keeps it, Yes takes its records along.
    const int serviceID = InsertTreatment(program.Db(), 5);
    program.Db().ReopenBatteries(5);
    driver.Answer(QMessageBox::No);
    form.CommandAction(Command::DeleteAkku)->trigger();
    QCOMPARE(driver.messages.last().text, QStringLiteral("Akku 5 und alle zugehörigen Aufzeichnungen wirklich löschen?"));
    QCOMPARE(program.BatteryCount(), 5);
    driver.Answer(QMessageBox::Yes);
    form.CommandAction(Command::DeleteAkku)->trigger();
    QTRY_COMPARE(program.BatteryCount(), 4);
    QCOMPARE(program.SelectedBatteryID(), 100000);   // the last row
    TBRASKDataModule::Service record;
    record.ID = serviceID;
    QVERIFY(!program.Db().LoadService(record));
    QCOMPARE(driver.Failures(), 0);
}

void MainWindowTest::optionsFlow()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    ModalDriver driver;
    QStringList shown;
    auto check = [&](int interval, int mV, int mA) {
        QCOMPARE(QList<int>({Part<QTimer>(form, "TheTimer")->interval(), db.MinDeltaU(), db.MinDeltaI()}), QList<int>({interval, mV, mA}));
    };

    // A bad field stops the taking there (mA, mV, then the clock): one failure each.
    driver.OnDialog(Options({"3", "1x", "7"}));
    form.CommandAction(Command::Options)->trigger();
    QCOMPARE(driver.Failures(), 1);
    QCOMPARE(driver.messages.size(), 1);
    check(10000, 10, 7);
    driver.OnDialog(Options({"3000000", "15", "4"}));
    form.CommandAction(Command::Options)->trigger();   // beyond the timer's range
    QCOMPARE(driver.Failures(), 2);
    check(10000, 15, 4);

    // Signs are dropped; 0 seconds means one. Cancel changes nothing.
    driver.OnDialog(Options({"0", "-20", "-2"}));
    form.CommandAction(Command::Options)->trigger();
    check(1000, 20, 2);
    driver.OnDialog([](QDialog *dialog) {
        Fill(dialog, "edTimer", QStringLiteral("99"));
        dialog->reject();
    });
    form.CommandAction(Command::Options)->trigger();
    driver.OnDialog(Options({"-5", "0", "3"}, &shown));
    form.CommandAction(Command::Options)->trigger();
    QCOMPARE(shown, (QStringList{"1", "20", "2"}));
    check(5000, 0, 3);
    QCOMPARE(driver.Failures(), 2);
    QVERIFY(Part<QTimer>(form, "TheTimer")->isActive());

    // Commands queued behind an open dialog (clicks made while it was coming
    // up) are dropped: no dialog ever opens over itself or another command's.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("Recursive call")));
    int dialogsSeen = 0;
    driver.OnDialog([&](QDialog *dialog) {
        ++dialogsSeen;
        form.CommandAction(Command::Options)->trigger();
        form.CommandAction(Command::Info)->trigger();
        dialog->reject();
    });
    form.CommandAction(Command::Options)->trigger();
    QCOMPARE(dialogsSeen, 1);
    QCOMPARE(driver.unexpectedDialogs, 0);
}

void MainWindowTest::remarksReachTheBatteryRow()
{
    Program program;
    TMainForm &form = program.Form();
    TBRASKDataModule &db = program.Db();
    for (int id : {1, 2})
        InsertBattery(db, id);
    auto stored = [&db](int id) {
        TBRASKDataModule::Battery battery;
        battery.ID = id;
        db.LoadBattery(battery);
        return battery.Info;
    };
    form.CommandAction(Command::GotoAkkus)->trigger();
    QCOMPARE(program.SelectedBatteryID(), 1);

    // Focus leaving the memo.
    QPlainTextEdit *memo = Part<QPlainTextEdit>(form, "DBMemoInfoEditor");
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("Zelle 3 schwach"));
    Part<QTableView>(form, "BatteryDBGrid")->setFocus();
    QTRY_COMPARE(stored(1), QStringLiteral("Zelle 3 schwach"));

    // A row change made by the keyboard while the memo still had the focus
    // (no focus change), and a page change.
    memo->setFocus();
    memo->moveCursor(QTextCursor::End);
    QTest::keyClicks(memo, QStringLiteral("!"));
    db.BatteryQuery()->last();
    QTRY_COMPARE(stored(1), QStringLiteral("Zelle 3 schwach!"));
    QCOMPARE(memo->toPlainText(), QString());
    memo->setFocus();
    QTest::keyClicks(memo, QStringLiteral("neu"));
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetServices"));
    QTRY_COMPARE(stored(2), QStringLiteral("neu"));

    // At most 250 characters, kept on quitting.
    Part<QTabWidget>(form, "DatabasePageControl")->setCurrentWidget(Part<QWidget>(form, "TabSheetAkkus"));
    memo->setFocus();
    memo->selectAll();
    QTest::keyClicks(memo, QString(260, QLatin1Char('x')));
    form.close();
    QTRY_COMPARE(stored(2), QString(250, QLatin1Char('x')));
}

void MainWindowTest::listKeysAndTitleClick()
{
    Program program;
    TMainForm &form = program.Form();
    // ID, type, brand.
    for (const auto &[id, type, brand] : QList<std::tuple<int, int, QString>>{
             {1, 1, "c"}, {2, 1, "a"}, {3, 1, "b"}, {4, 2, "0"}, {5, 0, "d"}})
        InsertBattery(program.Db(), id, 600, brand, type);
    form.CommandAction(Command::GotoAkkus)->trigger();
    // Title clicks order by the stored field; the type by its code (NC, NMH, Blei).
    QHeaderView *header = Part<QTableView>(form, "BatteryDBGrid")->horizontalHeader();
    for (const auto &[column, order] : QList<std::pair<const char *, QList<int>>>{
             {"F_TypeString", {5, 1, 2, 3, 4}}, {"F_Brand", {4, 2, 3, 1, 5}}, {"F_ID", {1, 2, 3, 4, 5}}}) {
        const int logical = program.Db().BatteryQuery()->columnIndex(QLatin1String(column));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(logical) + 5, header->height() / 2));
        QList<int> ids;
        for (int row = 0; row < program.BatteryCount(); ++row)
            ids << program.Db().BatteryQuery()->value(row, QStringLiteral("F_ID")).toInt();
        if (QByteArray(column) == "F_TypeString")   // the NMH batteries in any order
            ids = {ids.first(), 1, 2, 3, ids.last()};
        QCOMPARE(ids, order);
    }
    // A second click reverses the order; the header shows which way.
    const auto clickTitle = [&](const char *column) {
        const int logical = program.Db().BatteryQuery()->columnIndex(QLatin1String(column));
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(logical) + 5, header->height() / 2));
        return logical;
    };
    const int idColumn = clickTitle("F_ID");
    QCOMPARE(std::make_tuple(header->sortIndicatorSection(), header->sortIndicatorOrder(), program.SelectedBatteryID()),
             std::make_tuple(idColumn, Qt::DescendingOrder, 5));
    QVERIFY(header->isSortIndicatorShown());
    clickTitle("F_ID");
    QCOMPARE(std::make_tuple(header->sortIndicatorOrder(), program.SelectedBatteryID()),
             std::make_tuple(Qt::AscendingOrder, 1));

    // The grid and the query keep the same current row both ways.
    Part<QTableView>(form, "BatteryDBGrid")->setFocus();
    QTest::keyClick(Part<QTableView>(form, "BatteryDBGrid"), Qt::Key_Down);
    QCOMPARE(program.SelectedBatteryID(), 2);
    QCOMPARE(Part<QLabel>(form, "DBTextBezeichnung")->text(), QStringLiteral("a"));
    program.Db().ReopenBatteries(4);
    QCOMPARE(Part<QTableView>(form, "BatteryDBGrid")->currentIndex().row(), 3);
}

void MainWindowTest::quittingLeavesTreatmentsAlone()
{
    // Whatever the program sent would show in the simulated charger's trace.
    const auto charger = OhmridaOnCom1();
    Program program;
    TMainForm &form = program.Form();
    InsertBattery(program.Db(), 1);
    InsertBattery(program.Db(), 2);
    const int serviceID = AddHeldTreatment(program, 1);
    AddHeldTreatment(program, 2);
    QTRY_COMPARE(Part<QTabWidget>(form, "AccuTab")->count(), 2);
    TTreatmentEngine &engine = program.Parts().Engine();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    // "Abbrechen" on a running treatment asks; Enter keeps it running.
    QString stopQuestion;
    bool enterKeeps = false;
    QTimer pressEnter;
    connect(&pressEnter, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            stopQuestion = box->text();
            enterKeeps = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    pressEnter.start(20);
    form.CommandAction(Command::StopService)->trigger();
    pressEnter.stop();
    QVERIFY2(stopQuestion.startsWith(QStringLiteral("Die Behandlung von Akku ")), qPrintable(stopQuestion));
    QVERIFY(enterKeeps);
    QCOMPARE(engine.Treatments().size(), size_t(2));

    // Ctrl+Q, the standard key of "Beenden", asks what becomes of the two
    // treatments: "Abbrechen" keeps the window, "Beenden, Ladegeräte laufen
    // weiter" quits and leaves them to their chargers.
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    ModalDriver driver;
    driver.Answer(QMessageBox::Cancel);
    QTest::keyClick(&form, Qt::Key_Q, Qt::ControlModifier);
    QTRY_COMPARE(driver.messages.size(), 1);
    QVERIFY(form.isVisible());
    QVERIFY2(driver.messages[0].text.startsWith(QStringLiteral("2 Behandlungen laufen noch:\nAkku 1 an Ohmrida an COM1")),
             qPrintable(driver.messages[0].text));
    driver.Answer(QMessageBox::Yes);
    form.CommandAction(Command::Quit)->trigger();
    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!Part<QTimer>(form, "TheTimer")->isActive());
    QCOMPARE(driver.messages.size() + driver.unexpectedDialogs, 2);
    QCOMPARE(engine.Treatments().size(), size_t(2));
    program.Destroy();

    // The first step is still waiting: nothing was aborted, nothing sent but the search.
    TBRASKDataModule database(program.Directory());
    StepRecord step{serviceID, 1, 0, 0, 0, 0, 0, 0};
    QVERIFY(database.GetSubService(step));
    QCOMPARE(step.State, static_cast<int>(Folgt));
    for (const std::string &line : charger->trace())
        QVERIFY2(line.rfind("COM1 rx 16 ", 0) == 0, line.c_str());
}

void MainWindowTest::quittingCanStopEveryTreatmentFirst()
{
    const auto charger = OhmridaOnCom1();
    Program program;
    TMainForm &form = program.Form();
    InsertBattery(program.Db(), 1);
    const int serviceID = AddHeldTreatment(program, 1);
    QTRY_COMPARE(Part<QTabWidget>(form, "AccuTab")->count(), 1);
    ModalDriver driver;
    driver.Answer(QMessageBox::Abort);   // "Alle anhalten und beenden"
    form.CommandAction(Command::Quit)->trigger();
    // The window closes once the engine has stopped the treatment.
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 20000);
    QCOMPARE(program.Parts().Engine().Treatments().size(), size_t(0));
    QCOMPARE(driver.messages.size(), 1);
    program.Destroy();
    TBRASKDataModule database(program.Directory());
    StepRecord step{serviceID, 1, 0, 0, 0, 0, 0, 0};
    QVERIFY(database.GetSubService(step));
    QCOMPARE(step.State, static_cast<int>(Abgebrochen));
}

void MainWindowTest::keyboardWalk()
{
    Program program;
    TMainForm &form = program.Form();
    InsertBattery(program.Db(), 1);
    InsertTreatment(program.Db(), 1, 3, 0, 100);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.CommandAction(Command::GotoAkkus)->trigger();
    QTRY_VERIFY(Part<QTableView>(form, "BatteryDBGrid")->hasFocus());

    // Ctrl+Tab / Ctrl+PageDown forward through the list pages, round again;
    // Ctrl+Shift+Tab / Ctrl+PageUp back. The page's list takes the focus.
    const QList<std::pair<QKeyCombination, QWidget *>> steps = {
        {Qt::CTRL | Qt::Key_Tab, Part<QWidget>(form, "TabSheetServices")},      {Qt::CTRL | Qt::Key_PageDown, Part<QWidget>(form, "TabSheetSubServices")},
        {Qt::CTRL | Qt::Key_Tab, Part<QWidget>(form, "TabSheetAkkus")},         {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, Part<QWidget>(form, "TabSheetSubServices")},
        {Qt::CTRL | Qt::Key_PageUp, Part<QWidget>(form, "TabSheetServices")},   {Qt::CTRL | Qt::Key_PageUp, Part<QWidget>(form, "TabSheetAkkus")}};
    for (const auto &[keys, page] : steps) {
        QTest::keyClick(QApplication::focusWidget(), keys.key(), keys.keyboardModifiers());
        QCOMPARE(Part<QTabWidget>(form, "DatabasePageControl")->currentWidget(), page);
        QTRY_VERIFY(page->isAncestorOf(QApplication::focusWidget()));
    }

    // Tab goes round every control in reading order, the page tabs and the
    // remarks included, and comes back to the list; the focus is seen.
    QTRY_VERIFY(Part<QTableView>(form, "BatteryDBGrid")->hasFocus());
    const QImage focused = Part<QTableView>(form, "BatteryDBGrid")->grab().toImage();
    QList<QWidget *> walk;
    for (int press = 0; press < 12 && (walk.isEmpty() || walk.last() != Part<QTableView>(form, "BatteryDBGrid")); ++press) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walk << QApplication::focusWidget();
        QVERIFY2(walk.last() && walk.last()->isVisible(), "the focus went to nothing visible");
    }
    QCOMPARE(walk.last(), Part<QTableView>(form, "BatteryDBGrid"));
    const auto tabs = walk.indexOf(Part<QTabWidget>(form, "DatabasePageControl")->tabBar());
    const auto memo = walk.indexOf(Part<QPlainTextEdit>(form, "DBMemoInfoEditor"));
    // From the list: the remarks, then round to the page tabs and the list again.
    QVERIFY2(memo >= 0 && tabs > memo, qPrintable(QString::number(walk.size())));
    Part<QPlainTextEdit>(form, "DBMemoInfoEditor")->setFocus();
    QTRY_VERIFY(!Part<QTableView>(form, "BatteryDBGrid")->hasFocus());
    QVERIFY(Part<QTableView>(form, "BatteryDBGrid")->grab().toImage() != focused);

    // F5 ("Ansicht > Aktualisieren") reads what another program stored.
    TBRASKDataModule::Battery other;
    other.ID = 9;
    other.Capacity = 800;
    Records(program.Db()).InsertBattery(other);
    QCOMPARE(program.BatteryCount(), 1);
    QTest::keyClick(&form, Qt::Key_F5);
    QCOMPARE(program.BatteryCount(), 2);
    QCOMPARE(MenuCommand(*form.menuBar(), QStringLiteral("&Ansicht"), QStringLiteral("&Aktualisieren")), form.CommandAction(Command::Refresh));
}

void MainWindowTest::settingsKeptAcrossStarts()
{
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("braskon.conf")), QSettings::IniFormat);
    // What is on the disk, not what this process holds of the file.
    const auto onDisk = [&dir] {
        QFile file(dir.filePath(QStringLiteral("braskon.conf")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    qputenv("BRASKON_COM2", "/dev/from-environment");
    Ohmrida::SerialPorts::AssignAll({});
    QList<int> upperSizes;
    {
        Program program;
        TMainForm &form = program.Form();
        // A first start opens large enough to read the diagram and lists, within the screen.
        form.SetSettings(&settings);
        QCOMPARE(form.size(), TMainForm::FirstStartSize(QGuiApplication::primaryScreen()->availableGeometry().size()));

        // Options and ports through the dialog; the environment's port is shown as winning.
        ModalDriver driver;
        QString override2;
        driver.OnDialog([&override2](QDialog *dialog) {
            auto *options = qobject_cast<TOptionsDialog *>(dialog);
            Part<QTabWidget>(*options, "Pages")->setCurrentIndex(1);
            Part<QComboBox>(*options, "cbCOM1")->setEditText(QStringLiteral("/dev/ttyUSB7"));
            Part<QComboBox>(*options, "cbCOM3")->setEditText(QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00 \u2014 FTDI X"));
            override2 = Part<QLabel>(*options, "lbOverrideCOM2")->text();
            Part<QTabWidget>(*options, "Pages")->setCurrentIndex(0);
            Options({"7", "25", "3"})(dialog);
        });
        form.CommandAction(Command::Options)->trigger();
        QCOMPARE(driver.Failures(), 0);
        QCOMPARE(override2, QStringLiteral("gilt: BRASKON_COM2=/dev/from-environment"));
        const std::map<int, std::string> chosen{{1, "/dev/ttyUSB7"}, {3, "/dev/serial/by-id/usb-FTDI_X-if00"}};
        QCOMPARE(Ohmrida::SerialPorts::Assignment(), chosen);
        // Written as they change, not when the window closes.
        QTRY_VERIFY(onDisk().contains("COM1=/dev/ttyUSB7") && onDisk().contains("timerMs=7000"));

        form.RememberFolder(QStringLiteral("export"), dir.filePath(QStringLiteral("protokoll.txt")));
        QTRY_VERIFY(onDisk().contains("geometry") && onDisk().contains("export="));   // with the first start's size
        // The treatment pages take their share of a growing window until the
        // user drags their border; from then on the dragged width stays.
        const QByteArray before = onDisk();
        form.resize(1000, 640);
        QCoreApplication::processEvents();
        QCOMPARE(Part<QSplitter>(form, "UpperPanel")->sizes().at(1), 300);
        form.resize(1200, 640);
        QCoreApplication::processEvents();
        QCOMPARE(Part<QSplitter>(form, "UpperPanel")->sizes().at(1), 360);
        QSplitterHandle *border = Part<QSplitter>(form, "UpperPanel")->handle(1);
        const QPoint grip(border->width() / 2, border->height() / 2);
        QTest::mousePress(border, Qt::LeftButton, {}, grip);
        QTest::mouseMove(border, grip - QPoint(100, 0));
        QTest::mouseRelease(border, Qt::LeftButton, {}, grip - QPoint(100, 0));
        QCOMPARE(Part<QSplitter>(form, "UpperPanel")->sizes().at(1), 460);
        form.resize(900, 640);
        QCoreApplication::processEvents();
        upperSizes = Part<QSplitter>(form, "UpperPanel")->sizes();
        QCOMPARE(upperSizes.at(1), 460);
        QTRY_VERIFY(onDisk() != before);
        // The window is not closed: what the next start finds was kept as it changed.
    }
    qunsetenv("BRASKON_COM2");
    Ohmrida::SerialPorts::AssignAll({});

    Program program;
    TMainForm &form = program.Form();
    form.SetSettings(&settings);
    QCOMPARE(QList<int>({Part<QTimer>(form, "TheTimer")->interval(), program.Db().MinDeltaU(), program.Db().MinDeltaI()}),
             QList<int>({7000, 25, 3}));
    QCOMPARE(std::make_tuple(form.size(), Part<QSplitter>(form, "UpperPanel")->sizes(), form.LastFolder(QStringLiteral("export"))),
             std::make_tuple(QSize(900, 640), upperSizes, dir.path()));

    // The dialog shows the kept assignment; emptying a port gives it back its default.
    ModalDriver driver;
    QString shown;
    driver.OnDialog([&shown](QDialog *dialog) {
        auto *options = qobject_cast<TOptionsDialog *>(dialog);
        shown = Part<QComboBox>(*options, "cbCOM3")->currentText();
        Part<QComboBox>(*options, "cbCOM1")->setEditText(QString());
        ClickOk(dialog, "Button1");
    });
    form.CommandAction(Command::Options)->trigger();
    QCOMPARE(shown, QStringLiteral("/dev/serial/by-id/usb-FTDI_X-if00"));
    QTRY_VERIFY(!onDisk().contains("COM1="));
    QCOMPARE(Ohmrida::SerialPorts::Resolve(1).device, std::string("/dev/ttyS0"));
    form.SetSettings(nullptr);
    Ohmrida::SerialPorts::AssignAll({});
}

void MainWindowTest::germanStandardTexts()
{
    // Qt's own buttons speak German under the German program texts.
    QVERIFY(InstallGermanQtTranslation(*QCoreApplication::instance()));
    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(QStringList({box.button(QMessageBox::Yes)->text(), box.button(QMessageBox::No)->text(),
                          box.button(QMessageBox::Cancel)->text()}),
             QStringList({"&Ja", "&Nein", "Abbrechen"}));
}

void MainWindowTest::diagramLegendSwitch()
{
    Program program;
    TMainForm &form = program.Form();
    ModalDriver driver;
    const auto checks = [&form] {
        form.UpdateMenus();
        return QList<bool>({form.CommandAction(Command::DiagramLegend)->isChecked(), form.CommandAction(Command::DiagramLegend)->isChecked()});
    };
    Part<QToolButton>(form, "ButtonNewDiagram")->click();
    TDiagramCommands &diagrams = *form.DiagramCommands();
    TMultiChart *first = diagrams.ActiveDiagram()->Chart();
    first->AddCurve(QStringLiteral("Akku 1, U"), 0);
    first->AddPoint(QStringLiteral("Akku 1, U"), 10, 1.2, 1);
    QTRY_VERIFY(form.CommandAction(Command::DiagramLegend)->isEnabled());
    QCOMPARE(checks(), QList<bool>({true, true}));   // shown by default
    first->grab();
    QVERIFY(!first->LegendRect().isEmpty());

    // The context menu hides it; both check marks follow; nothing is drawn.
    form.CommandAction(Command::DiagramLegend)->trigger();
    QCOMPARE(checks(), QList<bool>({false, false}));
    first->grab();
    QVERIFY(first->LegendRect().isEmpty());

    // The file keeps it: a hidden legend opens hidden, and the check mark
    // belongs to the diagram on the visible page.
    const QString path = program.Directory() + QStringLiteral("/ohne-legende.dgr");
    diagrams.SaveDiagramFile(path);
    form.CommandAction(Command::DiagramLegend)->trigger();   // the main menu shows it again
    QVERIFY(first->LegendVisible());
    diagrams.OpenDiagramFile(path);
    QCOMPARE(Part<QTabWidget>(form, "DiagramTab")->count(), 2);
    QVERIFY(!diagrams.ActiveDiagram()->Chart()->LegendVisible());
    QCOMPARE(checks(), QList<bool>({false, false}));
    Part<QTabWidget>(form, "DiagramTab")->setCurrentIndex(0);
    QCOMPARE(checks(), QList<bool>({true, true}));
    QCOMPARE(driver.Failures(), 0);
}

void MainWindowTest::livePageShowsFourStepsAtFirstStartSize()
{
    Program program;
    TMainForm &form = program.Form();
    form.resize(TMainForm::FirstStartSize(QSize(1920, 1080)));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Program 5 has the most steps: discharge, charge, discharge, charge.
    const auto charger = OhmridaOnCom1();
    QVERIFY(AddHeldTreatment(program, InsertBattery(program.Db(), 1, 1700), 5) != 0);
    QTRY_COMPARE(Part<QTabWidget>(form, "AccuTab")->count(), 1);
    auto *page = Part<QTabWidget>(form, "AccuTab")->widget(0)->findChild<TAccuControlForm *>();
    QVERIFY(page);
    QTableView *grid = Part<QTableView>(*page, "SubServicesDBGrid");
    QTRY_COMPARE(grid->model()->rowCount(), 4);
    QCoreApplication::processEvents();

    // Every step row in view, every text in full in the grid's own font, and
    // so the longest texts the columns can get later.
    const QFontMetrics metrics(grid->font());
    QList<std::pair<int, QString>> texts = {{0, "Entladen"}, {3, "2:56:12"}, {4, "abgebrochen"}};
    for (int row = 0; row < 4; ++row) {
        QVERIFY2(grid->viewport()->rect().contains(grid->visualRect(grid->model()->index(row, 0))),
                 qPrintable(QStringLiteral("step %1 cut off").arg(row + 1)));
        for (int column = 0; column < grid->model()->columnCount(); ++column)
            texts.append({column, grid->model()->index(row, column).data().toString()});
    }
    for (const auto &[column, text] : texts)
        QVERIFY2(metrics.horizontalAdvance(text) < grid->columnWidth(column), qPrintable(text));
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
