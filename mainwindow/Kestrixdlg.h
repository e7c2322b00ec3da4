#pragma once
// TKestrixDialog: the modal dialog of the logger readout. Every showing asks
// the treatment engine for a new readout of the selected battery; the dialog
// shows its message or its progress and closes with its result when it has
// ended (Accepted for OK, Rejected for cancel). "Abbrechen", Escape and the
// close box all ask the readout to stop; the dialog then waits for its end
// before it closes, so a transfer is never cut off in the middle of a record.

#include "treatment/KestrixReadout.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class TBRASKDataModule;
class TTreatmentEngine;

class TKestrixDialog : public QDialog {
    Q_OBJECT
public:
    TKestrixDialog(TTreatmentEngine &engine, TBRASKDataModule &data, QWidget *parent = nullptr);
    ~TKestrixDialog() override;

    // The readout of the current showing: whether it runs, and how it ended.
    bool Running() const { return running_; }
    bool StopAsked() const { return stopAsked_; }
    const LoggerOutcome &Outcome() const { return outcome_; }
    int Position() const { return position_; }

    // Asks the readout to stop.
    void ButtonClick();
    // The readout's display updates; a failure's text names the logger's
    // port and how far the readout got.
    void ShowInfo(const QString &text);
    void ShowProgress(int maximum, int position);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QLabel *InfoText;
    QProgressBar *ProgressBar;
    QPushButton *Button;
    void FormShow();
    void ReadoutFinished(const LoggerOutcome &outcome);

    TTreatmentEngine &engine_;
    TBRASKDataModule &data_;
    bool running_ = false;
    bool stopAsked_ = false;
    int position_ = 0;
    LoggerOutcome outcome_;
};
