#pragma once
// TReadKestrixThread: reads the recording of the Kestrix logger into the
// database as a new treatment of the selected battery, on a worker thread of
// its own. Serial exchanges and database writes run on that thread; the two
// display updates are signals, which reach receivers on the main thread
// queued. Shared by the logger dialog and the command line.

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>

#include "database/Records.h"

class TBRASKDataModule;
namespace Ohmrida {
class Terminal;
class TerminalManager;
}

class TReadKestrixThread : public QThread {
    Q_OBJECT
public:
    // MsgFailed: a database error stopped the transfer; what was written stays.
    // MsgReadFailed: a value could not be read (no, short or garbled answer,
    // also after one retry); what was read stays, the step being read and the
    // later ones are "abgebrochen", and the result is still OK (there is a new
    // treatment to show).
    enum Message {
        MsgInitializing = 0, MsgNoLogger = 1, MsgMismatch = 2, MsgEmpty = 3, MsgFailed = 4, MsgReadFailed = 5
    };
    // Modal results handed to the dialog.
    enum Result { ResultOK = 1, ResultCancel = 2 };
    static constexpr int MaxPhases = 10;

    static QString MessageText(int messageIndex);
    // The same, with the count of values read for MsgReadFailed.
    static QString MessageText(int messageIndex, int position, int maximum);

    // The manager supplies the ports searched for the logger; the data module
    // the selected battery and the records. Both must outlive the thread.
    TReadKestrixThread(Ohmrida::TerminalManager &terminals, TBRASKDataModule &data, QObject *parent = nullptr);
    // Asks the transfer to stop and waits for the thread.
    ~TReadKestrixThread() override;

    // Asks the thread to stop: before the next phase and the next value, or,
    // on a failure path, while its message is shown. Safe from any thread.
    void RequestTermination();
    bool TerminationRequested() const { return stopRequested_.load(); }

    int MessageIndex() const { return messageIndex_.load(); }
    int ResultCode() const { return resultCode_.load(); }
    int ProgressMax() const { return progressMax_.load(); }
    int ProgressPosition() const { return progressPosition_.load(); }
    // The new treatment's ID, 0 while none was created.
    int ServiceID() const { return serviceID_.load(); }
    // The database's message after MsgFailed.
    QString ErrorText() const;

signals:
    // Show the message of messageIndex, hide the progress.
    void ShowInfo(int messageIndex);
    // Show the progress, hide the message.
    void ShowProgress(int maximum, int position);

protected:
    void run() override;

private:
    struct Recording;
    // The message that ends the run, MsgInitializing when the transfer ran.
    int readOut();
    // False when a value could not be read.
    bool transfer(Ohmrida::Terminal &logger, const Recording &recording, int batteryID);
    bool readValue(Ohmrida::Terminal &logger, int32_t &millivolts);
    void markAborted(const Recording &recording, StepRecord step, int valuesRead, int interval, int phase,
                     int phases, int function);
    void showInfo(int messageIndex);
    void waitForTermination();

    Ohmrida::TerminalManager &terminals_;
    TBRASKDataModule &data_;

    std::atomic<int> messageIndex_{MsgInitializing};
    std::atomic<int> resultCode_{ResultCancel};
    std::atomic<int> progressMax_{0};
    std::atomic<int> progressPosition_{0};
    std::atomic<int> serviceID_{0};
    mutable QMutex errorMutex_;
    QString errorText_;

    std::atomic<bool> stopRequested_{false};
    QMutex stopMutex_;
    QWaitCondition stopChanged_;
};
