#pragma once
// The whole program on its own temporary database, shown offscreen, and a
// driver that answers the modal dialogs and message boxes as they appear.

#include "mainwindow/Mainform.h"
#include "mainwindow/Startup.h"

#include "TestRows.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>

class Program {
public:
    Program();
    ~Program() { Destroy(); }
    TMainForm &Form() const { return braskon_->MainForm(); }
    TBRASKDataModule &Db() const { return braskon_->DataModule(); }
    TBraskon &Parts() const { return *braskon_; }
    QString Directory() const { return dir_.path(); }
    void Destroy() { braskon_.reset(); }   // ends the program's objects as the program end does
    int BatteryCount() const { return Db().BatteryQuery()->rowCount(); }
    int SelectedBatteryID() const { return Db().BatteryQuery()->currentValue(QStringLiteral("F_ID")).toInt(); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<TBraskon> braskon_;
};

class ModalDriver : public QObject {
public:
    struct Message {
        QString caption, text;
        QMessageBox::Icon icon;
    };
    using DialogHandler = std::function<void(QDialog *)>;

    ModalDriver();
    // Handlers for the next dialogs, in order; a dialog without one is
    // rejected and counted as unexpected.
    void OnDialog(DialogHandler handler) { handlers_.push_back(std::move(handler)); }
    // Answers for the next message boxes; without one a box is closed with
    // its escape (or only) button.
    void Answer(QMessageBox::StandardButton button) { answers_.push_back(button); }

    QVector<Message> messages;
    int unexpectedDialogs = 0;
    int Failures() const;   // "Ausführung fehlgeschlagen!" boxes seen

private:
    void Poll();
    QTimer timer_;
    std::deque<DialogHandler> handlers_;
    std::deque<QMessageBox::StandardButton> answers_;
};
