#include "mainwindow/SettingsWriter.h"

#include <memory>

TSettingsWriter::TSettingsWriter(const QSettings &settings, QObject *parent)
    : QObject(parent), worker_(new QObject), fileName_(settings.fileName()), format_(settings.format())
{
    thread_.setObjectName(QStringLiteral("settings writer"));
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
}

TSettingsWriter::~TSettingsWriter()
{
    // The quit is queued behind the changes, so every one of them is written.
    QMetaObject::invokeMethod(worker_, [this] { thread_.quit(); }, Qt::QueuedConnection);
    thread_.wait();
}

void TSettingsWriter::Write(Change change)
{
    QMetaObject::invokeMethod(
        worker_,
        [this, change = std::move(change)] {
            // One QSettings per change: it reads the file as other programs
            // (braskon-cli, another window) may have left it, and adds this change.
            QSettings settings(fileName_, format_);
            change(settings);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                emit WriteFailed(QStringLiteral("Die Einstellungen k\u00f6nnen nicht in %1 gespeichert werden.")
                                     .arg(fileName_));
        },
        Qt::QueuedConnection);
}
