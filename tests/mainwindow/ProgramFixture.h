#pragma once
// The whole program on its own temporary database, shown offscreen, and a
// driver that answers the modal dialogs and message boxes as they appear.

#include "mainwindow/Startup.h"

#include <QMessageBox>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

#include <deque>
#include <functional>
#include <memory>

class QDialog;
class TMainForm;
class TBRASKDataModule;

class Program {
public:
    Program();
    ~Program();
    TMainForm &Form() const;
    TBRASKDataModule &Db() const;
    TBraskon &Parts() const { return *braskon_; }
    QString Directory() const { return dir_.path(); }
    // Ends the program's objects as the program end does.
    void Destroy();

    // Stores a battery directly and returns its ID.
    int AddBattery(int id, int capacity = 600, const QString &brand = QStringLiteral("Akku"));
    int BatteryCount() const;
    int SelectedBatteryID() const;

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
    int dialogsHandled = 0;
    int unexpectedDialogs = 0;

    int Failures() const;   // "Ausführung fehlgeschlagen!" boxes seen

private:
    void Poll();
    QTimer timer_;
    std::deque<DialogHandler> handlers_;
    std::deque<QMessageBox::StandardButton> answers_;
};
