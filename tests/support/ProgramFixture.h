#pragma once
// The whole program, as its start-up builds it, on its own temporary database,
// shown offscreen; a driver that answers the modal dialogs and message boxes as
// they appear; and the user's flows through the real widgets (window, export
// and end-to-end tests, the live screenshot).

#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include "tests/support/TestRows.h"
#include "tests/support/WindowParts.h"

#include <QMessageBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>
#include <type_traits>

class QMenuBar;
class TAccuControlForm;

// Whether braskon-sim was built; the tests that need it are skipped otherwise.
bool SimulatorBuilt();

// The action of a menu-bar command found by the texts the user reads
// ("&Service", "&Starten..."); nullptr when there is none.
QAction *MenuCommand(const QMenuBar &menuBar, const QString &menu, const QString &item);

class ModalDriver : public QObject {
public:
    struct Message {
        QString caption, text;
        QMessageBox::Icon icon;
        QString detail;   // the informative text below
    };
    using DialogHandler = std::function<void(QDialog *)>;

    ModalDriver();
    // Handlers for the next dialogs, in order; a dialog without one is
    // rejected and counted as unexpected. A handler returning false is asked
    // again at the next poll (its dialog is not ready yet).
    template <class Handler>
    void OnDialog(Handler handler)
    {
        if constexpr (std::is_void_v<std::invoke_result_t<Handler, QDialog *>>)
            handlers_.push_back([handler](QDialog *dialog) { return handler(dialog), true; });
        else
            handlers_.push_back(std::move(handler));
    }
    // Answers for the next message boxes; without one a box is closed with
    // its escape (or only) button.
    void Answer(QMessageBox::StandardButton button) { answers_.push_back(button); }
    bool AllHandled() const { return handlers_.empty(); }

    QVector<Message> messages;
    int unexpectedDialogs = 0;
    int Failures() const;   // "Ausführung fehlgeschlagen!" boxes seen
    QString Report() const;   // the message boxes and unexpected dialogs, for a failing check

private:
    void Poll();
    QTimer timer_;
    QDialog *handling_ = nullptr;   // a handler may spin the event loop: not asked twice for its dialog
    QStringList unexpectedTitles_;
    std::deque<std::function<bool(QDialog *)>> handlers_;
    std::deque<QMessageBox::StandardButton> answers_;
};

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

class Program {
public:
    // On its own temporary folder, or on the database given (a PostgreSQL URL).
    explicit Program(const QString &database = QString());
    ~Program() { Destroy(); }
    TMainForm &Form() const { return braskon_->MainForm(); }
    TBRASKDataModule &Db() const { return braskon_->DataModule(); }
    TBraskon &Parts() const { return *braskon_; }
    QString Directory() const { return dir_.path(); }
    void Destroy() { braskon_.reset(); }   // ends the program's objects as quitting does; the files stay
    int BatteryCount() const { return Db().BatteryQuery()->rowCount(); }
    int SelectedBatteryID() const { return Db().BatteryQuery()->currentValue(QStringLiteral("F_ID")).toInt(); }

    // Insert on the battery list, the dialog typed and accepted; the selected
    // battery's ID afterwards (0 when the list is empty).
    int CreateBatteryWithInsertKey(ModalDriver &driver, const NewBattery &battery);
    // "Service > Starten..." filled in after the port search; the new page's
    // live window, nullptr when no page was added.
    TAccuControlForm *StartTreatment(ModalDriver &driver, const StandardTreatment &treatment, int timeoutMs);

private:
    QTemporaryDir dir_;
    std::unique_ptr<TBraskon> braskon_;
};
