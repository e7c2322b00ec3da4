#pragma once
// The program's windows, data module and managers, created in their start-up
// order and destroyed safely. The braskon program and the window tests build
// the whole program through this class.

#include <QString>

#include <memory>
#include <string>

class SqlStore;
class TBRASKDataModule;
class TDiagramPropertyDialog;
class TFindAccuDialog;
class TInfoDialog;
class TMainForm;
class TNewBatteryDialog;
class TOptionsDialog;
class TSelectServiceDialog;
class TTreatmentEngine;

class TBraskon {
public:
    // Creates, in this order: the main window, the database store and the
    // data module on it, the diagram property dialog, the new-battery dialog,
    // the treatment selection dialog, the treatment engine on the same store
    // (its service manager creates the log file; it owns the terminal
    // registry and the ports), the about box, the logger dialog, the find
    // dialog and the options dialog, and links them to the main window.
    // Throws DatabaseError when the database cannot be opened or is incomplete.
    TBraskon(const QString &databaseDirectory, const std::string &logPath = "log.txt");
    ~TBraskon();
    TBraskon(const TBraskon &) = delete;
    TBraskon &operator=(const TBraskon &) = delete;

    TMainForm &MainForm() const { return *mainForm_; }
    TBRASKDataModule &DataModule() const { return *dataModule_; }
    TTreatmentEngine &Engine() const { return *engine_; }
    TNewBatteryDialog &NewBatteryDialog() const { return *newBatteryDialog_; }
    TFindAccuDialog &FindAccuDialog() const { return *findAccuDialog_; }
    TOptionsDialog &OptionsDialog() const { return *optionsDialog_; }
    TInfoDialog &InfoDialog() const { return *infoDialog_; }
    TSelectServiceDialog &SelectServiceDialog() const { return *selectServiceDialog_; }

private:
    std::unique_ptr<TMainForm> mainForm_;
    std::unique_ptr<TBRASKDataModule> dataModule_;
    std::unique_ptr<TTreatmentEngine> engine_;
    // Dialogs are children of the main window (modal over it, deleted with it).
    TDiagramPropertyDialog *diagramPropertyDialog_ = nullptr;
    TNewBatteryDialog *newBatteryDialog_ = nullptr;
    TSelectServiceDialog *selectServiceDialog_ = nullptr;
    TInfoDialog *infoDialog_ = nullptr;
    TFindAccuDialog *findAccuDialog_ = nullptr;
    TOptionsDialog *optionsDialog_ = nullptr;
};
