#include "mainwindow/LongWork.h"

#include <QMetaObject>
#include <QProgressDialog>
#include <QTimer>

TLongWork::TLongWork(QWidget *window, const QString &label, Work work, int progressDelayMs)
    : progress_(new QProgressDialog(label, QStringLiteral("Abbrechen"), 0, 1000, window)),
      showTimer_(std::make_unique<QTimer>())
{
    progress_->setObjectName(QStringLiteral("LongWorkProgress"));
    progress_->setWindowTitle(QStringLiteral("Bitte warten"));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    // Shown by the timer below, not by the dialog's own estimate.
    progress_->setMinimumDuration(24 * 3600 * 1000);
    progress_->hide();
    connect(progress_, &QProgressDialog::canceled, this, [this] { cancel_ = true; });
    showTimer_->setSingleShot(true);
    connect(showTimer_.get(), &QTimer::timeout, this, [this] {
        if (running_)
            progress_->show();
    });
    showTimer_->start(progressDelayMs);

    auto failure = std::make_shared<QString>();
    auto cancelled = std::make_shared<bool>(false);
    StreamedExport::Job job;
    job.cancel = &cancel_;
    job.progress = [this](qint64 done, qint64 total) {
        QMetaObject::invokeMethod(this, [this, done, total] { progressed(done, total); }, Qt::QueuedConnection);
    };
    thread_.reset(QThread::create([work = std::move(work), job, failure, cancelled] {
        try {
            work(job);
        } catch (const StreamedExport::Cancelled &) {
            *cancelled = true;
        } catch (const ExportError &error) {
            *failure = error.message();
        } catch (const std::exception &error) {
            *failure = QString::fromUtf8(error.what());
        }
    }));
    thread_->setObjectName(QStringLiteral("LongWork"));
    connect(thread_.get(), &QThread::finished, this, [this, failure, cancelled] {
        running_ = false;
        showTimer_->stop();
        progress_->hide();
        emit Finished(*cancelled, *failure);
    });
    thread_->start();
}

TLongWork::~TLongWork()
{
    cancel_ = true;
    if (thread_) {
        // The finished notice must not reach a half-destroyed object.
        disconnect(thread_.get(), nullptr, this, nullptr);
        thread_->wait();
    }
    delete progress_;
}

void TLongWork::progressed(qint64 done, qint64 total)
{
    if (!running_ || total <= 0)
        return;
    progress_->setValue(int(std::min<qint64>(1000, done * 1000 / total)));
}
