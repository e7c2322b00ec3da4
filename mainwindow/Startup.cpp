#include "mainwindow/Startup.h"

#include "mainwindow/Dialogs.h"
#include "mainwindow/Mainform.h"

#include "database/DatabaseError.h"
#include "database/Datamodule.h"
#include "database/OwnerProcess.h"
#include "database/SqlStore.h"
#include "diagrams/Diagdocs.h"
#include "diagrams/Diagpropdlg.h"
#include "mainwindow/Kestrixdlg.h"
#include "livecontrol/Selservicedlg.h"
#include "treatment/TreatmentEngine.h"

namespace {

// Another process on this machine records on the terminal: the registry of
// running treatments names a live owner here that is not this process. (A
// recorder on another machine drives that machine's ports, not ours.)
bool RecordedByOtherProcess(TBRASKDataModule &database, const std::string &terminalName)
{
    const QString name = QString::fromStdString(terminalName);
    try {
        for (const TBRASKDataModule::RunningTreatment &running : database.RunningTreatments()) {
            if (running.Terminal == name && running.Host == OwnerProcess::HostName()
                && running.Pid != OwnerProcess::CurrentPid() && TBRASKDataModule::OwnerAlive(running))
                return true;
        }
    } catch (const DatabaseError &) {
        // Unreadable registry: the terminal stays offered; the start itself
        // still refuses a terminal another process holds.
    }
    return false;
}

} // namespace

TBraskon::TBraskon(const QString &databaseDirectory, const std::string &logPath)
{
    mainForm_ = std::make_unique<TMainForm>();
    // One store, one connection per thread: the windows read through theirs,
    // the engine writes through its own.
    const auto store = std::make_shared<SqlStore>(databaseDirectory);
    dataModule_ = std::make_unique<TBRASKDataModule>(store);
    mainForm_->SetDataModule(dataModule_.get());
    diagramPropertyDialog_ = new TDiagramPropertyDialog(mainForm_.get());
    mainForm_->SetDiagramCommands(new TDiagramCommands(mainForm_->DiagramTab, mainForm_->PopupDiagrams,
                                                       dataModule_.get(), diagramPropertyDialog_,
                                                       mainForm_.get()));
    newBatteryDialog_ = new TNewBatteryDialog(mainForm_.get());
    mainForm_->SetNewBatteryDialog(newBatteryDialog_);
    // The dialog asks the engine to search the ports and leaves out terminals
    // in use, by this process or another one here; the engine is created
    // right after it.
    selectServiceDialog_ = new TSelectServiceDialog(
        [this] { return engine_ ? engine_->SearchTerminals() : 0; },
        [this](const std::string &terminalName) {
            return (engine_ && engine_->HasTerminal(terminalName))
                   || RecordedByOtherProcess(*dataModule_, terminalName);
        },
        mainForm_.get());
    mainForm_->SetSelectServiceDialog(selectServiceDialog_);
    engine_ = std::make_unique<TTreatmentEngine>(store, logPath);
    QObject::connect(engine_.get(), &TTreatmentEngine::TerminalsFound, selectServiceDialog_,
                     &TSelectServiceDialog::TerminalsFound);
    QObject::connect(engine_.get(), &TTreatmentEngine::SearchFinished, selectServiceDialog_,
                     &TSelectServiceDialog::SearchFinished);
    // The recorder samples with the thresholds of the options dialog.
    engine_->SetSamplingThresholds(dataModule_->MinDeltaU(), dataModule_->MinDeltaI());
    QObject::connect(dataModule_.get(), &TBRASKDataModule::SamplingThresholdsChanged, engine_.get(),
                     &TTreatmentEngine::SetSamplingThresholds);
    mainForm_->SetTreatmentEngine(engine_.get());
    infoDialog_ = new TInfoDialog(mainForm_.get());
    mainForm_->SetInfoDialog(infoDialog_);
    mainForm_->SetKestrixDialog(new TKestrixDialog(*engine_, *dataModule_, mainForm_.get()));
    findAccuDialog_ = new TFindAccuDialog(mainForm_.get());
    mainForm_->SetFindAccuDialog(findAccuDialog_);
    optionsDialog_ = new TOptionsDialog(mainForm_.get());
    mainForm_->SetOptionsDialog(optionsDialog_);
}

TBraskon::~TBraskon()
{
    // The engine goes first: it finishes an exchange under way and drops the
    // treatments without telling the chargers; then nothing feeds the window.
    if (mainForm_)
        mainForm_->SetTreatmentEngine(nullptr);
    engine_.reset();
    mainForm_.reset();
    dataModule_.reset();
}
