#include "mainwindow/Startup.h"

#include "mainwindow/Mainform.h"

#include "database/DatabaseError.h"
#include "database/Datamodule.h"
#include "database/OwnerProcess.h"
#include "database/SqlStore.h"
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
    // One store, one connection per thread: the windows read through theirs,
    // the engine writes through its own.
    const auto store = std::make_shared<SqlStore>(databaseDirectory);
    dataModule_ = std::make_unique<TBRASKDataModule>(store);
    engine_ = std::make_unique<TTreatmentEngine>(store, logPath);
    // The recorder samples with the thresholds of the options dialog.
    engine_->SetSamplingThresholds(dataModule_->MinDeltaU(), dataModule_->MinDeltaI());
    QObject::connect(dataModule_.get(), &TBRASKDataModule::SamplingThresholdsChanged, engine_.get(),
                     &TTreatmentEngine::SetSamplingThresholds);
    mainForm_ = std::make_unique<TMainForm>(*dataModule_, *engine_, [this](const std::string &terminalName) {
        return RecordedByOtherProcess(*dataModule_, terminalName);
    });
}

TBraskon::~TBraskon()
{
    // The window goes first, then nothing is fed by the engine; the engine
    // finishes an exchange under way and drops the treatments without
    // telling the chargers.
    mainForm_.reset();
    engine_.reset();
    dataModule_.reset();
}

TSelectServiceDialog &TBraskon::SelectServiceDialog() const
{
    return mainForm_->SelectServiceDialog();
}
