#pragma once
// TKestrixReadout: reads the recording of the Kestrix logger into the
// database as a new treatment of the battery the user selected. A worker of
// the treatment engine: it lives on the engine thread, finds the logger
// through the engine's port search, writes through the engine's record store,
// and reads the values a few at a time between the engine's other work, so
// treatments go on being polled meanwhile. Its display updates and its end
// are signals carrying values; the logger dialog and the command line show
// them.

#include "database/Records.h"

#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <memory>

class RecordStore;
class TPortSearch;
namespace Ohmrida {
struct Reply;
class Terminal;
class TerminalManager;
}

// How a readout ended.
struct LoggerOutcome {
    int Result = 2;      // TKestrixReadout::Result
    int Message = 0;     // the message shown last (MsgInitializing when the transfer ran)
    int ServiceID = 0;   // the new treatment, 0 when none was created
    int Position = 0;    // values read
    int Maximum = 0;     // values recorded
    QString Error;       // the database's message after MsgFailed
    // Values left out because their answer was unintelligible or implausible,
    // each with why and its bytes ("Wert 57: Spannung ... (F2 00 ...)").
    QStringList Skipped;
};
Q_DECLARE_METATYPE(LoggerOutcome)

class TKestrixReadout : public QObject {
    Q_OBJECT
public:
    // MsgFailed: a database error stopped the transfer; what was written stays.
    // MsgReadFailed: the logger stopped answering (also after one retry);
    // MsgGarbled: it answered only unintelligibly, MaxGarbledInARow times in a
    // row. In both cases what was read stays, the step being read and the
    // later ones are "abgebrochen", and the result is still OK (there is a new
    // treatment to show). MsgGarbledHeader: the header never came plausible
    // twice alike; nothing is stored.
    //
    // A single unintelligible or implausible value is left out (the logger has
    // moved on to the next one, so its time slot stays empty) and counted.
    enum Message {
        MsgInitializing = 0, MsgNoLogger = 1, MsgMismatch = 2, MsgEmpty = 3, MsgFailed = 4, MsgReadFailed = 5,
        MsgGarbled = 6, MsgGarbledHeader = 7
    };
    static constexpr int MaxGarbledInARow = 5;
    // Modal results handed to the dialog.
    enum Result { ResultOK = 1, ResultCancel = 2 };
    static constexpr int MaxPhases = 10;

    static QString MessageText(int messageIndex);

    // A stop asked for from any thread: before the next phase and the next
    // value, or, on a failure path, while its message is shown.
    using StopFlag = std::shared_ptr<std::atomic<bool>>;

    TKestrixReadout(RecordStore &records, TPortSearch &search, Ohmrida::TerminalManager &terminals,
                    StopFlag stop, QObject *parent = nullptr);
    ~TKestrixReadout() override;

    // Reads the logger into a new treatment of the battery (the user's
    // selection, as stored), sampling with the record store's MinDeltaU.
    void Start(const BatteryRecord &battery);
    // Looks at the stop flag again (a stop asked for while a message is shown).
    void CheckStop();

signals:
    // Show the message of messageIndex as text (a failure names the
    // logger's port and how far the readout got), hide the progress.
    void ShowInfo(int messageIndex, const QString &text);
    // Show the progress, hide the message.
    void ShowProgress(int maximum, int position);
    void Finished(const LoggerOutcome &outcome);

private:
    struct Recording;
    void loggerFound(int port);
    void readHeader();
    // Ok when two plausible readings agree; NoAnswer or Unintelligible.
    Ohmrida::Reply readAgreeingHeader(Recording &recording);
    void beginPhase();
    void readValues();
    // Ok, Unintelligible (a value left out) or NoAnswer (also after a retry).
    Ohmrida::Reply readValue(int32_t &millivolts);
    QString text(int message) const;
    void writeBatch();
    void markAborted(int valuesRead);
    void end(int message);
    void failWith(const std::exception &error);
    bool stopRequested() const { return stop_->load(); }
    void queue(void (TKestrixReadout::*step)());

    RecordStore &records_;
    TPortSearch &search_;
    Ohmrida::TerminalManager &terminals_;
    StopFlag stop_;
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<Ohmrida::Terminal> logger_;
    BatteryRecord battery_;
    LoggerOutcome outcome_;
    QString loggerName_;   // "KESTRIX an COM4"
    QString headerProblem_;
    bool waitingForStop_ = false;
    bool finished_ = false;

    // The phase being read.
    StepRecord step_;
    int phase_ = 0, phases_ = 0, value_ = 0, interval_ = 0, function_ = 0, timeOffset_ = 0, lastVoltage_ = -1;
    int lastRead_ = -1;        // the last value of the phase that was read
    int garbledInARow_ = 0;    // unintelligible values since the last good one
    int minDeltaU_ = 0;
    QVector<Sample> batch_;
    QElapsedTimer batchAge_;
};
