#pragma once
// The program's windows, data module and managers, created in their start-up
// order and destroyed safely. The braskon program and the window tests build
// the whole program through this class.

#include <QString>

#include <memory>
#include <string>

class SqlStore;
class TBRASKDataModule;
class TMainForm;
class TSelectServiceDialog;
class TTreatmentEngine;

class TBraskon {
public:
    // Creates, in this order: the database store and the data module on it,
    // the treatment engine on the same store (its service manager creates
    // the log file; it owns the terminal registry and the ports), and the
    // main window with its dialogs on both.
    // Throws DatabaseError when the database cannot be opened or is incomplete.
    TBraskon(const QString &databaseDirectory, const std::string &logPath = "log.txt");
    ~TBraskon();
    TBraskon(const TBraskon &) = delete;
    TBraskon &operator=(const TBraskon &) = delete;

    TMainForm &MainForm() const { return *mainForm_; }
    TBRASKDataModule &DataModule() const { return *dataModule_; }
    TTreatmentEngine &Engine() const { return *engine_; }
    TSelectServiceDialog &SelectServiceDialog() const;

private:
    // Declared in the order of creation; destroyed window first.
    std::unique_ptr<TBRASKDataModule> dataModule_;
    std::unique_ptr<TTreatmentEngine> engine_;
    std::unique_ptr<TMainForm> mainForm_;
};
