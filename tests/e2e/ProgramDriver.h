#pragma once
// Drives the whole braskon program, as its start-up builds it, through its real
// widgets and modal dialogs (end-to-end tests and the live screenshot).

#include "mainwindow/Startup.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>

class QAction;
class QDialog;
class QMenuBar;
class TAccuControlForm;
class TBRASKDataModule;
class TMainForm;

namespace E2e {

// Processes events until the condition holds; false after the deadline.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

// Whether braskon-sim was built; the tests that need it are skipped otherwise.
bool SimulatorBuilt();

// A battery of `capacity` mAh, NMH, 4 cells, inserted straight into the database; its ID.
int InsertBattery(TBRASKDataModule& db, int capacity = 300);

// Answers modal dialogs as they come up: a handler returns true once it has
// closed the dialog, false to be asked again at the next poll. A dialog
// without a handler, and every message box, is recorded and rejected.
class ModalDriver : public QObject {
public:
    using DialogHandler = std::function<bool(QDialog*)>;

    ModalDriver();
    void OnDialog(DialogHandler handler) { handlers_.push_back(std::move(handler)); }
    bool AllHandled() const { return handlers_.empty(); }

    // Captions and texts of unexpected dialogs and of every message box.
    QStringList unexpected;

private:
    void Poll();
    QTimer timer_;
    std::deque<DialogHandler> handlers_;
};

// The action of a menu-bar command found by the texts the user reads
// ("&Service", "&Starten..."); nullptr when there is none.
QAction* MenuCommand(const QMenuBar& menuBar, const QString& menu, const QString& item);

// The new-battery dialog's entries; type is the TypCombo row: 0 NC, 1 NMH, 2 Blei.
struct NewBattery {
    QString capacity;
    int type = 1;
    QString cells, brand;
};

// The selection dialog's "Standard" page: terminal, program name and currents.
enum class Current { C10, CThird, C };
struct StandardTreatment {
    QString terminal, programName;
    Current charge = Current::C10, discharge = Current::C10;
};

// The program on a temporary database directory (log file there too), shown.
class Program {
public:
    Program();
    ~Program();
    TBraskon& Parts() const { return *braskon_; }
    // Ends the program as quitting does; the directory and its files stay.
    void Close() { braskon_.reset(); }
    TMainForm& Form() const;
    QString Directory() const { return dir_.path(); }

    // Insert on the battery list, the dialog typed and accepted; the selected
    // battery's ID afterwards (0 when the list is empty).
    int CreateBatteryWithInsertKey(ModalDriver& driver, const NewBattery& battery);
    // "Service > Starten..." filled in after the port search; the new page's
    // live window, nullptr when no page was added.
    TAccuControlForm* StartTreatment(ModalDriver& driver, const StandardTreatment& treatment,
                                     int timeoutMs);

private:
    QTemporaryDir dir_;
    std::unique_ptr<TBraskon> braskon_;
};

} // namespace E2e
