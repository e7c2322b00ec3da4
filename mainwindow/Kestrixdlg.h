#pragma once
// TKestrixDialog: the modal dialog of the logger readout. Every showing starts
// a new TReadKestrixThread; the dialog shows its message or its progress and
// closes with the thread's result when the thread has ended (Accepted for OK,
// Rejected for cancel). "Abbrechen", Escape and the close box all ask the
// thread to stop; the dialog then waits for the thread before it closes, so a
// transfer is never cut off in the middle of a record.

#include <QDialog>

#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class TBRASKDataModule;
class TReadKestrixThread;
namespace Ohmrida {
class TerminalManager;
}

class TKestrixDialog : public QDialog {
    Q_OBJECT
public:
    TKestrixDialog(Ohmrida::TerminalManager &terminals, TBRASKDataModule &data, QWidget *parent = nullptr);
    ~TKestrixDialog() override;

    QLabel *InfoText;
    QProgressBar *ProgressBar;
    QPushButton *Button;

    // The thread of the current showing, nullptr before the first one.
    TReadKestrixThread *Thread() const { return thread_.get(); }

    // Asks the thread to stop.
    void ButtonClick();
    // The thread's display updates, on the main thread.
    void ShowInfo(int messageIndex);
    void ShowProgress(int maximum, int position);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void FormShow();
    void ThreadFinished();
    bool ThreadRunning() const;

    Ohmrida::TerminalManager &terminals_;
    TBRASKDataModule &data_;
    std::unique_ptr<TReadKestrixThread> thread_;
    bool endHandled_ = true;
};
