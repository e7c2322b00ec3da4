#pragma once
// One long piece of the window's work (an export of a long recording) run on
// a thread of its own, so the window keeps answering. Work that takes longer
// than ProgressDelayMs shows a progress bar with "Abbrechen"; a cancel is
// passed to the work, which stops before its next chunk. When the work is
// over, Finished says how (on the window thread), and the thread, with its
// database connection, ends.

#include "export/StreamedExport.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

class QProgressDialog;
class QTimer;
class QWidget;

class TLongWork : public QObject {
    Q_OBJECT
public:
    static constexpr int ProgressDelayMs = 1000;
    using Work = std::function<void(const StreamedExport::Job &job)>;

    // Starts the work at once; the progress bar (window-modal on `window`)
    // carries `label`.
    TLongWork(QWidget *window, const QString &label, Work work, int progressDelayMs = ProgressDelayMs);
    // Cancels the work and waits for it.
    ~TLongWork() override;

    void Cancel() { cancel_ = true; }
    bool Running() const { return running_; }

signals:
    // error: the German text of a failure; empty when done or cancelled.
    void Finished(bool cancelled, const QString &error);

private:
    void progressed(qint64 done, qint64 total);

    std::atomic<bool> cancel_{false};
    bool running_ = true;
    QProgressDialog *progress_;   // owned by the window, deleted with this work
    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QTimer> showTimer_;
};
