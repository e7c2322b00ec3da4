#include "mainwindow/Mainform.h"

#include "mainwindow/BatteryPanel.h"
#include "database/MainCommands.h"
#include "mainwindow/Dialogs.h"
#include "mainwindow/HistoryDialog.h"
#include "mainwindow/Notifications.h"
#include "mainwindow/SettingsWriter.h"

#include "database/BatteryHistory.h"
#include "database/DataLocation.h"
#include "database/Datamodule.h"
#include "diagrams/Diagdocs.h"
#include "livecontrol/Accuctrlform.h"
#include "livecontrol/Selservicedlg.h"
#include "livecontrol/ServiceCommands.h"
#include "treatment/PortSettings.h"
#include "treatment/Resume.h"
#include "treatment/Service.h"
#include "treatment/TreatmentEngine.h"
#include "charger/SerialPorts.h"
#include "export/Richie.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

void TMainForm::FollowRecords(const RecordChange &change)
{
    if (!database_)
        return;
    try {
        database_->Follow(change);
    } catch (const DatabaseError &error) {
        // The lists stay as they were; the next change reads them again.
        StatusBar1->showMessage(QStringLiteral("Die Listen konnten nicht neu gelesen werden: ") + error.message(),
                                10000);
    }
}

void TMainForm::ShowWriteStatus(const PollReport &report)
{
    if (!report.WriteShown)
        return;
    const QString text = WriteStatusText(report.Write);
    if (!text.isEmpty()) {
        writeStatus_ = text;
        StatusBar1->showMessage(QStringLiteral("Behandlung %1: %2").arg(report.ServiceID).arg(text));
    } else if (!writeStatus_.isEmpty()) {
        writeStatus_.clear();
        StatusBar1->showMessage(QStringLiteral("Behandlung %1: gespeichert (%2 nachgetragen)")
                                    .arg(report.ServiceID)
                                    .arg(RecordsText(report.Write.RecoveredSamples, report.Write.RecoveredSteps)),
                                10000);
    }
}

bool TMainForm::Writable() const
{
    return database_ && !database_->IsReadOnly();
}

void TMainForm::CommitBatteryInfo()
{
    BatteryPanel->CommitRemarks();
}

// ---- the catch-all ------------------------------------------------------------

bool TMainForm::RunCommand(const std::function<void()> &command)
{
    if (commandRunning_)
        return false;
    bool succeeded = true;
    commandRunning_ = true;
    try {
        command();
    } catch (const DiagramError &e) {
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const ExportError &e) {
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const DatabaseError &e) {
        // Also a deletion refused because the record is being recorded.
        succeeded = false;
        ShowCommandFailure(e.message());
    } catch (const MainCommands::InputError &e) {
        // What was typed and why it cannot be taken.
        succeeded = false;
        ShowCommandFailure(QString::fromUtf8(e.what()));
    } catch (...) {
        succeeded = false;
        ShowCommandFailure(QString());
    }
    commandRunning_ = false;
    ScheduleUpdateMenus();
    return succeeded;
}

void TMainForm::ShowCommandFailure(const QString &reason)
{
    // Failures with a reason the user can act on ("Zeile 2: ...", a refused
    // start, a read-only database) show it below the message.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Fehler"), QStringLiteral("Ausführung fehlgeschlagen!"),
                    QMessageBox::Ok, this);
    if (!reason.isEmpty())
        box.setInformativeText(reason);
    box.exec();
}

void TMainForm::ScheduleUpdateMenus()
{
    if (!idleTimer_.isActive())
        idleTimer_.start();
}

// ---- command enabling ------------------------------------------------------------

CommandInputs TMainForm::CommandInputsNow() const
{
    CommandInputs in;
    in.batteries = database_->BatteryQuery()->rowCount();
    in.services = database_->ServiceQuery()->rowCount();
    in.steps = database_->SubServiceQuery()->rowCount();
    in.writable = Writable();
    in.batteryInTreatment = engine_->HasBattery(database_->SelectedBatteryID());
    in.serviceInTreatment = engine_->HasService(database_->SelectedServiceID());
    const QWidget *page = DatabasePageControl->currentWidget();
    in.page = page == TabSheetAkkus      ? CommandInputs::ListPage::Batteries
              : page == TabSheetServices ? CommandInputs::ListPage::Services
                                         : CommandInputs::ListPage::Steps;
    in.diagramsShown = showDiagrams_;
    in.databaseShown = showDB_;
    in.diagrams = DiagramTab->count();
    in.canZoomBack = ActiveDiagramCanZoomBack();
    in.stoppablePage = livePages_->ActiveStoppable();
    return in;
}

void TMainForm::UpdateMenus()
{
    const CommandState state(CommandInputsNow());
    for (std::size_t command = 0; command < CommandCount; ++command)
        actions_[command]->setEnabled(state.Enabled(::Command(command)));
    // The check mark shows the active diagram's legend, whichever switched it.
    Action(::Command::DiagramLegend)
        ->setChecked(state.Enabled(::Command::DiagramLegend) && diagramCommands_->ActiveLegendVisible());
    // A page row without pages takes no focus: there would be nothing to see.
    for (QTabWidget *pages : {DiagramTab, AccuTab})
        pages->tabBar()->setFocusPolicy(pages->count() > 0 ? Qt::TabFocus : Qt::NoFocus);
}

// ---- layout ---------------------------------------------------------------------

void TMainForm::UpdateLayout()
{
    const QSize outer = frameGeometry().size();
    const bool wide = outer.width() >= MinWidthForSidePanels;
    const bool high = outer.height() >= MinHeightForDatabase;
    ClientPanel->setVisible(showDiagrams_);
    RightPanel->setVisible(wide && showControls_);
    BatteryPanel->setVisible(wide);
    BottomPanel->setVisible(high && showDB_);
}

void TMainForm::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!sidePanelPlaced_) {
        const int side = std::max(RightPanel->minimumWidth() + 100, int(width() * SidePanelShare));
        HorizontalSplitter->setSizes({std::max(0, HorizontalSplitter->width() - side), side});
    }
    UpdateLayout();
    ScheduleWindowStateSave();
}

void TMainForm::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    ScheduleWindowStateSave();
}

void TMainForm::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    UpdateLayout();
    if (!shownOnce_) {
        shownOnce_ = true;
        RunCommand([this] { MenuGotoAkkusClick(); });
        // Asked once the window is on the screen, not from inside its showing.
        QTimer::singleShot(0, this, [this] { RunCommand([this] { OfferResumes(); }); });
    }
}

void TMainForm::OfferResumes()
{
    // A database that may only be read can neither follow a treatment nor
    // mark one as aborted; the start-up notice has said why.
    if (database_->IsReadOnly())
        return;
    for (const TBRASKDataModule::RunningTreatment &row : Resume::Interrupted(database_->Reader())) {
        TBRASKDataModule::Service record;
        record.ID = row.ServiceID;
        if (!database_->LoadService(record)) {
            engine_->Abandon(row.ServiceID);
            continue;
        }
        // Three ways on, none of which leaves the charger running unwatched
        // without the user's word: follow it, stop it, or ask again next time
        // (Escape and the close box).
        QMessageBox box(QMessageBox::Question, QStringLiteral("Behandlung unterbrochen"),
                        Resume::Question(row, record.BatteryID), QMessageBox::NoButton, this);
        box.addButton(QMessageBox::Yes)->setText(Resume::ContinueText());
        box.addButton(QMessageBox::No)->setText(Resume::StopText());
        box.addButton(QMessageBox::Cancel)->setText(Resume::LaterText());
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
        const int answer = box.exec();
        if (answer == QMessageBox::Yes)
            engine_->Resume(row.ServiceID, record.BatteryID, row.Terminal.toStdString());
        else if (answer == QMessageBox::No)
            engine_->StopInterrupted(row.ServiceID, row.Terminal.toStdString());
    }
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Often reached from inside the quit command, so not as a command of its own.
    bool closing = true;
    try {
        closing = ConfirmQuit();
    } catch (...) {
        closing = true;   // a question that cannot be asked must not keep the window open
    }
    if (!closing) {
        event->ignore();
        return;
    }
    // Treatments left running are taken up at the next start.
    RunCommand([this] { CommitBatteryInfo(); });
    TheTimer->stop();
    windowStateTimer_.stop();
    SaveWindowState();
    QMainWindow::closeEvent(event);
}

void TMainForm::ToggleView(::Command command, bool &shown)
{
    // The action toggles its check mark when triggered; the stored state
    // decides, so a command that failed halfway cannot leave them apart.
    shown = !shown;
    Action(command)->setChecked(shown);
    UpdateLayout();
}

// ---- view and navigation commands ---------------------------------------------------

void TMainForm::MenuQuitClick()
{
    close();
}

void TMainForm::QuitWithoutQuestion()
{
    quitAnswered_ = true;
    close();
}

bool TMainForm::ConfirmQuit()
{
    if (quitAnswered_)
        return true;
    if (stoppingForQuit_)
        return false;   // the window closes once the stops are done
    std::vector<TreatmentInfo> running;
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.ServiceID != 0 && treatment.State != Service::Ended && !treatment.Stopping)
            running.push_back(treatment);
    }
    if (running.empty())
        return true;
    QStringList lines;
    for (const TreatmentInfo &treatment : running)
        lines << QStringLiteral("Akku %1 an %2").arg(treatment.BatteryID).arg(QString::fromStdString(treatment.Terminal));
    QMessageBox box(QMessageBox::Question, QStringLiteral("Beenden"),
                    running.size() == 1 ? QStringLiteral("Eine Behandlung läuft noch:\n") + lines.join(QLatin1Char('\n'))
                                        : QStringLiteral("%1 Behandlungen laufen noch:\n").arg(running.size())
                                              + lines.join(QLatin1Char('\n')),
                    QMessageBox::Yes | QMessageBox::Abort | QMessageBox::Cancel, this);
    box.setInformativeText(QStringLiteral("Ohne Anhalten arbeiten die Ladegeräte weiter; Braskon nimmt die "
                                          "Behandlungen beim nächsten Start wieder auf."));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Beenden, Ladegeräte laufen weiter"));
    box.button(QMessageBox::Abort)->setText(QStringLiteral("&Alle anhalten und beenden"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("Abbre&chen"));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::Yes) {
        quitAnswered_ = true;
        return true;
    }
    if (answer == QMessageBox::Abort) {
        stoppingForQuit_ = true;
        StatusBar1->showMessage(QStringLiteral("Die Behandlungen werden angehalten..."));
        for (const TreatmentInfo &treatment : running)
            engine_->Stop(treatment.Ticket);
        QuitWhenStopped();
    }
    return false;
}

void TMainForm::QuitWhenStopped()
{
    if (!stoppingForQuit_ || engine_->Busy())
        return;
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.ServiceID != 0 && treatment.State != Service::Ended)
            return;
    }
    stoppingForQuit_ = false;
    quitAnswered_ = true;
    // Not from inside the engine's signal.
    QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::MenuRefreshClick()
{
    CommitBatteryInfo();
    database_->RefreshLists();
    StatusBar1->showMessage(QStringLiteral("Listen neu gelesen"), 3000);
}

void TMainForm::MenuNextListClick()
{
    const int count = DatabasePageControl->count();
    DatabasePageControl->setCurrentIndex((DatabasePageControl->currentIndex() + 1) % count);
    DatabasePageControl->currentWidget()->findChild<QTableView *>()->setFocus(Qt::TabFocusReason);
}

void TMainForm::MenuPreviousListClick()
{
    const int count = DatabasePageControl->count();
    DatabasePageControl->setCurrentIndex((DatabasePageControl->currentIndex() + count - 1) % count);
    DatabasePageControl->currentWidget()->findChild<QTableView *>()->setFocus(Qt::BacktabFocusReason);
}

void TMainForm::MenuHistoryClick()
{
    const int id = database_->SelectedBatteryID();
    BatteryHistory history;
    if (!ReadBatteryHistory(database_->Reader(), id, history))
        throw DatabaseError(QStringLiteral("Den Akku %1 gibt es nicht mehr").arg(id));
    THistoryDialog dialog(this);
    dialog.SetHistory(history);
    dialog.exec();
}

void TMainForm::MenuShowDiagramsClick()
{
    ToggleView(::Command::ShowDiagrams, showDiagrams_);
}

void TMainForm::MenuShowControlsClick()
{
    ToggleView(::Command::ShowControls, showControls_);
}

void TMainForm::MenuShowDBClick()
{
    ToggleView(::Command::ShowDB, showDB_);
}

void TMainForm::MenuGotoAkkusClick()
{
    database_->BatteryQuery()->first();
    DatabasePageControl->setCurrentWidget(TabSheetAkkus);
    BatteryDBGrid->setFocus();
}

void TMainForm::PopupMenuGotoServicesClick()
{
    DatabasePageControl->setCurrentWidget(TabSheetServices);
    ServicesDBGrid->setFocus();
}

void TMainForm::AfterLoggerReadout()
{
    database_->ReopenSteps();
    database_->ServiceQuery()->last();
    DatabasePageControl->setCurrentWidget(TabSheetServices);
    ServicesDBGrid->setFocus();
}

// ---- battery and record commands --------------------------------------------------------

void TMainForm::MenuNewAkkuClick()
{
    const int proposal = database_->PeekBatteryID();
    newBatteryDialog_->Prepare(proposal);
    if (newBatteryDialog_->exec() != QDialog::Accepted)
        return;
    // The engine stores it; the list selects it once it is in.
    newBatteryTicket_ = engine_->AddBattery(MainCommands::NewBatteryFromInput(newBatteryDialog_->Input()), proposal);
}

void TMainForm::MenuSearchClick()
{
    if (findAccuDialog_->exec() != QDialog::Accepted)
        return;
    database_->ReopenBatteries(findAccuDialog_->Position());
    DatabasePageControl->setCurrentWidget(TabSheetAkkus);
    BatteryDBGrid->setFocus();
}

void TMainForm::MenuDeleteAkkuClick()
{
    const int id = database_->SelectedBatteryID();
    const auto answer = QMessageBox::question(this, MainCommands::DeleteBatteryCaption(),
                                              MainCommands::DeleteBatteryQuestion(id),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    engine_->DeleteBattery(id);
}

void TMainForm::MenuDeleteServiceClick()
{
    const int id = database_->SelectedServiceID();
    const auto answer = QMessageBox::question(this, MainCommands::DeleteServiceCaption(),
                                              MainCommands::DeleteServiceQuestion(),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes || id == 0)
        return;
    engine_->DeleteService(id);
}

// ---- options and about box --------------------------------------------------------------

void TMainForm::MenuOptionsClick()
{
    optionsDialog_->SetTexts(MainCommands::CurrentOptions(*database_, *TheTimer));
    optionsDialog_->SetClockNote(PacesText(engine_->Paces(), TheTimer->interval()));
    optionsDialog_->SetDevices(Ohmrida::SerialPorts::ListDevices());
    optionsDialog_->SetPorts(Ohmrida::SerialPorts::Assignment());
    optionsDialog_->SetDatabase(storedDatabaseChoice_, database_->DatabaseFile());
    optionsDialog_->SetNotices(notifications_->Options());
    if (optionsDialog_->exec() != QDialog::Accepted)
        return;
    notifications_->SetOptions(optionsDialog_->Notices());
    if (settingsWriter_)
        settingsWriter_->Write([notices = notifications_->Options()](QSettings &settings) { notices.Save(settings); });
    Ohmrida::SerialPorts::AssignAll(optionsDialog_->Ports());
    if (settingsWriter_) {
        settingsWriter_->Write([ports = Ohmrida::SerialPorts::Assignment()](QSettings &settings) {
            PortSettings::Save(settings, ports);
        });
        // Taken at the next start of either program; the dialog checked it.
        QString choice, error;
        if (!DataLocation::CheckChoice(optionsDialog_->Database(), choice, error))
            throw DatabaseError(error);
        storedDatabaseChoice_ = choice;
        settingsWriter_->Write([choice](QSettings &settings) {
            QString unused;
            DataLocation::StoreChoice(settings, choice, unused);
        });
    }
    // A bad field ends the command there; what was taken before it is kept,
    // in the settings file too.
    struct KeepOptions {
        TMainForm &window;
        ~KeepOptions() { window.SaveOptions(); }
    } keep{*this};
    MainCommands::ApplyOptions(optionsDialog_->Texts(), *database_, *TheTimer);
}

void TMainForm::MenuInfoClick()
{
    infoDialog_->exec();
}

// ---- treatments ----------------------------------------------------------------------------

void TMainForm::Timer()
{
    // The engine polls on its own thread; the menus follow when it is done.
    engine_->Tick();
}

void TMainForm::MenuStopServiceClick()
{
    // A running treatment is stopped only when the user says so twice;
    // Enter keeps it running. An ended one's page just closes.
    const int ticket = livePages_->ActiveTicket();
    for (const TreatmentInfo &treatment : engine_->Treatments()) {
        if (treatment.Ticket != ticket || treatment.State == Service::Ended)
            continue;
        QMessageBox box(QMessageBox::Question, QStringLiteral("Behandlung abbrechen"),
                        QStringLiteral("Die Behandlung von Akku %1 an %2 läuft noch. Abbrechen?")
                            .arg(treatment.BatteryID)
                            .arg(QString::fromStdString(treatment.Terminal)),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setInformativeText(QStringLiteral("Das Ladegerät wird angehalten, der laufende Schritt als "
                                              "\"abgebrochen\" gespeichert."));
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Behandlung &abbrechen"));
        box.button(QMessageBox::No)->setText(QStringLiteral("&Weiterlaufen lassen"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes || livePages_->ActiveTicket() != ticket)
            return;
    }
    // The engine stops the treatment of the page active now; the page goes and
    // the battery's commands come back when it is done.
    ExecuteStopServiceCommand(*engine_, *livePages_);
    ScheduleUpdateMenus();
}

void TMainForm::MenuStartServiceClick()
{
    TBRASKDataModule::Battery battery;
    database_->ReadSelectedBattery(battery);
    if (!ExecuteStartServiceCommand(*selectServiceDialog_, *engine_, database_->SelectedBatteryID(),
                                    battery.Capacity))
        return;
    // Until the next UpdateMenus sees the treatment, the battery is not
    // started or deleted again.
    Action(::Command::StopService)->setEnabled(true);
    for (::Command command : {::Command::StartService, ::Command::DeleteAkku, ::Command::DeleteService})
        Action(command)->setEnabled(false);
}

void TMainForm::ShowBatteryPage()
{
    MenuGotoAkkusClick();
}

QPrinter &TMainForm::Printer()
{
    if (!printer_)
        printer_ = std::make_unique<QPrinter>();
    return *printer_;
}

::Richie &TMainForm::TextBuffer()
{
    return *richie_;
}
